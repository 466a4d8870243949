// The node classes, generated from the node list (nodes.def); included by ast.hpp.
//
// Each class has its fields as public members, a default constructor, and constructors taking a
// leading part of its own fields in declaration order (the rest keep their defaults), braced lists
// included: make<BinaryExpression>(BinaryOperator::plus, lhs, rhs), Program({a, b}, "3.0").
#pragma once

namespace openqasm3::ast {

namespace detail {
// The types of each class's own fields, in declaration order, read from the node list before the
// classes are defined (their constructors ask for them while the classes are still incomplete).
// Every list starts with void, so that each NODE line can close the list before it.
template <class... T> struct TypeList {};
template <class C> struct OwnFieldTypes;
struct FieldTypesOpener {
  using type = TypeList<void
#define NODE(Class, Base) \
  >; \
  }; \
  template <> struct OwnFieldTypes<Class> { \
    using type = TypeList<void
#define FIELD(Type, name, ...) , Type
#include "openqasm3/nodes.def"
  >;
};

template <std::size_t I, class L> struct TypeAt {
  using type = void;
};
template <class T, class... R> struct TypeAt<0, TypeList<T, R...>> {
  using type = T;
};
template <std::size_t I, class T, class... R>
  requires(I > 0)
struct TypeAt<I, TypeList<T, R...>> {
  using type = typename TypeAt<I - 1, TypeList<R...>>::type;
};
template <class L> struct TypeCount;
template <class... T> struct TypeCount<TypeList<T...>> {
  static constexpr std::size_t value = sizeof...(T);
};

// The type of the I-th own field of node class C; void past the last one.
template <class C, std::size_t I> using own_field_t = typename TypeAt<I + 1, typename OwnFieldTypes<C>::type>::type;
template <class C> inline constexpr std::size_t own_field_count = TypeCount<typename OwnFieldTypes<C>::type>::value - 1;

template <class C, class... A, std::size_t... I> constexpr bool assignable(std::index_sequence<I...>) {
  return (std::is_assignable_v<std::add_lvalue_reference_t<own_field_t<C, I>>, A> && ...);
}
// Whether A... can stand for C's leading own fields (and are not one node to copy).
template <class C, class... A>
inline constexpr bool field_arguments =
    !(sizeof...(A) == 1 && (std::is_base_of_v<QASMNode, std::remove_cvref_t<A>> && ...)) &&
    sizeof...(A) <= own_field_count<C> &&
    assignable<C, A...>(std::index_sequence_for<A...>());

// A member named after a C++ keyword carries a trailing underscore; its field name is the keyword.
consteval const char* field_name(const char* member) {
  return std::string_view(member) == "default_" ? "default" : member;
}

template <class F, std::size_t... I, class... A>
void assign_fields(F fields, std::index_sequence<I...>, A&&... args) {
  ((std::get<I>(fields).value = std::forward<A>(args)), ...);
}
}  // namespace detail

// Every NODE line closes the class before it and opens its own; this opens nothing of use.
struct NodeListOpener {
#define NODE(Class, Base) \
  }; \
  struct Class : NodeImpl<Class, Base> { \
    static constexpr std::string_view kName = #Class; \
    Class() = default; \
    template <class Self = Class, class A0 = detail::own_field_t<Self, 0>> \
      requires detail::field_arguments<Self, A0> \
    explicit Class(A0&& a0) { \
      detail::assign_fields(Self::own_fields(static_cast<Self&>(*this)), std::make_index_sequence<1>(), std::forward<A0>(a0)); \
    } \
    template <class Self = Class, class A0 = detail::own_field_t<Self, 0>, class A1 = detail::own_field_t<Self, 1>> \
      requires detail::field_arguments<Self, A0, A1> \
    explicit Class(A0&& a0, A1&& a1) { \
      detail::assign_fields(Self::own_fields(static_cast<Self&>(*this)), std::make_index_sequence<2>(), std::forward<A0>(a0), std::forward<A1>(a1)); \
    } \
    template <class Self = Class, class A0 = detail::own_field_t<Self, 0>, class A1 = detail::own_field_t<Self, 1>, class A2 = detail::own_field_t<Self, 2>> \
      requires detail::field_arguments<Self, A0, A1, A2> \
    explicit Class(A0&& a0, A1&& a1, A2&& a2) { \
      detail::assign_fields(Self::own_fields(static_cast<Self&>(*this)), std::make_index_sequence<3>(), std::forward<A0>(a0), std::forward<A1>(a1), std::forward<A2>(a2)); \
    } \
    template <class Self = Class, class A0 = detail::own_field_t<Self, 0>, class A1 = detail::own_field_t<Self, 1>, class A2 = detail::own_field_t<Self, 2>, class A3 = detail::own_field_t<Self, 3>> \
      requires detail::field_arguments<Self, A0, A1, A2, A3> \
    explicit Class(A0&& a0, A1&& a1, A2&& a2, A3&& a3) { \
      detail::assign_fields(Self::own_fields(static_cast<Self&>(*this)), std::make_index_sequence<4>(), std::forward<A0>(a0), std::forward<A1>(a1), std::forward<A2>(a2), std::forward<A3>(a3)); \
    } \
    template <class Self = Class, class A0 = detail::own_field_t<Self, 0>, class A1 = detail::own_field_t<Self, 1>, class A2 = detail::own_field_t<Self, 2>, class A3 = detail::own_field_t<Self, 3>, class A4 = detail::own_field_t<Self, 4>> \
      requires detail::field_arguments<Self, A0, A1, A2, A3, A4> \
    explicit Class(A0&& a0, A1&& a1, A2&& a2, A3&& a3, A4&& a4) { \
      detail::assign_fields(Self::own_fields(static_cast<Self&>(*this)), std::make_index_sequence<5>(), std::forward<A0>(a0), std::forward<A1>(a1), std::forward<A2>(a2), std::forward<A3>(a3), std::forward<A4>(a4)); \
    } \
    template <class S> static auto own_fields(S& s);
#define FIELD(Type, name, ...) Type name{__VA_ARGS__};
#include "openqasm3/nodes.def"
};

// The field lists, in the same way: every NODE line ends the list before it.
template <class S> auto node_list_fields_opener(S&) { return std::tuple_cat(std::tuple<>()
#define NODE(Class, Base) \
  ); \
  } \
  template <class S> auto Class::own_fields([[maybe_unused]] S& s) { return std::tuple_cat(std::tuple<>()
#define FIELD(Type, name, ...) , std::make_tuple(field(detail::field_name(#name), s.name))
#include "openqasm3/nodes.def"
); }

}  // namespace openqasm3::ast

