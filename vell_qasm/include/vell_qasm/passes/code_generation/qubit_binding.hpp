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
//   3. rewriting (_QubitsResolver, or the cheaper _QubitOperandsResolver or
//      _QubitStatementsResolver where the collection found that no name, or no name nor indexed
//      name, outside a qubit operand can be a register's): q[i] becomes the
//      register's i-th hardware qubit (an index that folds to an integer literal, such as 3 - 1
//      after constant inlining, counts as one); declarations are removed. Where the collection
//      found every reference plain enough (see _QubitsCollector::rewrites_in_place), no walk at
//      all: the operands it noted are replaced where they stand.
//
// A register used whole stands for all of its qubits, in order (a qubit declared without a size is
// one qubit, not a register):
// - in a barrier's or delay's operand list it is replaced by them (one instruction on all);
// - a gate call, reset or measurement with whole-register operands is repeated once per qubit,
//   the k-th time on qubit k of each register (single-qubit operands stay the same in every
//   repetition): `cx a, b;` of two 2-qubit registers becomes `cx a[0], b[0]; cx a[1], b[1];`.
//   Registers of different sizes in one statement are a ValueError naming both. A measurement
//   with a target assigns qubit k's result to bit k of the target, which must then be a register
//   of the same size when its declaration (a TavoDeclaration met earlier in the walk) is known
//   (a ValueError naming both otherwise);
// - anywhere else (gphase, an expression) a register of other than one qubit is refused with
//   UnindexedQubitRegisterException, and a register of one qubit stands for its qubit.
// An index outside the register (or negative) is an IndexError naming the register, the index and
// the size.
//
// Both walks enter switch statements: the cases' labels and blocks are collected and rewritten as
// any other statement list, so no reference inside a case is left unbound.
//
// Collection and allocation leave the tree untouched; rewriting changes it in place and stops at
// the first offending reference, so a failure there may leave the tree partly rewritten. The step
// expects hardware-qubit names to be HwQubit nodes already (HwQubitResolver) and sizes and indices
// to be integer literals already.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/configurations/machine_setup.hpp"
#include "vell_qasm/passes/code_generation/io_binding.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/utils.hpp"
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

  // Collects the program, noting the positions of its top-level statements (see
  // rewrites_in_place). Visiting the program instead collects the same but never rewrites in place.
  void collect(openqasm3::ast::Program& program);

  DeclarationSizes declaration_to_size;
  std::set<HwQubitIndex> explicitly_stated_hw_qubits;
  // The names declared without a size (`qubit q;`): single qubits, never broadcast.
  std::unordered_set<std::string> single_qubits;

  // Whether the rewriting must look at every identifier and every classical declaration: some
  // identifier outside the qubit operands of a statement may name a register (names are told
  // apart by length and first character only, so the answer may be yes for none), or a plain
  // name is measured into a plain name (whose declared size the rewriting checks).
  bool rewriting_needs_names() const;
  // Whether the rewriting must look at indexed identifiers outside the qubit operands it
  // resolves itself: some such identifier (told apart as above) may name a register, or an
  // operand of another kind may hold one.
  bool rewriting_needs_indexed_names() const;
  // Whether rewrite_in_place may do what _QubitStatementsResolver would do, which needs neither
  // of the above, and of the qubit operands: a register indexed once (q[...]) or a single qubit,
  // each declared earlier in the walk, or a name no register has; no whole register; every qubit
  // declaration a top-level statement; no statement with qubit operands where the resolver does
  // not look (a delay's duration, inside an operand).
  bool rewrites_in_place() const;
  // The rewriting without a walk, when rewrites_in_place(): each operand noted, in walk order,
  // becomes a fresh HwQubit of the allocation `mapping` (made from this collection), then the
  // declarations leave `program` (the one collected). False, at the first operand whose index is
  // no integer literal within its register, with the operands before it rewritten: the resolver's
  // walk does the rest (it leaves hardware qubits alone, so it ends as from the start).
  bool rewrite_in_place(openqasm3::ast::Program& program, const DeclaredQubitsMapping& mapping);

  void visit_QubitDeclaration(openqasm3::ast::QubitDeclaration& node) override;
  void visit_HwQubit(configurations::HwQubit& node) override;
  // The walk as the generic one, noting the names of identifiers but not of qubit operands (the
  // rewriting resolves those itself) nor of identifiers below an indexed identifier (which the
  // rewriting does not enter).
  void visit_Identifier(openqasm3::ast::Identifier& node) override;
  void visit_IndexedIdentifier(openqasm3::ast::IndexedIdentifier& node) override;
  void visit_QuantumGate(openqasm3::ast::QuantumGate& node) override;
  void visit_QuantumBarrier(openqasm3::ast::QuantumBarrier& node) override;
  void visit_DelayInstruction(openqasm3::ast::DelayInstruction& node) override;
  void visit_QuantumReset(openqasm3::ast::QuantumReset& node) override;
  void visit_QuantumMeasurementStatement(openqasm3::ast::QuantumMeasurementStatement& node) override;

 private:
  // By reference: no handle of the node's class converted to a NodePtr (a count up and down).
  template <class T> void _visit(const openqasm3::ast::Ptr<T>& node) {
    if (node) visit(*node);
  }
  void _visit_operand(openqasm3::ast::NodePtr& operand);
  static std::size_t _name_key(std::string_view name);

  // A register or single qubit declared so far: its size, and the number of the qubits declared
  // before it (its first qubit's place in the declaration order).
  struct _Register {
    std::int64_t size;
    std::int64_t first;
    bool single;
  };
  // An operand naming the register `declared`.
  struct _Binding {
    openqasm3::ast::NodePtr* operand;
    const _Register* declared;  // an element of _declared, which stays where it is
  };
  void _note_operand(openqasm3::ast::NodePtr& operand);
  // The register `name` declared so far, or null.
  const _Register* _register(const std::string& name);

  std::unordered_map<std::string, _Register> _declared;
  const std::pair<const std::string, _Register>* _last_register = nullptr;  // the last one _register found
  std::int64_t _declared_qubits = 0;
  bool _in_place = false;
  std::vector<_Binding> _bindings;
  std::vector<std::size_t> _top_declarations;  // positions in the program's statements
  std::vector<std::string_view> _unknown_operand_names;  // no register's when met (may be declared later)
  const openqasm3::ast::QASMNode* _top = nullptr;  // the top-level statement being collected
  std::size_t _top_position = 0;
  int _unrewritten = 0;  // > 0 inside what the rewriting does not enter
  int _below_indexed = 0;
  std::bitset<64 * 256> _names_seen;  // by _name_key
  std::bitset<64 * 256> _indexed_names_seen;  // by _name_key, indexed identifiers outside operands
  bool _indexed_unknown = false;  // an indexed identifier of no plain name, or an odd operand
  bool _at_operand = false;  // the indexed identifier visited next is an operand
  bool _measures_into_names = false;
};

