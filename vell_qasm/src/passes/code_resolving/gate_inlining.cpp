#include "vell_qasm/passes/code_resolving/gate_inlining.hpp"

#include <unordered_map>
#include <utility>
#include <vector>

#include "vell_qasm/logging.hpp"
#include "vell_qasm/passes/walker.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

namespace {

spdlog::logger& logger() {
  static const auto instance = logging::get_logger("vell_qasm.passes.code_resolving.gate_inlining");
  return *instance;
}

const std::string& gate_name(const ast::QuantumGate& node) {
  check(node.name != nullptr);
  return node.name->name;
}

// The definition's shape with placeholders: cu(x0, x1) q0, q1 (h q0 without parameters).
std::string signature_text(const ast::QuantumGateDefinition& definition) {
  std::string text = definition.name->name;
  if (!definition.arguments.empty()) {
    text += '(';
    for (std::size_t i = 0; i < definition.arguments.size(); ++i) {
      if (i) text += ", ";
      text += 'x' + std::to_string(i);
    }
    text += ')';
  }
  text += ' ';
  for (std::size_t i = 0; i < definition.qubits.size(); ++i) {
    if (i) text += ", ";
    text += 'q' + std::to_string(i);
  }
  return text;
}

// Puts the call's own nodes in for the formal names of one expansion.
class IdentifierTransformer : public Transformer<IdentifierTransformer> {
 public:
  explicit IdentifierTransformer(std::unordered_map<std::string, ast::NodePtr> args_transformation)
      : args_transformation(std::move(args_transformation)) {}

  ast::Rewrite visit_Identifier(const ast::Ptr<ast::Identifier>& node) override {
    auto found = args_transformation.find(node->name);
    if (found != args_transformation.end()) return found->second;
    return node;
  }

  // Fresh statements for one call. Each statement is copied without sharing: a node standing at
  // two places of the banked body must be substituted once at each, not twice in one object.
  std::vector<ast::NodePtr> transform_statements_of_gate_definition(const ast::QuantumGateDefinition& gate_def) {
    std::vector<ast::NodePtr> statements;
    statements.reserve(gate_def.body.size());
    for (const auto& statement : gate_def.body) {
      ast::Rewrite result = visit(ast::deep_copy_unshared(statement));
      if (result.is_list()) {
        statements.insert(statements.end(), result.list().begin(), result.list().end());
      } else if (result.is_node()) {
        statements.push_back(result.node());
      }
    }
    return statements;
  }

  std::unordered_map<std::string, ast::NodePtr> args_transformation;
};

class GateResolverTransformer : public Transformer<GateResolverTransformer> {
 public:
  explicit GateResolverTransformer(std::shared_ptr<const GateSignatures> built_in_gates)
      : _built_in_gates(std::move(built_in_gates)) {
    if (!_built_in_gates)
      throw TypeError("Argument 'built_in_gates' has incorrect type (expected set, got NoneType)");
  }

  // Expands the calls of the body, banks the definition and deletes it from the tree.
  ast::Rewrite visit_QuantumGateDefinition(const ast::Ptr<ast::QuantumGateDefinition>& node) override {
    check(node->name != nullptr);
    try {
      generic_visit(node);
    } catch (const SignatureNotFoundException& e) {
      MissingDefinitionException missing(e.node, GateSignature::from_quantum_gate_definition(*node));
      missing.set_cause(std::current_exception());
      throw missing;
    }
    _add_gate(node);
    return nullptr;
  }

  ast::Rewrite visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) override {
    if (!node->modifiers.empty()) throw NotImplementedError("Modifiers are not yet implemented");
    return resolve_gate_definition(node);
  }

  // The call itself when built in, else the statements of its expansion.
  ast::Rewrite resolve_gate_definition(const ast::Ptr<ast::QuantumGate>& node) {
    if (_is_built_in(*node)) {
      logging::debug(logger(), [&] { return "Node " + node->name->name + " is built-in, and will stay as is."; });
      return node;
    }
    const auto& gate_definition = _get_gate_definition(node);
    _log_found_definition(*node, *gate_definition);
    return _get_gate_transformation(*gate_definition, *node).transform_statements_of_gate_definition(*gate_definition);
  }

 private:
  // A plain lookup: a user gate's call is no failure of the built-in test.
  bool _is_built_in(const ast::QuantumGate& node) const {
    return _built_in_gates->contains(GateSignature{gate_name(node)});
  }

  void _add_gate(const ast::Ptr<ast::QuantumGateDefinition>& node) {
    auto signature = GateSignature::from_quantum_gate_definition(*node);
    if (!_built_in_gates->contains(signature)) {
      auto banked = _signature_to_definition.find(signature);
      if (banked == _signature_to_definition.end()) {
        logging::debug(logger(), [&] { return "Added the definition of \"" + signature.name + "\" to the bank."; });
        _signature_to_definition.emplace(std::move(signature), node);
        return;
      }
      if (ast::equal(*banked->second, *node)) {
        logging::debug(logger(), [] { return std::string("Ignoring duplicated definition"); });
        return;
      }
    }
    throw MultipleDefinitionsException(node, std::move(signature));
  }

