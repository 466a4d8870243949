// Operator precedence as the parser reads it and the printer writes it (operators.def).
#pragma once

#include "openqasm3/ast.hpp"

namespace openqasm3::precedence {

#define BINARY(op, token, level)
#define PREFIX(level) inline constexpr int kPrefix = level;
#include "operators.def"

// The level of a binary operator; 0 for a value that is no operator.
constexpr int binary(ast::BinaryOperator op) {
  switch (op) {
#define BINARY(op, token, level) \
    case ast::BinaryOperator::op: return level;
#include "operators.def"
  }
  return 0;
}

inline constexpr int kPower = binary(ast::BinaryOperator::power);

}  // namespace openqasm3::precedence
