// The OpenQASM 3 syntax tree.
//
// Node classes follow the reference front end: same names, bases, fields in the same order and
// the same defaults. Nodes are held by std::shared_ptr and one node may stand at several places of
// a tree; a change made in place is seen everywhere the node stands.
//
// Every node class derives from NodeImpl<Class, Base>, which derives from Base and supplies the
// generic machinery (dispatch, child walks, equality, deep copy, repr) from the class's
// `own_fields`. A class defined outside this library (the compiler's HwQubit, TavoDeclaration)
// takes part the same way, by deriving from NodeImpl<ItsClass, ItsBase> and defining kName,
// kModule and own_fields. Visitors dispatch by a node's exact class: such a node reaches a
// visitor's handler only through ExternalVisit<Class> / ExternalTransform<Class> (visitor.hpp),
// and otherwise the generic walk, never its base's handler. Class tests go through isa<T>,
// dyn_cast<T> and is_exactly<T> (casting.hpp): a HwQubit is an Identifier, not exactly one.
//
// Depth: copies, equality and freeing run in loops, so a tree of any depth (a long chain of
// operators, a tree built by hand) is safe with them; visitor and transformer walks and repr
// recurse, and stop with StackExhausted (stack_guard.hpp) when the thread's stack runs low.
//
// Trap: own_fields lists a class's own fields only, in declaration order; the bases' fields come
// first automatically. A class that forgets kName reports its base's name. A node made with
// std::make_shared rather than make() frees its children by recursion.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "openqasm3/detail/node_arena.hpp"

