// The OpenQASM 3 parser.
//
// parse() turns source text into the syntax tree that the reference front end builds for it: the
// same node classes, the same field values, spans on every node (lines from 1, columns from 0, in
// code points), and the reference's checks of where statements may stand (global-only
// statements, gate bodies, loops, subroutines, switch cases, sizes).
//
// Every failure the text can cause (a lexical or syntax error, a misplaced statement, an
// unsupported version, a literal beyond int64, nesting too deep) is one exception,
// QASM3ParsingError, carrying the position of the offending token. Syntax errors win over the
// placement and size checks, as in the reference, which builds the tree only after a complete
// parse: when the text has both, the syntax error is reported.
//
// Limits that keep every input safe: the parser nests at most kMaxNesting levels (brackets,
// blocks, prefix operators), and less when the thread's stack would not hold them ("nesting too
// deep for the stack left to this thread", see stack_guard.hpp). Chains that are not nested in
// the text (`1 + 1 + ...`, `a[0][0]...`, `a ++ b ++ ...`) may be of any length: their trees are
// deep, and the tree library copies, compares, prints and frees them without recursion. The
// text must be UTF-8.
//
// The nodes of one parse share their memory (large blocks, freed when the last node of the parse
// is gone), which makes parsing several times faster. Trap: keeping any one node of a parse
// alive keeps the memory of the whole tree. deep_copy a node that must outlive its tree.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "openqasm3/ast.hpp"

namespace openqasm3 {

inline constexpr int kMaxNesting = 1000;

class QASM3ParsingError : public std::runtime_error {
 public:
  // `message` says what was expected and what was found; what() is "LINE:COL: message".
  QASM3ParsingError(std::string message, int line, int column);

  const std::string message;
  const int line;    // from 1
  const int column;  // from 0, in code points
};

// Parses a whole program. An empty or comment-only text gives Program([], None).
std::shared_ptr<ast::Program> parse(std::string_view text);

}  // namespace openqasm3
