#include "vell_qasm/passes/code_generation/qubit_binding.hpp"

#include <algorithm>
#include <iterator>

#include "vell_qasm/passes/code_generation/lower_expression.hpp"


namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;
using configurations::create_hw_qubit;

namespace {

std::string qubits_text(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " qubit" : " qubits");
}

// A plain Identifier (not an HwQubit, whose name is never a register's).
bool is_plain_identifier(const ast::NodePtr& node) {
  return node != nullptr && ast::is_exactly<ast::Identifier>(*node);
}

}  // namespace

// ---- exceptions ----

CallingUnsupportedQubitsException::CallingUnsupportedQubitsException(std::set<HwQubitIndex> unsupported_qubits_)
    : unsupported_qubits(std::move(unsupported_qubits_)) {
  message_ = "The explicitly called qubits [";
  bool first = true;
  for (HwQubitIndex index : unsupported_qubits) {
    if (!first) message_ += ", ";
    first = false;
    message_ += "'$" + std::to_string(index) + "'";
  }
  message_ += "] are not supported by the system.";
}

TooManyRequiredQubitsException::TooManyRequiredQubitsException(std::int64_t required_qubits_,
                                                               std::int64_t supported_qubits_)
    : required_qubits(required_qubits_),
      supported_qubits(supported_qubits_),
      message_("This code requires " + std::to_string(required_qubits) + ", but the hardware support only " +
               std::to_string(supported_qubits) + " qubits.") {}

UnindexedQubitRegisterException::UnindexedQubitRegisterException(std::string register_name_, std::int64_t size_)
    : ValueError("The qubit register '" + register_name_ + "' of " + qubits_text(size_) +
                 " is used without an index where one qubit is expected; only a barrier takes a whole register"),
      register_name(std::move(register_name_)),
      size(size_) {}

// ---- collection ----

_QubitsCollector::_QubitsCollector() {}

void _QubitsCollector::visit_QubitDeclaration(ast::QubitDeclaration& node) {
  check(node.qubit != nullptr, "A qubit declaration names its register");
  const std::string& declaration_name = node.qubit->name;
  if (_declared.contains(declaration_name)) throw MultipleQubitDefinitionException(declaration_name);
  std::int64_t size = 1;
  if (node.size) {
    const auto* literal = ast::dyn_cast<ast::IntegerLiteral>(node.size.get());
    check(literal != nullptr, "No expression size is allowed");
    size = literal->value;
    if (size < 0)
      throw ValueError("The qubit register '" + declaration_name + "' has a negative size " + std::to_string(size));
  }
  _declared.emplace(declaration_name, size);
  declaration_to_size.emplace_back(declaration_name, size);
}

void _QubitsCollector::visit_HwQubit(configurations::HwQubit& node) { explicitly_stated_hw_qubits.insert(node.index); }

// ---- allocation ----

DeclaredQubitsMapping _map_declared_qubits_to_explicit_qubits(const DeclarationSizes& declaration_to_size,
                                                      const std::set<HwQubitIndex>& explicitly_stated_hw_qubits,
                                                      const configurations::MachineSetup& machine_setup) {
  check(machine_setup.hw_qubits != nullptr);
  const configurations::QubitsMapping& pool = *machine_setup.hw_qubits;
  const auto pool_size = static_cast<std::int64_t>(pool.size());

  auto total_required_qubits = static_cast<std::int64_t>(explicitly_stated_hw_qubits.size());
  for (const auto& [name, size] : declaration_to_size) {
    if (__builtin_add_overflow(total_required_qubits, size, &total_required_qubits))
      throw OverflowError("The qubit registers of this code need more qubits than can be counted");
  }
  if (total_required_qubits > pool_size) throw TooManyRequiredQubitsException(total_required_qubits, pool_size);

  std::set<HwQubitIndex> unsupported_qubits;
  for (HwQubitIndex index : explicitly_stated_hw_qubits)
    if (!pool.contains(index)) unsupported_qubits.insert(index);
  if (!unsupported_qubits.empty()) throw CallingUnsupportedQubitsException(std::move(unsupported_qubits));

  // The machine's qubits in ascending order (the mapping is ordered), less those named explicitly.
  std::vector<HwQubitIndex> sorted_pool;
  sorted_pool.reserve(pool.size());
  for (const auto& entry : pool)
    if (!explicitly_stated_hw_qubits.contains(entry.first)) sorted_pool.push_back(entry.first);

  DeclaredQubitsMapping mapping;
  mapping.reserve(declaration_to_size.size());
  auto next = sorted_pool.begin();
  for (const auto& [name, size] : declaration_to_size) {
    // The checks above leave enough free qubits for every register.
    auto stop = next + size;
    mapping.emplace_back(name, std::vector<HwQubitIndex>(next, stop));
    next = stop;
  }
  return mapping;
}

