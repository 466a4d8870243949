// QubitAllocator: binds every declared qubit register to hardware qubits of the machine and
// rewrites the tree so that each reference to a register is a fresh HwQubit node. Afterwards the
// tree holds no qubit declarations; code generation reads the hardware-qubit numbers from the
// nodes made here.
//
// Three phases on the tree of an OpenQasmProgram:
//   1. collection (_QubitsCollector): the registers with their sizes, in the order the walk meets
//      them, and the set of hardware qubits the program names itself ($3);
//   2. allocation (_map_declared_qubits_to_explicit_qubits): first the total (named hardware
//      qubits, each once, plus every register's size) against the machine's number of qubits
//      (TooManyRequiredQubitsException), then the named qubits the machine lacks
//      (CallingUnsupportedQubitsException); then each register in declaration order takes the
//      lowest hardware qubits still free, never one the program names itself;
//   3. rewriting (_QubitsResolver): q[i] becomes the register's i-th hardware qubit, a register
//      used whole becomes its qubit when it has exactly one; declarations are removed.
//
// A register used whole stands for all of its qubits, in order, in a barrier's operand list only
// (a barrier can take any number of qubits); anywhere else (h q; reset q; measure q -> c;) a
// register of other than one qubit is refused with UnindexedQubitRegisterException, since one
// operand cannot carry several qubits. An index outside the register (or negative) is an
// IndexError naming the register, the index and the size.
//
// Both walks enter switch statements: the cases' labels and blocks are collected and rewritten as
// any other statement list, so no reference inside a case is left unbound.
//
// Collection and allocation leave the tree untouched; rewriting changes it in place and stops at
// the first offending reference, so a failure there may leave the tree partly rewritten. The step
// expects hardware-qubit names to be HwQubit nodes already (HwQubitResolver) and sizes and indices
// to be integer literals already.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/configurations/machine_setup.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::code_generation {

using configurations::HwQubitIndex;

// Register name and size, in the order the declarations were met.
using DeclarationSizes = std::vector<std::pair<std::string, std::int64_t>>;
// Register name and its hardware qubits (entry k serves qubit k), in declaration order.
using DeclaredQubitsMapping = std::vector<std::pair<std::string, std::vector<HwQubitIndex>>>;

class MultipleQubitDefinitionException : public std::exception, public HasLocation {
 public:
  explicit MultipleQubitDefinitionException(std::string name)
      : qubit_name(std::move(name)), message_("Multiple definition of same qubit: '" + qubit_name + "'") {}
  const char* what() const noexcept override { return message_.c_str(); }

  const std::string qubit_name;

 private:
  std::string message_;
};

// The message lists the qubits in ascending order: ['$7', '$9'].
class CallingUnsupportedQubitsException : public std::exception, public HasLocation {
 public:
  explicit CallingUnsupportedQubitsException(std::set<HwQubitIndex> unsupported_qubits);
  const char* what() const noexcept override { return message_.c_str(); }

  const std::set<HwQubitIndex> unsupported_qubits;

 private:
  std::string message_;
};

class TooManyRequiredQubitsException : public std::exception, public HasLocation {
 public:
  TooManyRequiredQubitsException(std::int64_t required_qubits, std::int64_t supported_qubits);
  const char* what() const noexcept override { return message_.c_str(); }

  const std::int64_t required_qubits;
  const std::int64_t supported_qubits;

 private:
  std::string message_;
};

// A register of other than one qubit used whole where one qubit is expected.
class UnindexedQubitRegisterException : public ValueError {
 public:
  UnindexedQubitRegisterException(std::string register_name, std::int64_t size);

  const std::string register_name;
  const std::int64_t size;
};

// Collection. A second declaration of a name is a MultipleQubitDefinitionException; a size that
// is not an integer literal an AssertionError "No expression size is allowed"; a negative literal
// size (only an earlier rewriting step can make one) a ValueError.
class _QubitsCollector : public Visitor<_QubitsCollector>, public configurations::HwQubitVisit {
 public:
  _QubitsCollector();

  DeclarationSizes declaration_to_size;
  std::set<HwQubitIndex> explicitly_stated_hw_qubits;

  void visit_QubitDeclaration(openqasm3::ast::QubitDeclaration& node) override;
  void visit_HwQubit(configurations::HwQubit& node) override;

 private:
  std::unordered_map<std::string, std::int64_t> _declared;
};

// Allocation; changes none of its arguments. OverflowError when the sizes add up beyond int64.
DeclaredQubitsMapping _map_declared_qubits_to_explicit_qubits(const DeclarationSizes& declaration_to_size,
                                                      const std::set<HwQubitIndex>& explicitly_stated_hw_qubits,
                                                      const configurations::MachineSetup& machine_setup);

// Rewriting; see the top of this file for what each reference becomes.
class _QubitsResolver : public Transformer<_QubitsResolver> {
 public:
  explicit _QubitsResolver(const DeclaredQubitsMapping& qubits_mapping);

  openqasm3::ast::Rewrite visit_Identifier(const openqasm3::ast::Ptr<openqasm3::ast::Identifier>& node) override;
  openqasm3::ast::Rewrite visit_IndexedIdentifier(
      const openqasm3::ast::Ptr<openqasm3::ast::IndexedIdentifier>& node) override;
  openqasm3::ast::Rewrite visit_QuantumBarrier(const openqasm3::ast::Ptr<openqasm3::ast::QuantumBarrier>& node) override;
  openqasm3::ast::Rewrite visit_QubitDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::QubitDeclaration>& node) override;

 private:
  // The run of a register, or null when `name` is no register.
  const std::vector<HwQubitIndex>* _run(const std::string& name) const;

  std::unordered_map<std::string, const std::vector<HwQubitIndex>*> _qubits_mapping;
};

class QubitAllocator : public Step {
 public:
  // `machine_setup` is shared, not copied: later changes to its qubit mapping are seen. TypeError
  // when it is null. The step's name is always "QubitAllocator".
  explicit QubitAllocator(std::shared_ptr<const configurations::MachineSetup> machine_setup);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

 private:
  const std::shared_ptr<const configurations::MachineSetup> _machine_setup;
};

}  // namespace vell_qasm::passes::code_generation
