// GateInlining: removes user-defined gates from the tree. One walk in program order: each gate
// definition has the calls in its body checked, is banked by name as written and leaves the tree;
// each call of a built-in gate stays as it is, and each call of a banked gate is replaced in its
// statement list by its expansion: a fresh copy of the gate's body with the call's parameter
// expressions and qubit operands put in for the formal names, each call of a user gate in it
// expanded the same way in turn.
//
// The caller decides which gates are built in: a set of GateSignature, held by reference (changes
// made by its owner count from the next lookup), only asked for membership. A built-in call is
// neither checked nor expanded; code generation resolves it through the hardware configuration.
// A definition of a built-in name is refused, as is a second definition of a banked name unless
// it equals the first (structurally, spans aside, bodies as written or else as expanded), when it
// is dropped. A body can call only built-in gates and gates defined before it, and a top-level
// call must come after its definition.
//
// Expansion happens only where a gate is called, never where it is defined, so a gate that no
// statement calls costs its definition and nothing more; banked bodies stay as written, so a bank
// of gates each calling the previous one is linear in the source. Each body statement is copied,
// then each identifier that bears a formal name is replaced by the call's own node for it: every
// occurrence of one formal name, across one expansion, is that very node. When a name is both a
// parameter and a qubit, the qubit wins. A called gate's name and a function's name are never
// replaced; other names (constants) stay. A gate parameter is an angle: the call's expression is
// read as a real number (an integer literal becomes a float literal, any expression that is not
// plainly real is cast to float), so `half(1)` with `rz(c / 2)` rotates by 0.5.
//
// Bound: before a top-level call is expanded, the size of its whole expansion (syntax nodes,
// counting every nested call and every copy of an argument) is computed from the banked bodies
// without building anything; when the program's expansions together would pass `max_expansion`,
// the call is refused with ExpansionLimitException. Chains of gates that double their size at
// each level are thereby refused at once, whatever they expand to.
//
// Failures: a call of an unknown gate is SignatureNotFoundException at top level and
// MissingDefinitionException inside a body (the former as its cause); a count mismatch is
// ArgumentsMismatchException (parameters checked before qubits); any gate modifier is a
// NotImplementedError "Modifiers are not yet implemented", built-in gates included; a name that
// no declaration before the call introduces, in a parameter expression that the gate's body
// never reads, is UndeclaredArgumentException (a read one fails later where it is used).
//
// DEBUG records go to "vell_qasm.passes.code_resolving.gate_inlining", one for each definition
// banked or dropped, built-in call met in a body or at top level and call expanded; their text is
// built only when a sink records DEBUG.
//
// The walk enters switch cases too (labels and blocks), since code generation emits case blocks;
// the other expressions it leaves alone, since they hold no gate calls (a durationof block is
// left as written: the compiler refuses it).
// The tree is rewritten in place; the returned OpenQasmProgram shares it, and a failure leaves
// what was rewritten before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "openqasm3/ast.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::code_resolving {

// One gate, by name alone: arity is compared at each call.
struct GateSignature {
  std::string name;

  static GateSignature from_quantum_gate_definition(const openqasm3::ast::QuantumGateDefinition& node);
  // GateSignature(name='h')
  std::string text() const;
  friend bool operator==(const GateSignature&, const GateSignature&) = default;
};

}  // namespace vell_qasm::passes::code_resolving

template <>
struct std::hash<vell_qasm::passes::code_resolving::GateSignature> {
  std::size_t operator()(const vell_qasm::passes::code_resolving::GateSignature& s) const noexcept {
    return std::hash<std::string>()(s.name);
  }
};

namespace vell_qasm::passes::code_resolving {

// Hashing and equality of signatures that also take a bare name, so that a call's name is
// looked up where it stands, without a GateSignature made of a copy of it.
struct GateSignatureHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>()(name); }
  std::size_t operator()(const GateSignature& s) const noexcept { return (*this)(std::string_view(s.name)); }
};
struct GateSignatureEqual {
  using is_transparent = void;
  static std::string_view name_of(std::string_view name) { return name; }
  static std::string_view name_of(const GateSignature& s) { return s.name; }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const noexcept {
    return name_of(a) == name_of(b);
  }
};