  const ast::Ptr<ast::QuantumGateDefinition>& _get_gate_definition(const ast::Ptr<ast::QuantumGate>& node) const {
    auto banked = _signature_to_definition.find(GateSignature{gate_name(*node)});
    if (banked == _signature_to_definition.end()) throw SignatureNotFoundException(node);
    _validate_calling_arguments(banked->second, node);
    return banked->second;
  }

  static void _log_found_definition(const ast::QuantumGate& node, const ast::QuantumGateDefinition& gate_definition) {
    logging::debug(logger(), [&] {
      return "Transforming gate call \"" + node.name->name + "\" to \"" + signature_text(gate_definition) + "\"";
    });
  }

  static void _validate_calling_arguments(const ast::Ptr<ast::QuantumGateDefinition>& gate_def,
                                          const ast::Ptr<ast::QuantumGate>& node) {
    if (gate_def->arguments.size() != node->arguments.size())
      throw ArgumentsMismatchException(node, gate_def, "argument");
    if (gate_def->qubits.size() != node->qubits.size()) throw ArgumentsMismatchException(node, gate_def, "qubit");
  }

  // Formal name to the call's node; a qubit's entry replaces a parameter's of the same name.
  static IdentifierTransformer _get_gate_transformation(const ast::QuantumGateDefinition& gate_def,
                                                        const ast::QuantumGate& node) {
    std::unordered_map<std::string, ast::NodePtr> transformation;
    transformation.reserve(gate_def.arguments.size() + gate_def.qubits.size());
    for (std::size_t i = 0; i < gate_def.arguments.size(); ++i)
      transformation.insert_or_assign(gate_def.arguments[i]->name, node.arguments[i]);
    for (std::size_t i = 0; i < gate_def.qubits.size(); ++i)
      transformation.insert_or_assign(gate_def.qubits[i]->name, node.qubits[i]);
    return IdentifierTransformer(std::move(transformation));
  }

  std::unordered_map<GateSignature, ast::Ptr<ast::QuantumGateDefinition>> _signature_to_definition;
  std::shared_ptr<const GateSignatures> _built_in_gates;
};

}  // namespace

GateSignature GateSignature::from_quantum_gate_definition(const ast::QuantumGateDefinition& node) {
  check(node.name != nullptr);
  return GateSignature{node.name->name};
}

std::string GateSignature::text() const {
  std::string out = "GateSignature(name=";
  ast::detail::repr_string(out, name);
  out += ')';
  return out;
}

GateResolverException::GateResolverException(ast::NodePtr node_) : node(std::move(node_)) {}

SignatureNotFoundException::SignatureNotFoundException(ast::Ptr<ast::QuantumGate> node_)
    : UnresolvableGateException(std::move(node_)) {
  _message = "Didn't find a signature for " + ast::repr(node) + ".";
}

ArgumentsMismatchException::ArgumentsMismatchException(ast::Ptr<ast::QuantumGate> node_,
                                                       ast::Ptr<ast::QuantumGateDefinition> gate_definition_,
                                                       std::string argument_type_)
    : UnresolvableGateException(node_),
      gate_definition(std::move(gate_definition_)),
      argument_type(std::move(argument_type_)) {
  check(node_ != nullptr && gate_definition != nullptr && gate_definition->name != nullptr);
  const bool qubits = argument_type == "qubit";
  const std::size_t required = qubits ? gate_definition->qubits.size() : gate_definition->arguments.size();
  const std::size_t provided = qubits ? node_->qubits.size() : node_->arguments.size();
  _message = "The gate definition of '" + gate_definition->name->name + "' requires " + std::to_string(required) +
             " " + argument_type + "s, but " + std::to_string(provided) + " were provided.";
}

GateDefinitionException::GateDefinitionException(ast::NodePtr node_, GateSignature definition_signature_)
    : GateResolverException(std::move(node_)), definition_signature(std::move(definition_signature_)) {}

MultipleDefinitionsException::MultipleDefinitionsException(ast::NodePtr node_, GateSignature definition_signature_)
    : GateDefinitionException(std::move(node_), std::move(definition_signature_)) {
  _message = "Two definitions of the same signature: " + definition_signature.text() +
             ", second signature found at " + ast::repr(node) + ".";
}

MissingDefinitionException::MissingDefinitionException(ast::NodePtr node_, GateSignature definition_signature_)
    : GateDefinitionException(std::move(node_), std::move(definition_signature_)) {
  _message = "Error at " + definition_signature.text() + ": Unresolved gate call: " + ast::repr(node);
}

GateInlining::GateInlining(std::shared_ptr<const GateSignatures> built_in_gates_)
    : Step(std::nullopt, "GateInlining"), built_in_gates(std::move(built_in_gates_)) {
  if (!built_in_gates) throw TypeError("Argument 'built_in_gates' has incorrect type (expected set, got NoneType)");
}

programs::ProgramPtr GateInlining::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  GateResolverTransformer transformer(built_in_gates);
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(transformer, tree));
}

}  // namespace vell_qasm::passes::code_resolving
