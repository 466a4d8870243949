// CONSTANTS: the built-in constants of OpenQASM 3, by name, as real literals: pi and π, tau and τ,
// euler and ℇ (names in UTF-8).
//
// Constant inlining puts these very nodes into every program it handles, so they are shared
// across trees and threads. Trap: nothing may change them in place; a step that wants another
// value builds a new node.
#pragma once

#include <string>
#include <unordered_map>

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes {

// A constant's name to its value.
using ConstantsTable = std::unordered_map<std::string, openqasm3::ast::ExprPtr>;

// Initialised before main() runs; do not read it from another static initialiser.
extern const ConstantsTable CONSTANTS;

}  // namespace vell_qasm::passes
