#include "vell_qasm/configurations/machine_setup.hpp"

#include <algorithm>

namespace vell_qasm::configurations {

namespace {

// (0, 1, 2), (3,), ()
std::string tuple_text(auto&& indices) {
  std::string out = "(";
  std::size_t n = 0;
  for (HwQubitIndex i : indices) {
    if (n++) out += ", ";
    out += std::to_string(i);
  }
  if (n == 1) out += ',';
  out += ')';
  return out;
}

bool same_value(const vell::tavo::Value& a, const vell::tavo::Value& b) {
  if (a.index() != b.index()) return false;
  if (auto* e = std::get_if<vell::tavo::Expr>(&a)) return e->node() == std::get<vell::tavo::Expr>(b).node();
  return std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, vell::tavo::Expr>) {
          return false;  // handled above
        } else {
          return x == std::get<T>(b);
        }
      },
      a);
}

[[noreturn]] void throw_null(const char* argument, const char* expected) {
  throw TypeError(std::string("Argument '") + argument + "' has incorrect type (expected " + expected +
                  ", got NoneType)");
}

}  // namespace

NotSupportedQubits::NotSupportedQubits(std::string operation_name, std::vector<HwQubitIndex> called_qubits_,
                                       std::set<HwQubitIndex> supported_qubits_)
    : UnresolvableOperation("Operation '" + operation_name + "' is operating on qubits " + tuple_text(called_qubits_) +
                            ". Some of these qubits are not supported. Supported qubits - " +
                            tuple_text(supported_qubits_) + "."),
      name(std::move(operation_name)),
      called_qubits(std::move(called_qubits_)),
      supported_qubits(std::move(supported_qubits_)) {}

bool operator==(const ResolvedOperation& a, const ResolvedOperation& b) {
  return a.func == b.func && a.elements_to_align == b.elements_to_align &&
         std::equal(a.params.begin(), a.params.end(), b.params.begin(), b.params.end(), same_value);
}

MachineSetup::MachineSetup(const OperationsMapping& operations, std::shared_ptr<const QubitsMapping> hw_qubits_)
    : MachineSetup(std::make_shared<const OperationsDatabase>(operations), std::move(hw_qubits_)) {}

MachineSetup::MachineSetup(std::shared_ptr<const OperationsDatabase> quantum_op_registry_,
                           std::shared_ptr<const QubitsMapping> hw_qubits_)
    : quantum_op_registry(std::move(quantum_op_registry_)), hw_qubits(std::move(hw_qubits_)) {
  registry();
  mapping();
}

const QubitsMapping& MachineSetup::mapping() const {
  if (!hw_qubits) throw_null("hw_qubits", "QubitsMapping");
  return *hw_qubits;
}

const OperationsDatabase& MachineSetup::registry() const {
  if (!quantum_op_registry) throw_null("quantum_op_registry", "OperationsDatabase");
  return *quantum_op_registry;
}

std::set<HwQubitIndex> MachineSetup::_supported_qubit_indices() const {
  std::set<HwQubitIndex> out;
  for (const auto& entry : mapping()) out.insert(out.end(), entry.first);
  return out;
}

ResolvedOperation MachineSetup::resolve_operation(std::string_view name, std::span<const HwQubitIndex> qubit_indices,
                                                  TavoArgs params) const {
  const QubitsMapping& qubits = mapping();
  for (HwQubitIndex q : qubit_indices)
    if (!qubits.contains(q))
      throw NotSupportedQubits(std::string(name), std::vector<HwQubitIndex>(qubit_indices.begin(), qubit_indices.end()),
                               _supported_qubit_indices());
  auto [func, args] = registry().resolve_operation(name, qubit_indices, std::move(params));
  return ResolvedOperation{std::move(func), std::move(args), get_elements_to_align(qubit_indices)};
}

Elements MachineSetup::get_elements_to_align(std::span<const HwQubitIndex> hw_qubits_) const {
  const QubitsMapping& qubits = mapping();
  // Operations take one or two qubits of a few elements each: a sorted vector without
  // repetitions beats a tree of strings.
  Elements elements;
  for (HwQubitIndex q : hw_qubits_) {
    auto found = qubits.find(q);
    if (found == qubits.end()) throw KeyError(std::to_string(q));
    elements.insert(elements.end(), found->second.begin(), found->second.end());
  }
  std::sort(elements.begin(), elements.end());
  elements.erase(std::unique(elements.begin(), elements.end()), elements.end());
  return elements;
}

}  // namespace vell_qasm::configurations