using GateSignatures = std::unordered_set<GateSignature, GateSignatureHash, GateSignatureEqual>;

// Base of every failure of gate inlining; `node` is the node at fault.
class GateResolverException : public std::exception, public HasLocation {
 public:
  explicit GateResolverException(openqasm3::ast::NodePtr node);
  const char* what() const noexcept override { return _message.c_str(); }

  const openqasm3::ast::NodePtr node;

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node.get(); }
  std::string _message;
};

// A call that cannot be resolved.
class UnresolvableGateException : public GateResolverException {
 public:
  using GateResolverException::GateResolverException;
};

// A call that names neither a built-in nor a banked gate.
class SignatureNotFoundException : public UnresolvableGateException {
 public:
  explicit SignatureNotFoundException(openqasm3::ast::Ptr<openqasm3::ast::QuantumGate> node);
};

// A call whose parameter ("argument") or qubit ("qubit") count differs from its definition's.
class ArgumentsMismatchException : public UnresolvableGateException {
 public:
  ArgumentsMismatchException(openqasm3::ast::Ptr<openqasm3::ast::QuantumGate> node,
                             openqasm3::ast::Ptr<openqasm3::ast::QuantumGateDefinition> gate_definition,
                             std::string argument_type);

  const openqasm3::ast::Ptr<openqasm3::ast::QuantumGateDefinition> gate_definition;
  const std::string argument_type;
};

// A definition at fault; `definition_signature` names the gate.
class GateDefinitionException : public GateResolverException {
 public:
  GateDefinitionException(openqasm3::ast::NodePtr node, GateSignature definition_signature);

  const GateSignature definition_signature;
};

// A second, different definition of a banked name, or a definition of a built-in name; `node` is
// the later definition.
class MultipleDefinitionsException : public GateDefinitionException {
 public:
  MultipleDefinitionsException(openqasm3::ast::NodePtr node, GateSignature definition_signature);
};

// A top-level call whose expansion would take the program's gate expansions past the bound;
// `node` is the call, `expansion` the size (syntax nodes) the program's expansions would reach
// with it (saturated at kSaturatedExpansion), `limit` the bound.
class ExpansionLimitException : public UnresolvableGateException {
 public:
  ExpansionLimitException(openqasm3::ast::Ptr<openqasm3::ast::QuantumGate> node, std::uint64_t expansion,
                          std::int64_t limit);

  const std::uint64_t expansion;
  const std::int64_t limit;
};

// A name in a parameter expression of a gate call that nothing declared before the call, where the
// gate's body never reads that parameter (so no later step would meet the name); `node` is the
// identifier, `gate` the called gate's name.
class UndeclaredArgumentException : public UnresolvableGateException {
 public:
  UndeclaredArgumentException(openqasm3::ast::Ptr<openqasm3::ast::Identifier> node, std::string gate);

  const std::string gate;
};

// A call inside the body of `definition_signature` that names no built-in and no earlier gate;
// `node` is that call, cause() the SignatureNotFoundException it replaced.
class MissingDefinitionException : public GateDefinitionException, public HasCause {
 public:
  MissingDefinitionException(openqasm3::ast::NodePtr node, GateSignature definition_signature);
};

// The default bound of the syntax nodes that one program's gate calls may expand to: about
// 600,000 gate applications such as `U(a, b, c) q[0];`, far above what real programs need; a
// program at the bound takes the whole compilation some seconds and a few GB.
inline constexpr std::int64_t kDefaultMaxExpansion = 5'000'000;
// Expansion sizes are counted up to this value and stay there.
inline constexpr std::uint64_t kSaturatedExpansion = std::uint64_t{1} << 62;

class GateInlining : public Step {
 public:
  // A null set is a TypeError naming `built_in_gates`; a negative bound is a ValueError.
  explicit GateInlining(std::shared_ptr<const GateSignatures> built_in_gates,
                        std::int64_t max_expansion = kDefaultMaxExpansion);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree. Each call starts with an empty bank.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

  const std::shared_ptr<const GateSignatures> built_in_gates;
  // The syntax nodes that one run may produce by expanding calls.
  const std::int64_t max_expansion;
};

}  // namespace vell_qasm::passes::code_resolving
