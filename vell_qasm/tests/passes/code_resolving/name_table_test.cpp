#include "vell_qasm/passes/code_resolving/name_table.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vell_qasm::passes::code_resolving {
namespace {

// Names are numbered in the order first met, whatever the table's growth, and asking for a
// name's slot ahead (on an empty table, before a growth, for a name never inserted) changes no
// answer.
TEST(NameTable, NumbersSurviveGrowthAndPrefetchesChangeNothing) {
  for (const std::size_t count : {0u, 1u, 47u, 48u, 49u, 1000u}) {
    SCOPED_TRACE(count);
    NameTable table;
    table.prefetch("x");
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) names.push_back((i % 3 == 0 ? "v" : "long_name_") + std::to_string(i));
    for (std::size_t i = 0; i < count; ++i) {
      if (i + 4 < count) table.prefetch(names[i + 4]);
      table.prefetch("absent");
      const auto [id, fresh] = table.insert(names[i]);
      EXPECT_EQ(id, i);
      EXPECT_TRUE(fresh);
      // Inserted again, found as it is.
      const auto [again, fresh_again] = table.insert(names[i / 2]);
      EXPECT_EQ(again, i / 2);
      EXPECT_FALSE(fresh_again);
    }
    ASSERT_EQ(table.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(table.find(names[i]), i);
      EXPECT_EQ(table.name(static_cast<std::uint32_t>(i)), names[i]);
    }
    EXPECT_EQ(table.find("absent"), NameTable::kNone);
  }
}

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
