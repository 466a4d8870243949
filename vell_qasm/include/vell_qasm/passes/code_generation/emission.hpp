// CodeGeneration: the step at which the OpenQASM syntax tree becomes a TAVO program. It walks a
// prepared tree (declarations are TavoDeclaration nodes, qubit operands HwQubit nodes, user gates,
// constants and compound assignments resolved) with a CodeGenerationVisitor, which emits every
// statement through the SDK, and returns a Tavo1Program holding the declared variables.
//
// SDK program scope:
// - With no scope open when the step is called, the step makes a new program scope, gives it to
//   the Tavo1Program, enters it for the walk and leaves it before returning, also when the walk
//   fails. Inputs without a value become input streams, outputs get result streams, and
//   VariablesSaver saves the outputs afterwards.
// - Inside a scope the caller holds open, everything goes into the caller's program: no streams
//   at all, an input without a value is a MissingInputException, no saving, and the returned
//   program holds no scope (its dsl_program() refuses).
// A variable whose name has a value in the Inputs is declared without a stream and then assigned
// that value, input or not.
//
// Every quantum operation goes through run_operation: the parameters are lowered, the operands'
// hardware-qubit indices collected, MachineSetup resolves the call, and the target function runs
// between two alignments of the operation's elements (when there are two or more). Nothing is
// emitted when lowering or resolution fails. What a resolution gives apart from the parameters
// (target function, qubit arguments, elements) depends only on the operation's name, qubits and
// number of parameters: it is kept for the rest of the run, so each distinct call resolves once.
//
// Control flow:
// - if/else: both blocks empty emits nothing (the condition is not even lowered); an else block
//   alone becomes an if block on the negated condition (logical negation, for a literal condition
//   too).
// - while with an empty body emits nothing.
// - for-in with an empty body emits nothing. Otherwise the iterator is declared as a new variable
//   before the loop ("_" is numbered "_0", "_1", ... per compilation). Ranges include their end; a
//   plain negative step counts down (runs while iterator >= end), a plain step of 0 is a
//   ValueError before anything is emitted, and a step known only at run time gets a condition
//   that holds for either sign (and never for 0). The range's bounds and step are read before the
//   iterator is declared, so they see the variables outside the loop, and only once: an end or
//   step that the body may change (anything but a literal or a variable the body does not assign) is
//   copied into a hidden variable first. When the body assigns the loop variable, the loop
//   counts in a hidden variable and copies it into the loop variable at the top of each pass, so
//   that the body cannot change the values the loop takes. Discrete sets must hold literals; an
//   identifier set loops over that array variable.
// - switch: one case block per label, the default last; a value no case matches runs nothing. The
//   switch is "unsafe" only when the labels cover every value of the target's type (true and false
//   of a bool target) and there is no default. When a case lists several labels, its block is
//   emitted once: a first switch sets a hidden int to the number of the matching case (from 1; 0
//   for none) and a second switch on it holds the blocks and the default.
// - box and bare blocks emit their statements inline; a box's duration is dropped.
// - Gate modifiers (inv @, ctrl @, ...) are refused: emitting the bare gate would be wrong.
//
// Traps:
// - A classical math function called as a statement (sqrt(x);) emits nothing: its value is
//   dropped. call_function returns it for callers that want it.
// - What was emitted before a failure stays in the program; scopes are closed on the way out.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell/tavo.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/configurations/machine_setup.hpp"
#include "vell_qasm/passes/code_generation/io_binding.hpp"
#include "vell_qasm/passes/code_generation/lower_expression.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"
#include "vell_qasm/value_text.hpp"

