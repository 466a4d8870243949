// Small helpers shared by several steps: whether an SDK program scope is open, and the literal
// nodes that stand for plain values.
//
// Plain values (`PlainValue`) are bool, int64 and double; the literal nodes that hold them
// (`SupportedLiteralTypes`) are BooleanLiteral, IntegerLiteral and FloatLiteral. Only these three
// count as literals here: a duration literal is no plain value (expression lowering turns it into
// clock cycles), and neither is a bit string, an imaginary or an array literal.
//
// Trap: BooleanLiteral and IntegerLiteral are distinct kinds. A bool makes a BooleanLiteral and
// reads back as a bool, never as the integer 0 or 1.
#pragma once

#include <optional>
#include <variant>

#include "openqasm3/ast.hpp"
#include "vell_qasm/value_text.hpp"

namespace vell_qasm::passes::utils {

using SupportedLiteralTypes = std::variant<openqasm3::ast::Ptr<openqasm3::ast::BooleanLiteral>,
                                           openqasm3::ast::Ptr<openqasm3::ast::IntegerLiteral>,
                                           openqasm3::ast::Ptr<openqasm3::ast::FloatLiteral>>;

// Whether an SDK program scope is entered on this thread now: the caller's or a program's own,
// whichever was entered and not yet left.
bool is_inside_scope();

// Whether `node` is a BooleanLiteral, IntegerLiteral or FloatLiteral (or of a class derived from
// one). False for a null pointer.
bool is_qasm_literal(const openqasm3::ast::QASMNode& node);
bool is_qasm_literal(const openqasm3::ast::NodePtr& node);

// The plain value of such a literal, of the literal's own kind; nullopt for any other node (or a
// null pointer). A handle of any node class is read where it stands, with no NodePtr made of it.
// Inline: folding asks it several times per expression node.
inline std::optional<PlainValue> qasm_literal_value(const openqasm3::ast::QASMNode& node) {
  switch (node.library_kind()) {
    case openqasm3::ast::NodeKind::BooleanLiteral:
      return static_cast<const openqasm3::ast::BooleanLiteral&>(node).value;
    case openqasm3::ast::NodeKind::IntegerLiteral:
      return static_cast<const openqasm3::ast::IntegerLiteral&>(node).value;
    case openqasm3::ast::NodeKind::FloatLiteral:
      return static_cast<const openqasm3::ast::FloatLiteral&>(node).value;
    default:
      return std::nullopt;
  }
}
template <class T> std::optional<PlainValue> qasm_literal_value(const openqasm3::ast::Ptr<T>& node) {
  if (!node) return std::nullopt;
  return qasm_literal_value(static_cast<const openqasm3::ast::QASMNode&>(*node));
}

// A new literal node holding `value`: BooleanLiteral, IntegerLiteral or FloatLiteral, by the
// value's kind. No span.
openqasm3::ast::ExprPtr create_literal(const PlainValue& value);

}  // namespace vell_qasm::passes::utils
