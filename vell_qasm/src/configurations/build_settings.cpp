#include "vell_qasm/configurations/build_settings.hpp"

#include <functional>

namespace vell_qasm::configurations {

namespace {

BuildSettings::Value dict_value(const std::optional<std::string>& pattern) {
  if (pattern) return *pattern;
  return std::monostate{};
}

void mix(std::size_t& seed, std::size_t h) noexcept {
  seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

BuildSettings::BuildSettings(std::int64_t max_inclusion_depth,
                             std::optional<std::string> optimizations_to_enforce,
                             std::optional<std::string> optimizations_to_skip,
                             std::optional<std::string> validations_to_skip,
                             std::int64_t optimization_level)
    : _fields{max_inclusion_depth, std::move(optimizations_to_enforce), std::move(optimizations_to_skip),
              std::move(validations_to_skip), optimization_level} {}

BuildSettings::BuildSettings(Fields fields) : _fields(std::move(fields)) {}

BuildSettings::Dict BuildSettings::to_dict() const {
  Dict out;
  out.reserve(5);
  out.emplace_back("max_inclusion_depth", _fields.max_inclusion_depth);
  out.emplace_back("optimizations_to_enforce", dict_value(_fields.optimizations_to_enforce));
  out.emplace_back("optimizations_to_skip", dict_value(_fields.optimizations_to_skip));
  out.emplace_back("validations_to_skip", dict_value(_fields.validations_to_skip));
  out.emplace_back("optimization_level", _fields.optimization_level);
  return out;
}

bool operator==(const BuildSettings& a, const BuildSettings& b) {
  const auto& x = a._fields;
  const auto& y = b._fields;
  return x.max_inclusion_depth == y.max_inclusion_depth &&
         x.optimizations_to_enforce == y.optimizations_to_enforce &&
         x.optimizations_to_skip == y.optimizations_to_skip &&
         x.validations_to_skip == y.validations_to_skip && x.optimization_level == y.optimization_level;
}

std::size_t BuildSettings::hash() const noexcept {
  std::size_t seed = 0;
  mix(seed, std::hash<std::int64_t>()(_fields.max_inclusion_depth));
  mix(seed, std::hash<std::optional<std::string>>()(_fields.optimizations_to_enforce));
  mix(seed, std::hash<std::optional<std::string>>()(_fields.optimizations_to_skip));
  mix(seed, std::hash<std::optional<std::string>>()(_fields.validations_to_skip));
  mix(seed, std::hash<std::int64_t>()(_fields.optimization_level));
  return seed;
}

}  // namespace vell_qasm::configurations
