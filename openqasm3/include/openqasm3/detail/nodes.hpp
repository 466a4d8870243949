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
