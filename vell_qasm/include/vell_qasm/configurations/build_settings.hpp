// BuildSettings: the settings record of one compilation, an immutable value.
//
// A pipeline reads the three name patterns at every decision it takes about a step; nothing here
// examines them, so a malformed regular expression is stored as given and only fails when a
// pipeline first consults it. `max_inclusion_depth` and `optimization_level` are carried for the
// embedding application, which hands them to the steps it builds.
//
// Fields are read through accessors and cannot be changed one by one; a whole record may be
// assigned over another, as a value. Build it by position or, naming fields, from Fields:
//   BuildSettings({.optimizations_to_skip = "all"})
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vell_qasm::configurations {

class BuildSettings {
 public:
  // The five fields by name, each with its default.
  struct Fields {
    std::int64_t max_inclusion_depth = 100;
    std::optional<std::string> optimizations_to_enforce = std::nullopt;
    std::optional<std::string> optimizations_to_skip = std::nullopt;
    std::optional<std::string> validations_to_skip = std::nullopt;
    std::int64_t optimization_level = 0;
  };

  // A value of to_dict(): an integer, a text, or none (monostate).
  using Value = std::variant<std::monostate, std::int64_t, std::string>;
  // Insertion-ordered: one (field name, value) entry per field, in field order.
  using Dict = std::vector<std::pair<std::string, Value>>;

  explicit BuildSettings(std::int64_t max_inclusion_depth = 100,
                         std::optional<std::string> optimizations_to_enforce = std::nullopt,
                         std::optional<std::string> optimizations_to_skip = std::nullopt,
                         std::optional<std::string> validations_to_skip = std::nullopt,
                         std::int64_t optimization_level = 0);
  explicit BuildSettings(Fields fields);

  std::int64_t max_inclusion_depth() const noexcept { return _fields.max_inclusion_depth; }
  const std::optional<std::string>& optimizations_to_enforce() const noexcept {
    return _fields.optimizations_to_enforce;
  }
  const std::optional<std::string>& optimizations_to_skip() const noexcept {
    return _fields.optimizations_to_skip;
  }
  const std::optional<std::string>& validations_to_skip() const noexcept {
    return _fields.validations_to_skip;
  }
  std::int64_t optimization_level() const noexcept { return _fields.optimization_level; }

  // A fresh mapping owned by the caller; changing it leaves the record as it was.
  Dict to_dict() const;

  friend bool operator==(const BuildSettings& a, const BuildSettings& b);

  std::size_t hash() const noexcept;

 private:
  Fields _fields;
};

}  // namespace vell_qasm::configurations

template <> struct std::hash<vell_qasm::configurations::BuildSettings> {
  std::size_t operator()(const vell_qasm::configurations::BuildSettings& s) const noexcept {
    return s.hash();
  }
};