// Allocation; changes none of its arguments. OverflowError when the sizes add up beyond int64.
DeclaredQubitsMapping _map_declared_qubits_to_explicit_qubits(const DeclarationSizes& declaration_to_size,
                                                      const std::set<HwQubitIndex>& explicitly_stated_hw_qubits,
                                                      const configurations::MachineSetup& machine_setup);

// Rewriting; see the top of this file for what each reference becomes. Three walkers share it
// (D): _QubitsResolver also looks at every identifier (a register named in an expression) and
// every classical declaration (the sizes of measurement targets); _QubitOperandsResolver, for a
// tree in which the collection found no need of either, leaves them alone but still looks at every
// indexed identifier; _QubitStatementsResolver, where no indexed identifier outside the operands
// can name a register either, looks only at the statements that take qubits, so that its walk
// passes expressions by.
template <class D> class _QubitsRewriting : public Transformer<D> {
 public:
  // `single_qubits`: the names declared without a size (kept by reference; may be null).
  explicit _QubitsRewriting(const DeclaredQubitsMapping& qubits_mapping,
                            const std::unordered_set<std::string>* single_qubits = nullptr);

  openqasm3::ast::Rewrite visit_QuantumBarrier(const openqasm3::ast::Ptr<openqasm3::ast::QuantumBarrier>& node) override;
  openqasm3::ast::Rewrite visit_DelayInstruction(
      const openqasm3::ast::Ptr<openqasm3::ast::DelayInstruction>& node) override;
  openqasm3::ast::Rewrite visit_QuantumGate(const openqasm3::ast::Ptr<openqasm3::ast::QuantumGate>& node) override;
  openqasm3::ast::Rewrite visit_QuantumReset(const openqasm3::ast::Ptr<openqasm3::ast::QuantumReset>& node) override;
  openqasm3::ast::Rewrite visit_QuantumMeasurementStatement(
      const openqasm3::ast::Ptr<openqasm3::ast::QuantumMeasurementStatement>& node) override;
  openqasm3::ast::Rewrite visit_QubitDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::QubitDeclaration>& node) override;

 protected:
  // The hardware qubit `node` names, or null when it names no register.
  openqasm3::ast::Ptr<configurations::HwQubit> _qubit_of(const openqasm3::ast::Identifier& node) const;
  // An indexed identifier as its handler rewrites it.
  openqasm3::ast::Rewrite _rewrite_indexed(const openqasm3::ast::Ptr<openqasm3::ast::IndexedIdentifier>& node) const;

  // The classical variables in declaration order (filled by _QubitsResolver), indexed by name
  // only when a measurement asks (the variables are the declarations' own, which stay in the
  // tree during the walk).
  std::vector<const tavo_var::TavoVarBase*> _classical_variables;

 private:
  // The run of a register, or null when `name` is no register.
  const std::vector<HwQubitIndex>* _run(std::string_view name) const;
  openqasm3::ast::Ptr<configurations::HwQubit> _qubit_of(const openqasm3::ast::IndexedIdentifier& node) const;
  // The hardware qubit of a qubit reference, nullopt when it names no register.
  std::optional<HwQubitIndex> _index_of(const openqasm3::ast::Identifier& node) const;
  std::optional<HwQubitIndex> _index_of(const openqasm3::ast::IndexedIdentifier& node) const;
  // `operand` as its handler would rewrite it, when it is a plain or indexed identifier or a hardware
  // qubit (without a handler call); null for any other operand.
  openqasm3::ast::NodePtr _rewritten_reference(const openqasm3::ast::NodePtr& operand) const;
  // _rewritten_reference made in place: false, `operand` untouched, for any other operand.
  bool _rewrite_reference(openqasm3::ast::NodePtr& operand) const;
  // The generic rewriting of a single operand (field `name` of class Owner), made in place.
  template <class Owner> void _rewrite_operand(const char* name, openqasm3::ast::NodePtr& operand);
  // The generic rewriting of a gate's operand list, made in place.
  void _rewrite_operands(std::vector<openqasm3::ast::NodePtr>& operands);
  // The generic walk of a measurement statement, its measured qubit rewritten in place.
  openqasm3::ast::Rewrite _walk_measurement(const openqasm3::ast::Ptr<openqasm3::ast::QuantumMeasurementStatement>& node);
  // The run of `operand` when it is a register used whole, else null.
  const std::vector<HwQubitIndex>* _whole_register(const openqasm3::ast::NodePtr& operand) const;
  // An operand list with its whole registers replaced by their qubits.
  std::vector<openqasm3::ast::NodePtr> _spliced(const std::vector<openqasm3::ast::NodePtr>& operands);
  // The common size of the whole registers among the operands of `call`, nullopt when there is
  // none; ValueError when two differ.
  std::optional<std::size_t> _broadcast_size(const openqasm3::ast::QuantumGate& call) const;
  // `operand` for repetition k: qubit k of a whole register, or the operand rewritten.
  openqasm3::ast::NodePtr _operand_at(const openqasm3::ast::NodePtr& operand, std::size_t k);
  // The size of the classical array declared last under `name` so far (-1 for a scalar), nullopt
  // when none is.
  std::optional<std::int64_t> _classical_size(const std::string& name);

  utils::NameMap<const std::vector<HwQubitIndex>*> _qubits_mapping;
  const std::unordered_set<std::string>* _single_qubits;
  std::size_t _classical_indexed = 0;
  std::unordered_map<std::string_view, std::int64_t> _classical_sizes;
};

