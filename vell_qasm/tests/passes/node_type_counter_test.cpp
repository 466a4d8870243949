#include "vell_qasm/passes/node_type_counter.hpp"

#include <gtest/gtest.h>

#include "front_tree_builders.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"

namespace vell_qasm::passes {
namespace {

using namespace vell_qasm::testing;

TEST(NodeTypeCounter, CountsEveryPlaceByExactClassAlsoWhereGenericWalksDoNotGo) {
  // output int o;  h $0;  switch (i) { case 0 { input int a; } default { x[j]; } }  (with the
  // identifier `shared` standing in two places)
  auto shared = id("shared");
  auto indexed = ast::make<ast::IndexedIdentifier>(
      id("x"), std::vector<ast::IndexElement>{ast::IndexList{id("j"), shared}});
  auto switch_ = ast::make<ast::SwitchStatement>(
      shared, std::vector<ast::SwitchCase>{{{lit(0)}, block({io_decl(ast::IOKeyword::input, "a")})}},
      block({ast::make<ast::QuantumReset>(indexed)}));
  auto root = program({io_decl(ast::IOKeyword::output, "o"),
                       gate("h", {configurations::create_hw_qubit(0)}), switch_});

  NodeTypeCounts counts = count_node_types(*root);
  EXPECT_EQ(counts.of<ast::Program>(), 1u);
  EXPECT_EQ(counts.of<ast::IODeclaration>(), 2u);  // one of them inside a case block
  EXPECT_EQ(counts.of<ast::IntegerLiteral>(), 1u);  // the case label
  EXPECT_EQ(counts.of<configurations::HwQubit>(), 1u);
  // h, o, a, x, j, shared twice: the hardware qubit is not an Identifier here.
  EXPECT_EQ(counts.of<ast::Identifier>(), 7u);
  EXPECT_EQ(counts[ast::node_class_of<ast::Include>()], 0u);
  EXPECT_FALSE(counts.counts().contains(ast::node_class_of<ast::Include>()));

  std::size_t total = 0;
  for (const auto& [node_class, count] : counts.counts()) total += count;
  // Program, 2 IODeclarations, 2 IntTypes, QuantumGate, HwQubit, SwitchStatement, IntegerLiteral,
  // 2 CompoundStatements, QuantumReset, IndexedIdentifier and 7 identifiers.
  EXPECT_EQ(total, 20u);
}

}  // namespace
}  // namespace vell_qasm::passes
