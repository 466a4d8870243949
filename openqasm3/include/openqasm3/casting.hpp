// Node-class tests: the one way to ask "is this node an Identifier". Included by ast.hpp.
//
//   isa<T>(node)          the node's class is T or derives from T (a HwQubit is an Identifier and
//                         an Expression). Takes a node reference or a Ptr<U>; a null Ptr is no T.
//   dyn_cast<T>(p)        p as a T when isa<T>(*p), else null. Takes a U* (const kept) or a Ptr<U>
//                         (giving a Ptr<T> that shares ownership); null in gives null out.
//   is_exactly<T>(node)   the node's class is T itself (a HwQubit is not exactly an Identifier).
//
// T is any node class: one of this library's (answered from a table built from nodes.def, indexed
// by the node's library_kind(): no RTTI), QASMNode (always true), or a class defined outside the
// library through NodeImpl (HwQubit, answered by walking that class's bases: only nodes of outside
// classes pay for it).
#pragma once

#include <array>
#include <concepts>
#include <memory>
#include <type_traits>
#include <typeinfo>

#include "openqasm3/ast.hpp"

namespace openqasm3::ast {

namespace detail {
// The base of every library class, by kind; External for the classes derived from QASMNode.
inline constexpr std::array<NodeKind, kNodeKinds> kBaseKind{
    NodeKind::External,
#define NODE(Class, Base) kind_of<Base>,
#include "openqasm3/nodes.def"
};

// Row `kind`: which library classes a node of library kind k is an instance of.
consteval std::array<bool, kNodeKinds> instances_of(NodeKind kind) {
  std::array<bool, kNodeKinds> out{};
  for (std::size_t k = 1; k < kNodeKinds; ++k) {
    for (NodeKind c = static_cast<NodeKind>(k); c != NodeKind::External; c = kBaseKind[static_cast<std::size_t>(c)]) {
      if (c == kind) {
        out[k] = true;
        break;
      }
    }
  }
  return out;
}
template <class T> inline constexpr std::array<bool, kNodeKinds> kInstancesOf = instances_of(kind_of<T>);

template <class T> inline constexpr bool is_library_class = kind_of<T> != NodeKind::External;
}  // namespace detail

template <class T>
  requires std::derived_from<T, QASMNode>
bool isa(const QASMNode& node) {
  if constexpr (std::is_same_v<T, QASMNode>) {
    return true;
  } else if constexpr (detail::is_library_class<T>) {
    return detail::kInstancesOf<T>[static_cast<std::size_t>(node.library_kind())];
  } else {
    return node.kind() == NodeKind::External && node.is_instance_of(typeid(T));
  }
}
template <class T, class U>
  requires std::derived_from<T, QASMNode> && std::derived_from<U, QASMNode>
bool isa(const std::shared_ptr<U>& node) {
  return node && isa<T>(*node);
}

template <class T>
  requires std::derived_from<T, QASMNode>
bool is_exactly(const QASMNode& node) {
  if constexpr (detail::is_library_class<T>) {
    return node.kind() == kind_of<T>;
  } else {
    return node.kind() == NodeKind::External && typeid(node) == typeid(T);
  }
}

template <class T, class U>
  requires std::derived_from<T, QASMNode> && std::derived_from<U, QASMNode>
auto dyn_cast(U* node) -> std::conditional_t<std::is_const_v<U>, const T, T>* {
  using Out = std::conditional_t<std::is_const_v<U>, const T, T>;
  using Root = std::conditional_t<std::is_const_v<U>, const QASMNode, QASMNode>;
  return node && isa<T>(*node) ? static_cast<Out*>(static_cast<Root*>(node)) : nullptr;
}
template <class T, class U>
  requires std::derived_from<T, QASMNode> && std::derived_from<U, QASMNode>
std::shared_ptr<T> dyn_cast(const std::shared_ptr<U>& node) {
  if (!node || !isa<T>(*node)) return nullptr;
  return std::static_pointer_cast<T>(std::static_pointer_cast<QASMNode>(node));
}

}  // namespace openqasm3::ast