namespace openqasm3::ast::detail {

template <class C> struct BaseOf;
#define NODE(Class, Base) \
  template <> struct BaseOf<Class> { using type = Base; };
#include "openqasm3/nodes.def"

using KindSet = std::array<bool, kNodeKinds>;
template <class T> struct TypeTag {};
constexpr std::size_t kind_index(NodeKind k) { return static_cast<std::size_t>(k); }

// Statements stand only in statement fields (typed so) and in a program's statement list.
consteval KindSet statement_kinds() {
  KindSet s{};
#define NODE(Class, Base) s[kind_index(NodeKind::Class)] = std::is_base_of_v<Statement, Class> || std::is_same_v<Class, Program>;
#include "openqasm3/nodes.def"
  return s;
}

// The library classes that are T or derive from it, but the bridges of `excluded`.
template <class T> consteval void add_derived(KindSet& s, const KindSet& excluded) {
#define NODE(Class, Base)                                                                     \
  if constexpr (std::is_base_of_v<T, Class>) {                                                \
    if (!excluded[kind_index(NodeKind::Class)]) s[kind_index(NodeKind::Class)] = true;        \
  }
#include "openqasm3/nodes.def"
}

// The kinds a field of type T may hold directly; `statement_list`: a program's statement list.
template <class T> consteval void add_held(KindSet&, bool, const KindSet&, TypeTag<T>) {}
template <class T> consteval void add_held(KindSet& s, bool statement_list, const KindSet& excluded, TypeTag<Ptr<T>>) {
  if constexpr (std::is_same_v<T, QASMNode>) {
    const KindSet statements = statement_kinds();
    for (std::size_t k = 1; k < kNodeKinds; ++k)
      if (!excluded[k] && (statement_list || !statements[k])) s[k] = true;
  } else {
    add_derived<T>(s, excluded);
  }
}
template <class T> consteval void add_held(KindSet& s, bool statement_list, const KindSet& excluded, TypeTag<std::vector<T>>) {
  add_held(s, statement_list, excluded, TypeTag<T>{});
}
template <class... T>
consteval void add_held(KindSet& s, bool statement_list, const KindSet& excluded, TypeTag<std::variant<T...>>) {
  (add_held(s, statement_list, excluded, TypeTag<T>{}), ...);
}
consteval void add_held(KindSet& s, bool statement_list, const KindSet& excluded, TypeTag<SwitchCase>) {
  add_held(s, statement_list, excluded, TypeTag<decltype(SwitchCase::values)>{});
  add_held(s, statement_list, excluded, TypeTag<decltype(SwitchCase::block)>{});
}

// The kinds the fields of library class C (its bases' included) hold directly.
template <class C, std::size_t... I> consteval void add_own_fields(KindSet& s, const KindSet& excluded, std::index_sequence<I...>) {
  (add_held(s, std::is_same_v<C, Program>, excluded, TypeTag<own_field_t<C, I>>{}), ...);
}
template <class C> consteval void add_fields(KindSet& s, const KindSet& excluded) {
  if constexpr (!std::is_same_v<C, QASMNode>) {
    add_own_fields<C>(s, excluded, std::make_index_sequence<own_field_count<C>>());
    add_fields<typename BaseOf<C>::type>(s, excluded);
  }
}

consteval KindReach compute_kind_reach() {
  KindReach r;
  const KindSet none{};
  const KindSet statements = statement_kinds();
  std::array<KindSet, kNodeKinds> direct{};
#define NODE(Class, Base) add_fields<Class>(direct[kind_index(NodeKind::Class)], none);
#include "openqasm3/nodes.def"
  for (std::size_t k = 1; k < kNodeKinds; ++k)
    for (std::size_t j = 1; j < kNodeKinds && !statements[k]; ++j)
      if (direct[k][j] && statements[j]) r.bridge[k] = true;
  // Again without the bridges, then closed under "stands below".
#define NODE(Class, Base)                                     \
  direct[kind_index(NodeKind::Class)] = KindSet{};            \
  add_fields<Class>(direct[kind_index(NodeKind::Class)], r.bridge);
#include "openqasm3/nodes.def"
  // Transitive closure (Warshall, on rows of bits: compile-time evaluation counts every step):
  // after step j, the paths through kinds up to j are known.
  constexpr std::size_t kWords = (kNodeKinds + 63) / 64;
  std::array<std::array<std::uint64_t, kWords>, kNodeKinds> rows{};
  for (std::size_t k = 0; k < kNodeKinds; ++k)
    for (std::size_t i = 0; i < kNodeKinds; ++i)
      if (direct[k][i]) rows[k][i / 64] |= std::uint64_t{1} << (i % 64);
  for (std::size_t j = 1; j < kNodeKinds; ++j)
    for (std::size_t k = 1; k < kNodeKinds; ++k)
      if ((rows[k][j / 64] >> (j % 64)) & 1)
        for (std::size_t w = 0; w < kWords; ++w) rows[k][w] |= rows[j][w];
  for (std::size_t k = 0; k < kNodeKinds; ++k)
    for (std::size_t i = 0; i < kNodeKinds; ++i) r.below[k][i] = (rows[k][i / 64] >> (i % 64)) & 1;
  return r;
}

template <class Void> struct KindReachOf {
  static constexpr KindReach value = compute_kind_reach();
};

// Whether nodes of class D escape the kind table: a library bridge, or an outside class with a
// node field of its own.
// HoldsNodes: node_impl.hpp.
template <class D> consteval bool is_bridge_class() {
  if constexpr (kind_of<D> != NodeKind::External) {
    return KindReachOf<void>::value.bridge[kind_index(kind_of<D>)];
  } else {
    using Own = decltype(D::own_fields(std::declval<D&>()));
    return []<std::size_t... I>(std::index_sequence<I...>) {
      return (HoldsNodes<std::tuple_element_t<I, Own>>::value || ...);
    }(std::make_index_sequence<std::tuple_size_v<Own>>());
  }
}

}  // namespace openqasm3::ast::detail
