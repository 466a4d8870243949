// INITIALLY_NODE_WHITELIST: the node classes a program may consist of when it enters the
// compiler, for an AllowedNodeTypesValidator to screen a parsed program against.
//
// The set is shared by the whole process and may be changed: a class added or removed counts
// from then on for every validator built on it, those built earlier included. It holds no
// Include (screen after include expansion) and no FunctionCall, and it holds HwQubit beside
// Identifier, so turning "$n" identifiers into hardware qubits does not change the verdict.
//
// Trap: it is a namespace-scope object, built during static initialisation; do not read it from
// the initialiser of another namespace-scope object.
#pragma once

#include <memory>
#include <unordered_set>

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes {

extern const std::shared_ptr<std::unordered_set<openqasm3::ast::NodeClass>> INITIALLY_NODE_WHITELIST;

}  // namespace vell_qasm::passes
