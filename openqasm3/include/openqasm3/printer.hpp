// The OpenQASM 3 printer: any node back to source text, in the reference front end's layout.
//
// Statements end with a newline; blocks open with " {" on the header line, hold their statements
// one `indent` deeper and close with "}" on a line of their own. An expression or any other
// non-statement node prints on one line with no newline (`dumps(Identifier("a"))` is "a").
// Comments and blank lines are never written. Parentheses appear only where precedence and
// associativity need them, so the parser reads the output back to an equal tree.
//
// Where the reference printer writes text that does not read back, this one writes text that
// does: a measuring call prints as `name(args) q, r`, a gate's or gphase's duration as
// `name(args)[d] q`, `sizeof` may be an operand, the left operand of `**` is parenthesised when it
// is itself a `**` (and the right one is not), prefix operators stack without parentheses
// (`--x`), an infinite real is written 1e999 (not `inf`, a name), an annotated `if` in an else branch is not chained into `else if`, a `nop`
// keeps its annotations, and a negative number literal is parenthesised where a prefix minus
// would be. A node of a class defined outside this library prints as its printed_text() when
// its class gives one, and otherwise as the nearest library class it derives from (an HwQubit
// prints as its identifier).
//
// Trap: a tree built by hand may lack nodes that the grammar requires (a gate without a name, a
// declaration without a type, a null element in a list). Printing such a tree throws
// std::invalid_argument naming the class and the field; fields that are optional in the tree
// (a declaration's initialiser, a gate's duration, a switch's default, ...) print as absent.
// A node of an abstract class (a bare Statement or Expression) throws the same way. A tree nested
// too deeply for the thread's stack throws StackExhausted (stack_guard.hpp); chains of left
// operands (`a + b + ...`, however long) print in a loop and never do. Texts that
// the tree holds verbatim (pragma and annotation commands, calibration bodies, names) are
// written as they are.
#pragma once

#include <string>

#include "openqasm3/ast.hpp"

namespace openqasm3 {

struct PrinterOptions {
  std::string indent = "  ";        // one level of block indentation
  bool chain_else_if = true;        // `} else if (c) {` for an else branch that is just an `if`
  bool old_measurement = false;     // `measure q -> c;` instead of `c = measure q;`
};

std::string dumps(const ast::QASMNode& node, const PrinterOptions& options = {});

}  // namespace openqasm3
