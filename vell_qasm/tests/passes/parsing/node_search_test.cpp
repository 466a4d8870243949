#include "vell_qasm/passes/parsing/node_search.hpp"

#include <gtest/gtest.h>

#include "../front_tree_builders.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {
namespace {

using namespace vell_qasm::testing;

// Finds an identifier named "x"; one named "fail" is a failure of the walk.
class NameSearch : public NodeSearch<NameSearch> {
 public:
  void visit_Identifier(ast::Identifier& node) override {
    if (node.name == "fail") throw ValueError("failed at " + node.name);
    if (node.name == "x") found();
  }
};

TEST(NodeSearch, AFailureOfTheWalkLeavesItWithTheInnermostStatementsPosition) {
  auto failing = gate_on("h", {"fail"});
  failing->span = ast::Span{7, 2, 7, 9};
  auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true), std::vector<ast::StmtPtr>{failing});
  loop->span = ast::Span{6, 0, 8, 1};
  auto root = program({loop});
  try {
    NameSearch().holds(*root);
    FAIL() << "the failure should leave the search";
  } catch (const ValueError& e) {
    ASSERT_TRUE(e.location().has_value());
    EXPECT_EQ(e.location()->line, 7);
    EXPECT_EQ(e.location()->column, 2);
  }
}

// The statement-wise search answers as the whole-program one, wherever the match stands (first,
// last, nested in a block, none), with or without asking ahead for blocks, and a failure leaves
// it the same way.
TEST(NodeSearch, StatementWiseAnswersAsTheWholeProgram) {
  const auto nested = [](const std::string& name) {
    return ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true),
                                     std::vector<ast::StmtPtr>{gate_on("h", {name})});
  };
  struct Case {
    std::vector<ast::NodePtr> statements;
    bool holds;
  };
  const std::vector<Case> cases{
      {{}, false},
      {{gate_on("h", {"x"}), gate_on("h", {"a"})}, true},
      {{gate_on("h", {"a"}), nested("b"), gate_on("cx", {"b", "x"})}, true},
      {{gate_on("h", {"a"}), nested("x"), gate_on("h", {"b"})}, true},
      {{gate_on("h", {"a"}), nested("b"), nullptr, gate_on("h", {"c"})}, false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    auto root = program(cases[i].statements);
    EXPECT_EQ(NameSearch().holds(*root), cases[i].holds);
    for (std::size_t blocks_ahead : {0, 1, 4})
      EXPECT_EQ(NameSearch().holds_statements(*root, 2, 512, blocks_ahead), cases[i].holds);
  }
  auto failing = program({gate_on("h", {"a"}), nested("fail"), gate_on("h", {"x"})});
  EXPECT_THROW(NameSearch().holds_statements(*failing, 8, 1024, 4), ValueError);
}

}  // namespace
}  // namespace vell_qasm::passes::parsing
