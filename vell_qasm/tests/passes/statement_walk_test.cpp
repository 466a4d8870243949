// Splicing a long list's rewritten statements in place: every mix of dropped, kept-in-size and
// grown statements ends as a list built anew would.
#include "vell_qasm/passes/statement_walk.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "front_tree_builders.hpp"

namespace vell_qasm::passes {
namespace {

using namespace vell_qasm::testing;

std::vector<std::int64_t> values(const std::vector<ast::NodePtr>& list) {
  std::vector<std::int64_t> out;
  for (const auto& node : list) out.push_back(node ? std::static_pointer_cast<ast::IntegerLiteral>(node)->value : -1);
  return out;
}

TEST(StatementSplice, EveryMixEndsAsAListBuiltAnew) {
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    const std::size_t size = random() % 14;
    std::vector<ast::NodePtr> statements;
    for (std::size_t i = 0; i < size; ++i) statements.push_back(lit(static_cast<std::int64_t>(i)));
    // Replaced statements (about one in two), each by none to four nodes; the expected list built anew.
    std::vector<StatementSplice> splices;
    std::vector<ast::NodePtr> replacements;
    std::vector<std::int64_t> expected;
    for (std::size_t i = 0; i < size; ++i) {
      if (random() % 2) {
        expected.push_back(static_cast<std::int64_t>(i));
        continue;
      }
      const std::size_t count = random() % 5;
      splices.push_back(StatementSplice{i, replacements.size(), count});
      for (std::size_t j = 0; j < count; ++j) {
        const auto value = static_cast<std::int64_t>(1000 * (i + 1) + j);
        replacements.push_back(lit(value));
        expected.push_back(value);
      }
    }
    splice_statements(statements, splices, replacements);
    ASSERT_EQ(values(statements), expected) << "round " << round;
  }
}

// A typed list (a block of statements) takes only statements.
TEST(StatementSplice, ATypedListRefusesANonStatement) {
  std::vector<ast::StmtPtr> block{gate_on("h", {"q"})};
  std::vector<StatementSplice> splices{{0, 0, 1}};
  std::vector<ast::NodePtr> replacements{lit(1)};
  EXPECT_ANY_THROW(splice_statements(block, splices, replacements));
}

}  // namespace
}  // namespace vell_qasm::passes
