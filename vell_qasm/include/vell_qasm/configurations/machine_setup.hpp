// MachineSetup: the hardware configuration that the caller builds once and hands to the steps.
//
// It joins the operations registry and the qubit mapping and answers, for one call of an
// operation on hardware qubits with parameters: which target function, with which arguments, and
// which controller elements to align around the call.
//
// The qubit mapping is held by shared pointer, never copied: the caller keeps its own pointer and
// every query reads the mapping afresh, so qubits the caller adds or removes later are seen by
// every later call. Qubits the mapping lacks are refused (NotSupportedQubits) before the registry
// is asked.
#pragma once

#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/configurations/op_registry.hpp"

namespace vell_qasm::configurations {

// A call on qubits that the machine does not have.
class NotSupportedQubits : public UnresolvableOperation {
 public:
  NotSupportedQubits(std::string operation_name, std::vector<HwQubitIndex> called_qubits,
                     std::set<HwQubitIndex> supported_qubits);

  const std::string name;
  const std::vector<HwQubitIndex> called_qubits;  // call order, repetitions kept
  const std::set<HwQubitIndex> supported_qubits;
};

struct ResolvedOperation {
  TavoFunc func;
  TavoArgs params;             // the complete arguments for func
  Elements elements_to_align;  // distinct elements of all the call's qubits, ascending

  // Plain values compare by value, SDK expressions by identity (an expression's own == builds an
  // SDK expression).
  friend bool operator==(const ResolvedOperation& a, const ResolvedOperation& b);
};

class MachineSetup {
 public:
  // Builds and validates the registry from `operations`; its definition errors propagate.
  // TypeError when `hw_qubits` is null.
  MachineSetup(const OperationsMapping& operations, std::shared_ptr<const QubitsMapping> hw_qubits);
  // Takes a ready registry. TypeError when either pointer is null.
  MachineSetup(std::shared_ptr<const OperationsDatabase> quantum_op_registry,
               std::shared_ptr<const QubitsMapping> hw_qubits);

  std::shared_ptr<const OperationsDatabase> quantum_op_registry;
  std::shared_ptr<const QubitsMapping> hw_qubits;

  // NotSupportedQubits for a qubit the mapping lacks (before the registry is asked);
  // UnresolvableOperation from the registry when no operation accepts the call.
  ResolvedOperation resolve_operation(std::string_view name, std::span<const HwQubitIndex> qubit_indices,
                                      TavoArgs params = {}) const;

  // The distinct elements of the qubits, ascending. KeyError for a qubit the mapping lacks.
  Elements get_elements_to_align(std::span<const HwQubitIndex> hw_qubits) const;

 private:
  const QubitsMapping& mapping() const;
  const OperationsDatabase& registry() const;
  std::set<HwQubitIndex> _supported_qubit_indices() const;
};

}  // namespace vell_qasm::configurations