namespace openqasm3::ast {

// ---------------------------------------------------------------------------------------------
// Enumerations. Members are named after their symbols where C++ allows; `symbol()` gives the
// reference's member name (the source text), `from_symbol<E>()` looks a member up by it.

enum class AccessControl { readonly = 1, mutable_ = 2 };
enum class AssignmentOperator {
  assign = 1, plus_assign, minus_assign, times_assign, divide_assign, bitand_assign, bitor_assign,
  bitnot_assign, bitxor_assign, shl_assign, shr_assign, modulo_assign, power_assign
};
enum class BinaryOperator {
  gt = 1, lt, ge, le, eq, ne, logical_and, logical_or, bit_or, bit_xor, bit_and, shl, shr, plus,
  minus, times, divide, modulo, power
};
enum class GateModifierName { inv = 1, pow, ctrl, negctrl };
enum class IOKeyword { input = 1, output };
enum class TimeUnit { dt = 1, ns, us, ms, s };
enum class UnaryOperator { bit_not = 1, logical_not, negate };

std::string_view symbol(AccessControl v);
std::string_view symbol(AssignmentOperator v);
std::string_view symbol(BinaryOperator v);
std::string_view symbol(GateModifierName v);
std::string_view symbol(IOKeyword v);
std::string_view symbol(TimeUnit v);
std::string_view symbol(UnaryOperator v);

std::string_view enum_name(AccessControl);
std::string_view enum_name(AssignmentOperator);
std::string_view enum_name(BinaryOperator);
std::string_view enum_name(GateModifierName);
std::string_view enum_name(IOKeyword);
std::string_view enum_name(TimeUnit);
std::string_view enum_name(UnaryOperator);

// Looks an enumeration member up by its symbol ("+", "+=", "ns"); nullopt when there is none.
template <class E> std::optional<E> from_symbol(std::string_view text);
template <> std::optional<AccessControl> from_symbol<AccessControl>(std::string_view);
template <> std::optional<AssignmentOperator> from_symbol<AssignmentOperator>(std::string_view);
template <> std::optional<BinaryOperator> from_symbol<BinaryOperator>(std::string_view);
template <> std::optional<GateModifierName> from_symbol<GateModifierName>(std::string_view);
template <> std::optional<IOKeyword> from_symbol<IOKeyword>(std::string_view);
template <> std::optional<TimeUnit> from_symbol<TimeUnit>(std::string_view);
template <> std::optional<UnaryOperator> from_symbol<UnaryOperator>(std::string_view);

// The repr of an enumeration member: <BinaryOperator.+: 14>.
template <class E> std::string enum_repr(E v) {
  std::string out = "<";
  out += enum_name(v);
  out += '.';
  out += symbol(v);
  out += ": ";
  out += std::to_string(static_cast<int>(v));
  out += '>';
  return out;
}

// ---------------------------------------------------------------------------------------------

struct Span {
  int start_line = 0;
  int start_column = 0;
  int end_line = 0;
  int end_column = 0;
  // The file the position lies in: 0 for the program parsed, another number for a file spliced
  // into it (the include expansion numbers the files it reads and keeps their names). Not part
  // of the text form; two spans in different files differ.
  int file = 0;
  friend bool operator==(const Span&, const Span&) = default;
};

struct QASMNode;
#define NODE(Class, Base) struct Class;
#include "openqasm3/nodes.def"

template <class T> using Ptr = std::shared_ptr<T>;
using NodePtr = Ptr<QASMNode>;
using ExprPtr = Ptr<Expression>;
using StmtPtr = Ptr<Statement>;
using TypePtr = Ptr<ClassicalType>;

// One bracket pair of an index: either one set, or a list of expressions and ranges.
using IndexList = std::vector<NodePtr>;
using IndexElement = std::variant<Ptr<DiscreteSet>, IndexList>;

// One case of a switch statement: its labels and its block. Cases are not nodes: generic walks
// enter them only when the walker asks for it (SwitchCases::enter).
struct SwitchCase {
  std::vector<ExprPtr> values;
  Ptr<CompoundStatement> block;
};

// `#dim = n` (one expression) or explicit dimensions.
using ArrayDimensions = std::variant<ExprPtr, std::vector<ExprPtr>>;

enum class NodeKind {
  External,  // a class defined outside this library
#define NODE(Class, Base) Class,
#include "openqasm3/nodes.def"
};

template <class T> inline constexpr NodeKind kind_of = NodeKind::External;
#define NODE(Class, Base) template <> inline constexpr NodeKind kind_of<Class> = NodeKind::Class;
#include "openqasm3/nodes.def"

// The identity of a node class: compared and hashed by its C++ type.
struct NodeClass {
  std::type_index type;
  std::string_view name;    // "QuantumGate"
  std::string_view module;  // "openqasm3.ast"
  // The text form used in messages: <class 'openqasm3.ast.QuantumGate'>.
  std::string text() const;
  friend bool operator==(const NodeClass& a, const NodeClass& b) { return a.type == b.type; }
};

template <class T> const NodeClass& node_class_of();

// The result of a transformer's handler: nothing (drop or clear), a node, or nodes to splice.
class Rewrite {
 public:
  Rewrite() = default;
  Rewrite(std::nullptr_t) {}
  template <class T>
    requires std::is_base_of_v<QASMNode, T>
  Rewrite(Ptr<T> node) {
    if (node) value_ = NodePtr(std::move(node));
  }
  template <class T>
    requires std::is_base_of_v<QASMNode, T>
  Rewrite(const std::vector<Ptr<T>>& nodes) : value_(std::vector<NodePtr>(nodes.begin(), nodes.end())) {}
  Rewrite(std::vector<NodePtr> nodes) : value_(std::move(nodes)) {}

  // The node visited stays as it is. Only QASMNode::accept returns this, for a node that went
  // through the generic walk; QASMTransformer::visit turns it into the node itself, so handlers
  // never see it.
  static Rewrite keep() {
    Rewrite r;
    r.value_ = Keep{};
    return r;
  }

  bool is_none() const { return std::holds_alternative<std::monostate>(value_); }
  bool is_node() const { return std::holds_alternative<NodePtr>(value_); }
  bool is_list() const { return std::holds_alternative<std::vector<NodePtr>>(value_); }
  bool is_keep() const { return std::holds_alternative<Keep>(value_); }
  const NodePtr& node() const { return std::get<NodePtr>(value_); }
  const std::vector<NodePtr>& list() const { return std::get<std::vector<NodePtr>>(value_); }
  // The node or the list, moved out (this keeps an empty one): for a walk that takes the result
  // over, with no count change of the nodes' handles.
  NodePtr release_node() { return std::move(std::get<NodePtr>(value_)); }
  std::vector<NodePtr> release_list() { return std::move(std::get<std::vector<NodePtr>>(value_)); }