namespace vell_qasm::passes::code_generation {

// A value the caller gives a variable at compile time: none (as if no value were given), a plain
// scalar, or for an array variable a list of plain scalars (assigned element by element).
using InputValue = std::variant<std::monostate, bool, std::int64_t, double, std::vector<PlainValue>>;
// Variable name -> value.
using Inputs = std::map<std::string, InputValue>;

// OpenQASM function name -> SDK math function, in this order.
inline constexpr std::array<std::pair<std::string_view, vell::tavo::MathFunction>, 6> classical_function_mapping = {{
    {"sqrt", vell::tavo::MathFunction::Sqrt},
    {"exp", vell::tavo::MathFunction::Exp},
    {"log", vell::tavo::MathFunction::Ln},
    {"sin", vell::tavo::MathFunction::Sin},
    {"cos", vell::tavo::MathFunction::Cos},
    {"arctan", vell::tavo::MathFunction::Atan},
}};

// An input without a value while the caller's scope is open (there can be no input stream).
// "The input theta was not provided to the compiler"
class MissingInputException : public std::exception, public HasLocation {
 public:
  explicit MissingInputException(openqasm3::ast::Ptr<TavoDeclaration> node_);
  const char* what() const noexcept override { return message_.c_str(); }

  const openqasm3::ast::Ptr<TavoDeclaration> node;

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node.get(); }

 private:
  std::string message_;
};

// Emits the statements of one tree into the open SDK program scope. One visitor per compilation.
class CodeGenerationVisitor : public Visitor<CodeGenerationVisitor>, public TavoDeclarationVisit {
 public:
  // All four are kept by reference and must outlive the visitor. `is_inside_scope`: whether the
  // scope the code goes into is the caller's (no streams, missing inputs refused).
  CodeGenerationVisitor(const configurations::MachineSetup& machine_setup, programs::Tavo1Program& program,
                        const Inputs& inputs, bool is_inside_scope);
  ~CodeGenerationVisitor() override;

  // lower_expression with the program's variables.
  LoweredValue _lower_expression(const openqasm3::ast::ExprPtr& oq_expression) const;

  // The hardware-qubit indices of the operands, in order, repetitions kept. AssertionError
  // (without message) for an operand that is not an HwQubit.
  static std::vector<configurations::HwQubitIndex> get_qubit_indices(std::span<const openqasm3::ast::NodePtr> qubits);
  // The single road of every quantum operation (see the top of this file); returns what the
  // target function returns.
  configurations::TavoResult run_operation(std::string_view name, std::span<const openqasm3::ast::NodePtr> qubits,
                                           std::span<const openqasm3::ast::ExprPtr> params = {});
  // A math function of classical_function_mapping applied to the lowered arguments, or else the
  // operation of that name on no qubits.
  configurations::TavoResult call_function(const openqasm3::ast::FunctionCall& node);

  void visit_QuantumGate(openqasm3::ast::QuantumGate& node) override;
  void visit_QuantumPhase(openqasm3::ast::QuantumPhase& node) override;
  void visit_DelayInstruction(openqasm3::ast::DelayInstruction& node) override;
  void visit_QuantumReset(openqasm3::ast::QuantumReset& node) override;
  void visit_QuantumBarrier(openqasm3::ast::QuantumBarrier& node) override;
  void visit_FunctionCall(openqasm3::ast::FunctionCall& node) override;
  void visit_QuantumMeasurementStatement(openqasm3::ast::QuantumMeasurementStatement& node) override;
  void visit_TavoDeclaration(TavoDeclaration& node) override;

  void visit_BranchingStatement(openqasm3::ast::BranchingStatement& node) override;
  void visit_WhileLoop(openqasm3::ast::WhileLoop& node) override;
  void visit_ForInLoop(openqasm3::ast::ForInLoop& node) override;
  void visit_SwitchStatement(openqasm3::ast::SwitchStatement& node) override;
  void visit_Program(openqasm3::ast::Program& node) override;
  void visit_CompoundStatement(openqasm3::ast::CompoundStatement& node) override;
  void visit_Box(openqasm3::ast::Box& node) override;

  // Declares the wrapper of `node` (see the top of this file for streams and values); returns its
  // name, which lives as long as the wrapper. `handle`: the declaration's handle, or null when it
  // has none.
  const std::string& _declare_variable(TavoDeclaration& node, const openqasm3::ast::NodePtr& handle);
  // Plain "=" only: AssertionError "Only regular assignment is supported" otherwise.
  void visit_ClassicalAssignment(openqasm3::ast::ClassicalAssignment& node) override;
  // `target` is an Identifier or an IndexedIdentifier with one index (AssertionError "Only
  // 1-dimensional arrays are supported." otherwise); anything else is a ValueError "Unexpected
  // target type - <class '...'>". An index is lowered only here, after the value.
  void _assign_to_target(const openqasm3::ast::NodePtr& target, const LoweredValue& value);

