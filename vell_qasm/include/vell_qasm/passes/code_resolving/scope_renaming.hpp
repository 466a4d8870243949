// ScopeRenaming: gives every classical declaration a name of its own, so that the later steps,
// which find variables and constants by name alone, see OpenQASM's block scopes.
//
// The walk follows the program in order with a stack of scopes: the program's global scope, and
// one scope per block (if and else blocks apart, loop bodies, switch case blocks and default, box
// bodies, bare blocks). A for loop's variable belongs to its body's scope; its range or set is read
// in the enclosing scope, as are a switch's target and labels and a declaration's initialiser.
// - A declaration (classical, constant, loop variable) in a block whose name is taken, by a
//   declaration met before it (visible or not: a sibling block's) or by a global one (declared
//   before or after), is renamed to "<name>.<n>" (a form no OpenQASM identifier can take, so it
//   meets no other name), and every use of the name until its block ends refers to the new name.
//   Built-in constants (pi, tau, euler, ...) count as declared in the global scope. So every
//   declaration ends up with a variable of its own, also where the front end made block
//   declarations outputs.
// - Global declarations, inputs and outputs keep their names, and so does the first declaration
//   of a name nothing else takes.
// - A second declaration of a name in one scope is a parsing::RedeclarationException naming the
//   second declaration (with its position).
// Uses reached: identifiers in expressions, assignment and measurement targets, the names and
// index lists of indexed identifiers (which the reference walk does not enter) and switch cases.
// Not renamed: gate and function names, qubit registers, and gate, subroutine and calibration
// definitions, which are not entered (their bodies see only constants, which global scope holds),
// nor the blocks of durationof expressions (no step after this one compiles them).
//
// The tree is rewritten in place; renamed uses are new Identifier nodes with the old node's span.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/code_resolving/name_table.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::code_resolving {

// Visits every expression of the inner lists of `indices` with `transformer` and puts the result in
// its place (the tree library's walks enter only discrete sets there). A visit that yields no single
// node leaves the element as it was.
void rewrite_index_lists(openqasm3::ast::QASMTransformer& transformer,
                         std::vector<openqasm3::ast::IndexElement>& indices);
void rewrite_index_lists(openqasm3::ast::QASMTransformer& transformer, openqasm3::ast::IndexElement& index);

class ScopeRenamer : public Transformer<ScopeRenamer> {
 public:
  ScopeRenamer();

  // Notes the names the global scope declares, then walks the program.
  openqasm3::ast::Rewrite visit_Program(const openqasm3::ast::Ptr<openqasm3::ast::Program>& node) override;
  openqasm3::ast::Rewrite visit_Identifier(const openqasm3::ast::Ptr<openqasm3::ast::Identifier>& node) override;
  openqasm3::ast::Rewrite visit_IndexedIdentifier(
      const openqasm3::ast::Ptr<openqasm3::ast::IndexedIdentifier>& node) override;
  openqasm3::ast::Rewrite visit_IndexExpression(
      const openqasm3::ast::Ptr<openqasm3::ast::IndexExpression>& node) override;