 private:
  struct Keep {};
  std::variant<std::monostate, NodePtr, std::vector<NodePtr>, Keep> value_;
};

class QASMVisitor;
class QASMTransformer;

namespace detail {
// The handle through which a walk reached a node (a Ptr to the node's class or a base of it),
// without a copy of it: nodes do not know their own handles.
struct HandleRef {
  const void* handle = nullptr;
  NodePtr (*to_node)(const void*) = nullptr;
  NodePtr get() const { return handle ? to_node(handle) : nullptr; }
};
template <class T> NodePtr handle_to_node(const void* h) { return *static_cast<const Ptr<T>*>(h); }
template <class T> HandleRef handle_ref(const Ptr<T>& p) { return {&p, &handle_to_node<T>}; }
}  // namespace detail

namespace detail {
// The state of one deep copy. When `share` is set, a node that stands at several places of the
// original stands at the same places of the copy as one new node; only nodes with more than one
// owner are memoised, so a tree without sharing costs no table lookups.
struct CopyMemo {
  bool share = true;
  std::unordered_map<const QASMNode*, NodePtr> nodes;
  // The fields of copied nodes that still hold the original's child: a copy fills them in a
  // loop, not by recursion, so that a tree of any depth copies.
  struct Slot {
    void* field;
    void (*fill)(void* field, CopyMemo& memo);
  };
  std::vector<Slot> pending{};
};
// The allocator of every node made by make() and by copies: it frees a node's children in a
// loop rather than by recursion (see destroy_node), so that freeing a tree of any depth cannot
// run out of stack. Trap: a node made with std::make_shared frees its children recursively.
void destroy_node(QASMNode* node) noexcept;
template <class T> struct NodeAllocator {
  using value_type = T;
  NodeAllocator() = default;
  template <class U> NodeAllocator(const NodeAllocator<U>&) {}
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>().deallocate(p, n); }
  template <class U> void destroy(U* p) noexcept {
    if constexpr (std::is_base_of_v<QASMNode, U>) {
      destroy_node(p);
    } else {
      p->~U();
    }
  }
  template <class U> bool operator==(const NodeAllocator<U>&) const { return true; }
};
// The allocator of nodes made while the thread has a current arena (NodeArenaScope): carves them
// from the arena and frees them into the arena they came from, as NodeAllocator does otherwise.
// Holds nothing: the node's control block records which of the two made it.
template <class T> struct ArenaAllocator {
  using value_type = T;
  static_assert(sizeof(T) + alignof(T) <= NodeArena::kMaxAllocation, "a node must fit an arena block");

  ArenaAllocator() = default;
  template <class U> ArenaAllocator(const ArenaAllocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n != 1) throw std::bad_array_new_length();
    return static_cast<T*>(NodeArena::current()->allocate(sizeof(T), alignof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { NodeArena::owner_of(p)->node_destroyed(p, sizeof(T)); }
  template <class U> void destroy(U* p) noexcept { NodeAllocator<U>().destroy(p); }

  template <class U> bool operator==(const ArenaAllocator<U>&) const { return true; }
};
template <class T, class... Args> Ptr<T> make_node(Args&&... args) {
  if (NodeArena::current()) return std::allocate_shared<T>(ArenaAllocator<T>(), std::forward<Args>(args)...);
  return std::allocate_shared<T>(NodeAllocator<T>(), std::forward<Args>(args)...);
}
}

struct QASMNode {
  static constexpr std::string_view kModule = "openqasm3.ast";

  std::optional<Span> span;

  virtual ~QASMNode() = default;

  virtual const NodeClass& node_class() const = 0;
  virtual NodeKind kind() const = 0;
  // The kind of the nearest class of this library that the node's class is or derives from:
  // kind() for the library's own classes, the base's kind for an outside class (HwQubit gives
  // Identifier). NodeKind::External only for a class derived from QASMNode directly.
  virtual NodeKind library_kind() const = 0;
  // Whether the node's class is `type` or derives from it (isa<T>() asks this for classes defined
  // outside this library only).
  virtual bool is_instance_of(const std::type_info& type) const = 0;
  std::string_view class_name() const { return node_class().name; }

  // Dispatch to the visitor's handler for this node's exact class (or its generic walk). A
  // transformer's accept may return Rewrite::keep(); call QASMTransformer::visit instead.
  // `self` is the handle the walk reached the node through (empty for a visitor when there is
  // none); a transformer's must hold this node.
  virtual void accept(QASMVisitor& visitor, detail::HandleRef self) = 0;
  virtual Rewrite accept(QASMTransformer& transformer, detail::HandleRef self) = 0;
  // The walks' fast path: when the transformer has no handler for this node's class, walks the
  // children generically and returns true (the node stays); otherwise does nothing and returns
  // false, and accept() must follow. No Rewrite is made for the node.
  virtual bool transform_generically(QASMTransformer& transformer) = 0;
  // accept() for a node that transform_generically() left to its handler.
  virtual Rewrite transform_here(QASMTransformer& transformer, detail::HandleRef self) = 0;
  // The generic walks over this node's children, in field order.
  virtual void visit_children(QASMVisitor& visitor) = 0;
  virtual void transform_children(QASMTransformer& transformer) = 0;

  // Structural equality of the whole subtrees (see equal()).
  virtual bool equals(const QASMNode& other) const = 0;
  // The steps of the generic machinery that do not recurse: equals_shallow compares the exact
  // class and the fields that are not nodes, and queues the pairs of child nodes for the running
  // equal() to compare; clone makes a copy of this node whose child fields are queued in memo.pending to
  // be filled with copies; detach_children moves every child node into `out`, leaving its
  // fields empty (for freeing without recursion).
  virtual bool equals_shallow(const QASMNode& other) const = 0;
  virtual NodePtr clone(detail::CopyMemo& memo) const = 0;
  virtual void detach_children(std::vector<NodePtr>& out) noexcept = 0;
  // Asks the memory system for the element arrays of the node's lists: a hint for a walk that
  // will enter the node soon. Changes nothing.
  virtual void prefetch_lists() const noexcept {}
  virtual void write_repr(std::string& out) const = 0;
  // The printer's text of a node whose class is defined outside this library; nullopt (the
  // default) when the class has none: the node then prints as the nearest library class it
  // derives from (a class derived from QASMNode directly does not print).
  virtual std::optional<std::string> printed_text() const { return std::nullopt; }

  template <class S> static auto all_fields(S&) { return std::tuple<>(); }
  static constexpr NodeKind static_library_kind() { return NodeKind::External; }
  static bool static_is_instance_of(const std::type_info& type) { return type == typeid(QASMNode); }

 protected:
  QASMNode() = default;
  QASMNode(const QASMNode&) = default;
  QASMNode& operator=(const QASMNode&) = default;
};

// Structural equality: same exact class and equal fields, recursively; spans are ignored.
bool equal(const QASMNode& a, const QASMNode& b);
bool equal(const NodePtr& a, const NodePtr& b);  // two nulls are equal
inline bool operator==(const QASMNode& a, const QASMNode& b) { return equal(a, b); }

// A repr-like text: ClassName(span=None, field=value, ...).
std::string repr(const QASMNode& node);
std::string repr(const NodePtr& node);  // "None" for null

// A fresh copy of the whole subtree: no node of the copy is a node of the original; nodes shared
// within the original are shared within the copy too.
NodePtr deep_copy_node(const NodePtr& node);
template <class T> Ptr<T> deep_copy(const Ptr<T>& node) {
  return std::static_pointer_cast<T>(deep_copy_node(node));
}
// A fresh copy in which every occurrence is a node of its own: no node of the copy is a node of
// the original, and no node stands twice in the copy, even where the original shares one. For
// rewrites that change nodes in place, which would otherwise change every place a shared node
// stands.
NodePtr deep_copy_unshared_node(const NodePtr& node);
template <class T> Ptr<T> deep_copy_unshared(const Ptr<T>& node) {
  return std::static_pointer_cast<T>(deep_copy_unshared_node(node));
}

// A new node, from the thread's current arena when it has one (NodeArenaScope). Nodes made here
// (and by copies and the parser) are freed without recursion.
template <class T, class... Args> Ptr<T> make(Args&&... args) {
  return detail::make_node<T>(std::forward<Args>(args)...);
}

}  // namespace openqasm3::ast

namespace std {
template <> struct hash<openqasm3::ast::NodeClass> {
  size_t operator()(const openqasm3::ast::NodeClass& c) const noexcept { return hash<type_index>()(c.type); }
};
}  // namespace std

#include "openqasm3/detail/visitor_base.hpp"
#include "openqasm3/detail/node_impl.hpp"
#include "openqasm3/detail/nodes.hpp"
#include "openqasm3/casting.hpp"