  // Opens the block that `context_creator(args...)` returns, visits `block` into it and closes it,
  // also when a statement fails.
  template <class Creator, class... Args>
  void _run_block_in_context(Creator&& context_creator, std::span<const openqasm3::ast::StmtPtr> block,
                             Args&&... context_creator_args) {
    vell::tavo::ScopeGuard scope = context_creator(std::forward<Args>(context_creator_args)...);
    _visit_all(block);
  }

 private:
  void _visit_all(std::span<const openqasm3::ast::StmtPtr> statements);
  struct Assignments;
  // Whether an assignment or measurement in the body of `loop` writes `name`.
  bool _is_assigned_in(const std::string& name, const openqasm3::ast::ForInLoop& loop) const;
  // `lowered` (the value of `source`) as a value that the body of `loop` cannot change: a plain
  // value, or a variable the body does not assign, as it is; anything else copied into a hidden
  // variable.
  vell::tavo::Value _evaluated_once(const openqasm3::ast::ExprPtr& source, const vell::tavo::Value& lowered,
                                    const openqasm3::ast::ForInLoop& loop) const;

  const configurations::MachineSetup& _machine_setup;
  programs::Tavo1Program& _context;
  const Inputs& _inputs;
  const bool _is_inside_scope;
  std::int64_t _underscore_counter = 0;
  // The writes noted for the outermost for loop that asked last; kept for the loops inside it.
  mutable std::unique_ptr<Assignments> _assignments;

  struct CallKey {
    std::string name;
    std::vector<configurations::HwQubitIndex> qubits;
    std::size_t params = 0;
  };
  struct CallKeyView {
    std::string_view name;
    std::span<const configurations::HwQubitIndex> qubits;
    std::size_t params = 0;
  };
  // Operations are looked up at every call: a hash of the name's few bytes and the qubits, then
  // one comparison, rather than a walk down a tree of string comparisons.
  struct CallKeyHash {
    using is_transparent = void;
    template <class K>
    std::size_t operator()(const K& key) const noexcept {
      std::size_t h = 0xcbf29ce484222325ULL ^ key.params;
      for (unsigned char c : std::string_view(key.name)) h = (h ^ c) * 0x100000001b3ULL;
      for (configurations::HwQubitIndex q : key.qubits) h = (h ^ static_cast<std::size_t>(q)) * 0x100000001b3ULL;
      return h;
    }
  };
  struct CallKeyEqual {
    using is_transparent = void;
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      return a.params == b.params && std::string_view(a.name) == std::string_view(b.name) &&
             std::equal(a.qubits.begin(), a.qubits.end(), b.qubits.begin(), b.qubits.end());
    }
  };
  struct ResolvedCall {
    configurations::TavoFunc func;
    configurations::TavoArgs qubit_arguments;  // what follows the parameters
    std::vector<vell::tavo::Name> elements_to_align;  // named once per resolution, not per call
  };
  std::unordered_map<CallKey, ResolvedCall, CallKeyHash, CallKeyEqual> _resolved_calls;
  std::vector<configurations::HwQubitIndex> _indices;  // reused for every operation
  configurations::TavoArgs _arguments;                 // likewise
};

class CodeGeneration : public Step {
 public:
  // Both are shared, not copied. A null `machine_setup` is a TypeError; null `inputs` means none.
  // The step's name is always "CodeGeneration".
  explicit CodeGeneration(std::shared_ptr<const configurations::MachineSetup> machine_setup,
                          std::shared_ptr<const Inputs> inputs = nullptr);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new Tavo1Program.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

 private:
  const std::shared_ptr<const configurations::MachineSetup> _machine_setup;
  const std::shared_ptr<const Inputs> _inputs;
};

}  // namespace vell_qasm::passes::code_generation
