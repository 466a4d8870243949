// The text of a plain value as every message of the compiler writes it: True, False, 42, 2.0,
// 1e-05, 1e+16, inf, nan (the shortest text that reads back to the same double).
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "openqasm3/number_text.hpp"

namespace vell_qasm {

using PlainValue = std::variant<bool, std::int64_t, double>;

inline std::string value_text(bool v) { return v ? "True" : "False"; }
inline std::string value_text(std::int64_t v) { return std::to_string(v); }
inline std::string value_text(int v) { return std::to_string(v); }
inline std::string value_text(double v) { return openqasm3::float_text(v); }
inline std::string value_text(const PlainValue& v) {
  return std::visit([](auto x) { return value_text(x); }, v);
}

}  // namespace vell_qasm
