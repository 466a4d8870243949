// Small helpers shared by several steps: whether an SDK program scope is open, the literal nodes
// that stand for plain values, and a screen and map of names that most names miss cheaply (NameScreen, NameMap).
//
// Plain values (`PlainValue`) are bool, int64 and double; the literal nodes that hold them
// (`SupportedLiteralTypes`) are BooleanLiteral, IntegerLiteral and FloatLiteral. Only these three
// count as literals here: a duration literal is no plain value (expression lowering turns it into
// clock cycles), and neither is a bit string, an imaginary or an array literal.
//
// Trap: BooleanLiteral and IntegerLiteral are distinct kinds. A bool makes a BooleanLiteral and
// reads back as a bool, never as the integer 0 or 1.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>

#include "openqasm3/ast.hpp"
#include "vell_qasm/value_text.hpp"

namespace vell_qasm::passes::utils {

using SupportedLiteralTypes = std::variant<openqasm3::ast::Ptr<openqasm3::ast::BooleanLiteral>,
                                           openqasm3::ast::Ptr<openqasm3::ast::IntegerLiteral>,
                                           openqasm3::ast::Ptr<openqasm3::ast::FloatLiteral>>;

// While it lives, `stack` holds at least what it held when the scope began; on leaving (a throw
// included) it is cut back to that: a walk that keeps its own stack of nodes in a member.
template <class Stack> class StackMark {
 public:
  explicit StackMark(Stack& stack) : stack_(stack), size_(stack.size()) {}
  ~StackMark() { stack_.resize(size_); }
  StackMark(const StackMark&) = delete;
  StackMark& operator=(const StackMark&) = delete;
  // The size the stack is cut back to.
  std::size_t base() const { return size_; }

 private:
  Stack& stack_;
  std::size_t size_;
};

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

// A screen in front of a table of names, for walks that ask about every identifier they meet
// while only a few names are members: a name whose length and first byte no member has is
// answered without hashing it. A name it lets pass may still be none.
class NameScreen {
 public:
  void add(std::string_view name) {
    _lengths |= _length_bit(name);
    if (!name.empty()) _firsts[_first(name) / 64] |= std::uint64_t{1} << (_first(name) % 64);
  }
  bool may_hold(std::string_view name) const {
    if ((_lengths & _length_bit(name)) == 0) return false;
    return name.empty() || (_firsts[_first(name) / 64] >> (_first(name) % 64) & 1) != 0;
  }

 private:
  static std::uint64_t _length_bit(std::string_view name) {
    return std::uint64_t{1} << (name.size() < 63 ? name.size() : 63);  // 63: that long or longer
  }
  static unsigned _first(std::string_view name) { return static_cast<unsigned char>(name.front()); }

  std::uint64_t _lengths = 0;
  std::array<std::uint64_t, 4> _firsts{};
};

// A map from names to values, screened (NameScreen).
template <class V> class NameMap {
 public:
  bool empty() const { return _map.empty(); }
  // The value of `name`, or null. Valid until the next insertion.
  const V* find(std::string_view name) const {
    if (!_screen.may_hold(name)) return nullptr;
    auto found = _map.find(name);
    return found == _map.end() ? nullptr : &found->second;
  }
  bool contains(std::string_view name) const { return find(name) != nullptr; }
  void insert_or_assign(std::string_view name, V value) {
    _screen.add(name);
    auto found = _map.find(name);
    if (found != _map.end()) {
      found->second = std::move(value);
    } else {
      _map.emplace(std::string(name), std::move(value));
    }
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  NameScreen _screen;
  std::unordered_map<std::string, V, Hash, std::equal_to<>> _map;
};

}  // namespace vell_qasm::passes::utils
