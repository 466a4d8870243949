#include "vell_qasm/configurations/build_settings.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

namespace vell_qasm::configurations {
namespace {

using Value = BuildSettings::Value;

TEST(BuildSettings, DefaultsEqualTheSameValuesGivenByPositionOrByName) {
  BuildSettings defaults;
  EXPECT_EQ(defaults.max_inclusion_depth(), 100);
  EXPECT_EQ(defaults.optimizations_to_enforce(), std::nullopt);
  EXPECT_EQ(defaults.optimizations_to_skip(), std::nullopt);
  EXPECT_EQ(defaults.validations_to_skip(), std::nullopt);
  EXPECT_EQ(defaults.optimization_level(), 0);
  EXPECT_EQ(defaults, BuildSettings(100, std::nullopt, std::nullopt, std::nullopt, 0));
  EXPECT_EQ(defaults, BuildSettings(BuildSettings::Fields{}));

  BuildSettings named({.optimizations_to_skip = "fold", .optimization_level = 2});
  EXPECT_EQ(named, BuildSettings(100, std::nullopt, "fold", std::nullopt, 2));
}

TEST(BuildSettings, EqualityAndHashGoByEveryFieldInOrder) {
  BuildSettings a(7, "e", "s", "v", 1);
  BuildSettings b(7, "e", "s", "v", 1);
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<BuildSettings>()(a), std::hash<BuildSettings>()(b));

  // Each field on its own makes a difference; none and the empty text are different patterns, and
  // the same text in another pattern field is another record.
  EXPECT_NE(a, BuildSettings(8, "e", "s", "v", 1));
  EXPECT_NE(a, BuildSettings(7, "e", "s", "v", 2));
  EXPECT_NE(a, BuildSettings(7, "s", "e", "v", 1));
  EXPECT_NE(a, BuildSettings(7, std::nullopt, "s", "v", 1));
  EXPECT_NE(BuildSettings(7, ""), BuildSettings(7, std::nullopt));

  std::unordered_set<BuildSettings> keys{a, b, BuildSettings(7, "s", "e", "v", 1), BuildSettings()};
  EXPECT_EQ(keys.size(), 3u);
  EXPECT_TRUE(keys.contains(BuildSettings(7, "e", "s", "v", 1)));
}

TEST(BuildSettings, ToDictKeepsFieldOrderAndBelongsToTheCaller) {
  BuildSettings defaults;
  BuildSettings::Dict expected{{"max_inclusion_depth", Value(std::int64_t{100})},
                               {"optimizations_to_enforce", Value()},
                               {"optimizations_to_skip", Value()},
                               {"validations_to_skip", Value()},
                               {"optimization_level", Value(std::int64_t{0})}};
  EXPECT_EQ(defaults.to_dict(), expected);

  BuildSettings set(3, "[unclosed", "all", "", -1);  // patterns are stored unexamined
  auto dict = set.to_dict();
  EXPECT_EQ(dict[1].second, Value(std::string("[unclosed")));
  EXPECT_EQ(dict[3].second, Value(std::string("")));
  EXPECT_EQ(dict[4].second, Value(std::int64_t{-1}));

  dict[0].second = std::int64_t{1};
  dict.clear();
  EXPECT_EQ(set, BuildSettings(3, "[unclosed", "all", "", -1));
  EXPECT_EQ(set.to_dict().size(), 5u);
}

}  // namespace
}  // namespace vell_qasm::configurations
