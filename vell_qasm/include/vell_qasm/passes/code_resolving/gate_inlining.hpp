// GateInlining: removes user-defined gates from the tree. One walk in program order: each gate
// definition has the calls in its body expanded, is banked by name and leaves the tree; each
// call of a built-in gate stays as it is, and each call of a banked gate is replaced in its
// statement list by a fresh copy of the gate's body with the call's parameter expressions and
// qubit operands put in for the formal names.
//
// The caller decides which gates are built in: a set of GateSignature, held by reference (changes
// made by its owner count from the next lookup), only asked for membership. A built-in call is
// neither checked nor expanded; code generation resolves it through the hardware configuration.
// A definition of a built-in name is refused, as is a second definition of a banked name unless
// it equals the first (structurally, spans aside), when it is dropped. A body can call only
// built-in gates and gates defined before it, and a top-level call must come after its
// definition.
//
// Expansion: nested calls are expanded once, when their definition is banked, so a call copies an
// already flat body. Each body statement is copied without any sharing (the banked body may hold
// one node at several places, from the expansion of its own calls), then each identifier that
// bears a formal name is replaced by the call's own node for it: every occurrence of one formal
// name, across the whole expansion, is that very node. When a name is both a parameter and a
// qubit, the qubit wins. Identifiers are matched wherever they stand, a called gate's name
// included; other names (constants) stay.
//
// Failures: a call of an unknown gate is SignatureNotFoundException at top level and
// MissingDefinitionException inside a body (the former as its cause); a count mismatch is
// ArgumentsMismatchException (parameters checked before qubits); any gate modifier is a
// NotImplementedError "Modifiers are not yet implemented", built-in gates included.
//
// DEBUG records go to "vell_qasm.passes.code_resolving.gate_inlining", one for each definition
// banked or dropped, built-in call met and call expanded; their text is built only when a sink
// records DEBUG.
//
// The walk enters switch cases too (labels and blocks), since code generation emits case blocks.
// The tree is rewritten in place; the returned OpenQasmProgram shares it, and a failure leaves
// what was rewritten before it.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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

using GateSignatures = std::unordered_set<GateSignature>;

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

// A call inside the body of `definition_signature` that names no built-in and no earlier gate;
// `node` is that call, cause() the SignatureNotFoundException it replaced.
class MissingDefinitionException : public GateDefinitionException, public HasCause {
 public:
  MissingDefinitionException(openqasm3::ast::NodePtr node, GateSignature definition_signature);
};

class GateInlining : public Step {
 public:
  // A null set is a TypeError naming `built_in_gates`.
  explicit GateInlining(std::shared_ptr<const GateSignatures> built_in_gates);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree. Each call starts with an empty bank.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

  const std::shared_ptr<const GateSignatures> built_in_gates;
};

}  // namespace vell_qasm::passes::code_resolving
