#include "vell_qasm/passes/parsing/node_search.hpp"

#include <gtest/gtest.h>

#include "../front_tree_builders.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {
namespace {

using namespace vell_qasm::testing;

// Finds an identifier of one name; an identifier named "fail" is a failure of the walk.
class NameSearch : public NodeSearch<NameSearch> {
 public:
  explicit NameSearch(std::string name) : name_(std::move(name)) {}
  int met = 0;
  void visit_Identifier(ast::Identifier& node) override {
    ++met;
    if (node.name == "fail") throw ValueError("failed at " + node.name);
    if (node.name == name_) found();
  }

 private:
  std::string name_;
};

TEST(NodeSearch, EndsAtTheFirstMatchFromAnyDepthAndCanSearchAgain) {
  // h a; while (true) { while (true) { h b; } } h c;
  auto loop = [](ast::StmtPtr body) {
    return ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true), std::vector<ast::StmtPtr>{body});
  };
  auto outer = loop(loop(gate_on("h", {"b"})));
  auto root = program({gate_on("h", {"a"}), outer, gate_on("h", {"c"})});
  const std::vector<std::tuple<std::string, bool, int>> table = {
      {"a", true, 2}, {"b", true, 4}, {"c", true, 6}, {"d", false, 6}};
  NameSearch again("b");
  for (const auto& [name, holds, met] : table) {
    NameSearch search(name);
    EXPECT_EQ(search.holds(*root), holds) << name;
    EXPECT_EQ(search.met, met) << name;
    // The walk ended by a match leaves the walker ready for another.
    EXPECT_TRUE(again.holds(*root)) << name;
  }
}

TEST(NodeSearch, AFailureOfTheWalkLeavesItWithTheInnermostStatementsPosition) {
  auto failing = gate_on("h", {"fail"});
  failing->span = ast::Span{7, 2, 7, 9};
  auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true), std::vector<ast::StmtPtr>{failing});
  loop->span = ast::Span{6, 0, 8, 1};
  auto root = program({loop});
  try {
    NameSearch("x").holds(*root);
    FAIL() << "the failure should leave the search";
  } catch (const ValueError& e) {
    ASSERT_TRUE(e.location().has_value());
    EXPECT_EQ(e.location()->line, 7);
    EXPECT_EQ(e.location()->column, 2);
  }
}

}  // namespace
}  // namespace vell_qasm::passes::parsing