  openqasm3::ast::Rewrite visit_ClassicalDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) override;
  openqasm3::ast::Rewrite visit_ConstantDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::ConstantDeclaration>& node) override;
  openqasm3::ast::Rewrite visit_IODeclaration(const openqasm3::ast::Ptr<openqasm3::ast::IODeclaration>& node) override;

  openqasm3::ast::Rewrite visit_QuantumGate(const openqasm3::ast::Ptr<openqasm3::ast::QuantumGate>& node) override;
  openqasm3::ast::Rewrite visit_FunctionCall(const openqasm3::ast::Ptr<openqasm3::ast::FunctionCall>& node) override;
  openqasm3::ast::Rewrite visit_QuantumGateDefinition(
      const openqasm3::ast::Ptr<openqasm3::ast::QuantumGateDefinition>& node) override;
  openqasm3::ast::Rewrite visit_SubroutineDefinition(
      const openqasm3::ast::Ptr<openqasm3::ast::SubroutineDefinition>& node) override;
  openqasm3::ast::Rewrite visit_CalibrationDefinition(
      const openqasm3::ast::Ptr<openqasm3::ast::CalibrationDefinition>& node) override;
  openqasm3::ast::Rewrite visit_DurationOf(const openqasm3::ast::Ptr<openqasm3::ast::DurationOf>& node) override;

  openqasm3::ast::Rewrite visit_CompoundStatement(
      const openqasm3::ast::Ptr<openqasm3::ast::CompoundStatement>& node) override;
  openqasm3::ast::Rewrite visit_BranchingStatement(
      const openqasm3::ast::Ptr<openqasm3::ast::BranchingStatement>& node) override;
  openqasm3::ast::Rewrite visit_WhileLoop(const openqasm3::ast::Ptr<openqasm3::ast::WhileLoop>& node) override;
  openqasm3::ast::Rewrite visit_ForInLoop(const openqasm3::ast::Ptr<openqasm3::ast::ForInLoop>& node) override;
  openqasm3::ast::Rewrite visit_SwitchStatement(
      const openqasm3::ast::Ptr<openqasm3::ast::SwitchStatement>& node) override;
  openqasm3::ast::Rewrite visit_Box(const openqasm3::ast::Ptr<openqasm3::ast::Box>& node) override;

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  struct Binding {
    std::size_t depth;
    std::uint32_t name;     // its number in _names
    std::size_t outer;      // the declaration of the same name it hides, or kNone
    std::string renamed{};  // the name it goes by when that differs from the source's, else empty
  };

  // Enters the declaration of `identifier` into the innermost scope and returns the identifier it
  // goes by (the same node when it keeps its name). `declaration` is the node an error names.
  openqasm3::ast::Ptr<openqasm3::ast::Identifier> _declare(const openqasm3::ast::Ptr<openqasm3::ast::Identifier>& identifier,
                                                           const openqasm3::ast::NodePtr& declaration,
                                                           const char* kind);
  // The number of `name` in _names (made for it when it is new), and whether it is new.
  std::pair<std::uint32_t, bool> _intern(std::string_view name);
  // Makes a declaration of the name numbered `name`, at `depth`, its innermost visible one.
  void _bind(std::uint32_t name, std::size_t depth);
  void _open_scope();
  void _close_scope();
  // Visits a block's statements in a scope of their own.
  void _visit_block(std::vector<openqasm3::ast::StmtPtr>& statements);
  // Visits the statements that may need it: all of them while a renamed name is visible, else
  // those that declare or hold blocks.
  template <class Statement> void _visit_statements(std::vector<openqasm3::ast::Ptr<Statement>>& statements);
  openqasm3::ast::ExprPtr _visit_expression(const openqasm3::ast::ExprPtr& expression);
  // The name a use of `name` goes by, null when it keeps its own.
  const std::string* _renaming_of(std::string_view name) const;
  // A gate call's names renamed in place without the walk, when its operands are all plain.
  bool _rename_plain_call(openqasm3::ast::QuantumGate& call) const;
  template <class Operand> void _rename_operand(Operand& operand) const;
  void _rename(openqasm3::ast::Ptr<openqasm3::ast::Identifier>& identifier) const;
  // A new identifier of the name `identifier` is renamed to, with its span; null when it keeps its name.
  openqasm3::ast::Ptr<openqasm3::ast::Identifier> _renamed_identifier(const openqasm3::ast::Identifier& identifier) const;

  // Every name declared so far, and every name the global scope declares (nothing is erased).
  NameTable _names;
  // Per name: its innermost visible declaration (in _bindings), kNone when none is.
  std::vector<std::size_t> _innermost;
  // The visible declarations, the innermost scope's last.
  std::vector<Binding> _bindings;
  // Per open scope, the index in _bindings of its first declaration.
  std::vector<std::size_t> _scope_starts;
  // The visible bindings whose name differs from the source's, innermost last.
  std::vector<std::size_t> _renamings;
  std::int64_t _renamed = 0;
};

class ScopeRenaming : public Step {
 public:
  explicit ScopeRenaming(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::code_resolving
