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

}  // namespace
}  // namespace vell_qasm::passes::parsing
