#include "vell_qasm/passes/node_whitelist.hpp"

#include <gtest/gtest.h>

#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/passes/node_screening.hpp"

namespace vell_qasm::passes {
namespace {

namespace ast = openqasm3::ast;

TEST(NodeWhitelist, HoldsExactlyTheInitialClasses) {
  const auto& set = *INITIALLY_NODE_WHITELIST;
  EXPECT_EQ(set.size(), 42u);
  for (const ast::NodeClass& member :
       {ast::node_class_of<ast::Program>(), ast::node_class_of<ast::Identifier>(),
        ast::node_class_of<configurations::HwQubit>(), ast::node_class_of<ast::IODeclaration>(),
        ast::node_class_of<ast::ClassicalDeclaration>(), ast::node_class_of<ast::ClassicalAssignment>(),
        ast::node_class_of<ast::QuantumMeasurementStatement>(), ast::node_class_of<ast::Box>(),
        ast::node_class_of<ast::ArrayReferenceType>()})
    EXPECT_TRUE(set.contains(member)) << member.text();
  for (const ast::NodeClass& outsider :
       {ast::node_class_of<ast::Include>(), ast::node_class_of<ast::FunctionCall>(),
        ast::node_class_of<ast::Statement>(), ast::node_class_of<ast::Expression>(),
        ast::node_class_of<ast::ExpressionStatement>(), ast::node_class_of<ast::QuantumGateModifier>(),
        ast::node_class_of<ast::Annotation>()})
    EXPECT_FALSE(set.contains(outsider)) << outsider.text();
}

// qubit[2] q; $1 and q[0] in one gate call; c = measure $1; plus whatever `extra` adds.
programs::ProgramPtr program_with(std::vector<ast::NodePtr> extra) {
  auto q0 = ast::make<ast::IndexedIdentifier>(
      ast::make<ast::Identifier>("q"),
      std::vector<ast::IndexElement>{ast::IndexList{ast::make<ast::IntegerLiteral>(0)}});
  std::vector<ast::NodePtr> statements{
      ast::make<ast::QubitDeclaration>(ast::make<ast::Identifier>("q"), ast::make<ast::IntegerLiteral>(2)),
      ast::make<ast::ClassicalDeclaration>(ast::make<ast::BitType>(nullptr), ast::make<ast::Identifier>("c")),
      ast::make<ast::QuantumGate>(std::vector<ast::Ptr<ast::QuantumGateModifier>>{}, ast::make<ast::Identifier>("cx"),
                                  std::vector<ast::ExprPtr>{},
                                  std::vector<ast::NodePtr>{configurations::create_hw_qubit(1), q0}),
      ast::make<ast::QuantumMeasurementStatement>(ast::make<ast::QuantumMeasurement>(configurations::create_hw_qubit(1)),
                                                  ast::make<ast::Identifier>("c"))};
  statements.insert(statements.end(), extra.begin(), extra.end());
  return std::make_shared<programs::OpenQasmProgram>(ast::make<ast::Program>(std::move(statements), "3.0"));
}

TEST(NodeWhitelist, ScreensTypicalProgramsAndRefusesIncludesAndFunctionCalls) {
  AllowedNodeTypesValidator validator(INITIALLY_NODE_WHITELIST);
  EXPECT_NO_THROW(validator(program_with({})));
  EXPECT_THROW(validator(program_with({ast::make<ast::Include>("stdgates.inc")})), DisallowedNodeTypeException);
  auto call = ast::make<ast::ExpressionStatement>(
      ast::make<ast::FunctionCall>(ast::make<ast::Identifier>("f"), std::vector<ast::ExprPtr>{}));
  EXPECT_THROW(validator(program_with({call})), DisallowedNodeTypeException);
}

TEST(NodeWhitelist, ChangesCountForValidatorsBuiltBefore) {
  AllowedNodeTypesValidator validator(INITIALLY_NODE_WHITELIST);
  auto program = program_with({ast::make<ast::Include>("stdgates.inc")});
  const auto include = ast::node_class_of<ast::Include>();
  INITIALLY_NODE_WHITELIST->insert(include);
  struct Restore {
    ast::NodeClass c;
    ~Restore() { INITIALLY_NODE_WHITELIST->erase(c); }
  } restore{include};
  EXPECT_NO_THROW(validator(program));
}

}  // namespace
}  // namespace vell_qasm::passes