class _QubitsResolver final : public _QubitsRewriting<_QubitsResolver>, public TavoDeclarationTransform {
 public:
  using _QubitsRewriting::_QubitsRewriting;

  openqasm3::ast::Rewrite visit_Identifier(const openqasm3::ast::Ptr<openqasm3::ast::Identifier>& node) override;
  openqasm3::ast::Rewrite visit_IndexedIdentifier(
      const openqasm3::ast::Ptr<openqasm3::ast::IndexedIdentifier>& node) override {
    return _rewrite_indexed(node);
  }
  // Notes the declaration for the sizes of measurement targets.
  openqasm3::ast::Rewrite visit_TavoDeclaration(const openqasm3::ast::Ptr<TavoDeclaration>& node) override;
};

class _QubitOperandsResolver final : public _QubitsRewriting<_QubitOperandsResolver> {
 public:
  using _QubitsRewriting::_QubitsRewriting;

  openqasm3::ast::Rewrite visit_IndexedIdentifier(
      const openqasm3::ast::Ptr<openqasm3::ast::IndexedIdentifier>& node) override {
    return _rewrite_indexed(node);
  }
};

class _QubitStatementsResolver final : public _QubitsRewriting<_QubitStatementsResolver> {
 public:
  using _QubitsRewriting::_QubitsRewriting;
};

// GateCallBroadcast: repeats a call of a gate the program defines once per qubit where whole
// registers stand among its operands, before gate inlining expands the body: `g a, b;` of two
// 2-qubit registers becomes `g a[0], b[0]; g a[1], b[1];`. Inlining first would repeat each
// statement of the body on its own, so that a body statement on a single-qubit operand only
// would run once instead of once per qubit. Calls of built-in gates are left to QubitAllocator.
//
// Register sizes are read from the qubit declarations: an integer literal, or a constant declared
// globally with an integer literal. A register of another size passed whole to a user gate is
// refused (NotImplementedError naming register and gate); registers of different sizes in one call
// are a ValueError naming both. Gate definitions are not entered; switch cases are. The tree is
// rewritten in place, and only when a read-only search of the same reach finds a call to repeat
// (or to refuse): a tree without one is returned as it is.
class GateCallBroadcast : public Step {
 public:
  explicit GateCallBroadcast(std::optional<std::string> name = std::nullopt);
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
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
