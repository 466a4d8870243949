// Short makers for hand-built trees in the tests, and two node classes defined outside the library
// (as the compiler defines HwQubit and TavoDeclaration) to check that such classes take part in
// dispatch, equality, copying and printing under their own class.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "openqasm3/ast.hpp"

namespace qasm_test {

using namespace openqasm3::ast;

// An identifier-like node of an outside class, with one field of its own.
struct OutsideQubit : NodeImpl<OutsideQubit, Identifier> {
  static constexpr std::string_view kName = "OutsideQubit";
  static constexpr std::string_view kModule = "tests.outside";
  std::int64_t index = 0;
  OutsideQubit() = default;
  OutsideQubit(std::string name_, std::int64_t index_) : index(index_) { name = std::move(name_); }
  template <class S> static auto own_fields(S& s) { return std::make_tuple(field("index", s.index)); }
};

// A statement of an outside class, with a child expression and a body.
struct OutsideDeclaration : NodeImpl<OutsideDeclaration, Statement> {
  static constexpr std::string_view kName = "OutsideDeclaration";
  static constexpr std::string_view kModule = "tests.outside";
  ExprPtr value{};
  std::vector<StmtPtr> body{};
  OutsideDeclaration() = default;
  OutsideDeclaration(ExprPtr value_, std::vector<StmtPtr> body_)
      : value(std::move(value_)), body(std::move(body_)) {}
  template <class S> static auto own_fields(S& s) {
    return std::make_tuple(field("value", s.value), field("body", s.body));
  }
};

// A value that is not a node, carried by an outside statement.
struct Tag {
  std::string label;
  friend bool operator==(const Tag&, const Tag&) = default;
};
inline std::string payload_text(const std::shared_ptr<Tag>& tag) { return tag ? "Tag(" + tag->label + ")" : "None"; }

// An outside statement with a payload and a printed form, and one child expression.
struct OutsideNote : NodeImpl<OutsideNote, Statement> {
  static constexpr std::string_view kName = "OutsideNote";
  static constexpr std::string_view kModule = "tests.outside";
  std::shared_ptr<Tag> tag{};
  ExprPtr value{};
  OutsideNote() = default;
  OutsideNote(std::shared_ptr<Tag> tag_, ExprPtr value_) : tag(std::move(tag_)), value(std::move(value_)) {}
  template <class S> static auto own_fields(S& s) {
    return std::make_tuple(payload("tag", s.tag), field("value", s.value));
  }
  std::optional<std::string> printed_text() const override { return "note " + (tag ? tag->label : "?"); }
};

inline Ptr<Identifier> id(std::string name) { return make<Identifier>(std::move(name)); }
inline Ptr<IntegerLiteral> num(std::int64_t v) { return make<IntegerLiteral>(v); }
inline Ptr<FloatLiteral> real(double v) { return make<FloatLiteral>(v); }

inline Ptr<BinaryExpression> bin(std::string_view op, ExprPtr lhs, ExprPtr rhs) {
  return make<BinaryExpression>(*from_symbol<BinaryOperator>(op), std::move(lhs), std::move(rhs));
}
inline Ptr<UnaryExpression> un(std::string_view op, ExprPtr e) {
  return make<UnaryExpression>(*from_symbol<UnaryOperator>(op), std::move(e));
}
inline Ptr<IndexExpression> at(ExprPtr collection, IndexList items) {
  return make<IndexExpression>(std::move(collection), IndexElement(std::move(items)));
}
inline Ptr<IndexedIdentifier> indexed(std::string name, std::vector<IndexElement> indices) {
  return make<IndexedIdentifier>(id(std::move(name)), std::move(indices));
}
inline Ptr<RangeDefinition> range(ExprPtr start, ExprPtr end, ExprPtr step = nullptr) {
  return make<RangeDefinition>(std::move(start), std::move(end), std::move(step));
}
inline Ptr<QuantumGate> gate(std::string name, std::vector<ExprPtr> args, std::vector<NodePtr> qubits) {
  return make<QuantumGate>(std::vector<Ptr<QuantumGateModifier>>{}, id(std::move(name)), std::move(args),
                           std::move(qubits));
}
inline Ptr<ExpressionStatement> stmt(ExprPtr e) { return make<ExpressionStatement>(std::move(e)); }

template <class T> Ptr<T> annotate(Ptr<T> s, std::string keyword, std::optional<std::string> command = std::nullopt) {
  s->annotations.push_back(make<Annotation>(std::move(keyword), std::move(command)));
  return s;
}

}  // namespace qasm_test