// ---- rewriting ----

_QubitsResolver::_QubitsResolver(const DeclaredQubitsMapping& qubits_mapping) {
  _qubits_mapping.reserve(qubits_mapping.size());
  for (const auto& [name, run] : qubits_mapping) _qubits_mapping.emplace(name, &run);
}

const std::vector<HwQubitIndex>* _QubitsResolver::_run(const std::string& name) const {
  auto found = _qubits_mapping.find(name);
  return found == _qubits_mapping.end() ? nullptr : found->second;
}

ast::Rewrite _QubitsResolver::visit_Identifier(const ast::Ptr<ast::Identifier>& node) {
  const auto* run = _run(node->name);
  if (run == nullptr) return node;
  if (run->size() != 1) throw UnindexedQubitRegisterException(node->name, static_cast<std::int64_t>(run->size()));
  return create_hw_qubit(run->front());
}

ast::Rewrite _QubitsResolver::visit_IndexedIdentifier(const ast::Ptr<ast::IndexedIdentifier>& node) {
  if (node->name == nullptr) return node;
  const std::string& name = node->name->name;
  const auto* run = _run(name);
  if (run == nullptr || !ast::is_exactly<ast::Identifier>(*node->name)) return node;
  check(node->indices.size() == 1, "Only 1-length indexing is allowed");
  const ast::ExprPtr index = extract_single_index(node->indices.front());
  const auto* literal = ast::dyn_cast<ast::IntegerLiteral>(index.get());
  check(literal != nullptr, "Only explicit qubit pointers are supported");
  const auto size = static_cast<std::int64_t>(run->size());
  if (literal->value < 0 || literal->value >= size)
    throw IndexError("Index " + std::to_string(literal->value) + " is out of range for the qubit register '" + name +
                     "' of " + qubits_text(size));
  return create_hw_qubit((*run)[static_cast<std::size_t>(literal->value)]);
}

ast::Rewrite _QubitsResolver::visit_QuantumBarrier(const ast::Ptr<ast::QuantumBarrier>& node) {
  // A whole register stands for all its qubits here; every other operand is rewritten as anywhere.
  std::vector<ast::NodePtr> qubits;
  qubits.reserve(node->qubits.size());
  for (const ast::NodePtr& operand : node->qubits) {
    const auto* run = is_plain_identifier(operand) ? _run(static_cast<const ast::Identifier&>(*operand).name) : nullptr;
    if (run != nullptr) {
      std::transform(run->begin(), run->end(), std::back_inserter(qubits),
                     [](HwQubitIndex index) { return ast::NodePtr(create_hw_qubit(index)); });
      continue;
    }
    ast::Rewrite rewritten = visit(operand);
    if (operand == nullptr) {
      qubits.push_back(operand);  // kept, as the generic walk keeps it
    } else if (rewritten.is_node()) {
      qubits.push_back(rewritten.node());
    } else if (rewritten.is_list()) {
      qubits.insert(qubits.end(), rewritten.list().begin(), rewritten.list().end());
    }
  }
  node->qubits = std::move(qubits);
  return node;
}

ast::Rewrite _QubitsResolver::visit_QubitDeclaration(const ast::Ptr<ast::QubitDeclaration>&) { return nullptr; }

// ---- the step ----

QubitAllocator::QubitAllocator(std::shared_ptr<const configurations::MachineSetup> machine_setup)
    : Step(std::nullopt, "QubitAllocator"), _machine_setup(std::move(machine_setup)) {
  if (_machine_setup == nullptr) throw TypeError("QubitAllocator needs a MachineSetup, got none");
}

programs::ProgramPtr QubitAllocator::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  _QubitsCollector collector;
  collector.visit(tree);
  const DeclaredQubitsMapping mapping = _map_declared_qubits_to_explicit_qubits(
      collector.declaration_to_size, collector.explicitly_stated_hw_qubits, *_machine_setup);
  _QubitsResolver resolver(mapping);
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(resolver, tree));
}

}  // namespace vell_qasm::passes::code_generation
