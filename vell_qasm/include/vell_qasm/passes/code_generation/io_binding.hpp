// Declaration resolving: every classical and input/output declaration becomes a TavoDeclaration,
// a statement node of the compiler that carries the TAVO variable wrapper chosen for it
// (decl_defaults) and whether the variable is a program input or output. Code generation declares
// the wrapper in TAVO when it reaches the node; it also makes TavoDeclaration nodes itself for the
// variable of a for-in loop.
//
// DeclarationResolvingStep runs DeclarationsResolver over the tree, in place; the returned
// OpenQasmProgram shares the tree. It runs after declaration splitting: a classical declaration
// that still has an initial value is an AssertionError, since the value would be lost. Constant
// and qubit declarations stay as they are. The walk enters every block, the cases of switch
// statements included (code generation emits case blocks).
//
// Traps:
// - TavoDeclaration is a node class of the compiler, not of the tree library: dispatch reaches it
//   only in a visitor that mixes in TavoDeclarationVisit (TavoDeclarationTransform for
//   transformers); elsewhere it is walked generically and has no child node.
// - The declaration's name survives only as `var->name()`; the type node is not kept.
// - A refused type (decl_defaults' exceptions) leaves the step at the first such declaration in
//   tree order. Every declaration resolved before it keeps its TavoDeclaration, and the rest of
//   the tree is left as it was.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "openqasm3/ast.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/code_generation/decl_defaults.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"
#include "vell_qasm/tavo_var.hpp"

namespace vell_qasm::tavo_var {
// The text of a wrapper in a node's repr: TavoVar(name='x', dtype=int), TavoArr(name='c',
// dtype=bool, size=2), or None.
std::string payload_text(const TavoVarPtr& var);
}  // namespace vell_qasm::tavo_var

namespace vell_qasm::passes::code_generation {

class TavoDeclaration : public openqasm3::ast::NodeImpl<TavoDeclaration, openqasm3::ast::Statement> {
 public:
  static constexpr std::string_view kName = "TavoDeclaration";
  static constexpr std::string_view kModule = "vell_qasm.passes.code_generation.io_binding";

  // The wrapper is get_variable_to_init(name, node_type); its exceptions leave the constructor.
  TavoDeclaration(const std::string& name, const openqasm3::ast::Ptr<InitType>& node_type, bool is_input_ = false,
                  bool is_output_ = false);

  bool is_input = false;
  bool is_output = false;
  tavo_var::TavoVarPtr var;

  // One line for people: "declare x: int;", "declare c: bool[2] (output);",
  // "declare theta: fixed (input);". Printing a tree writes it in the declaration's place.
  std::string text() const;
  std::optional<std::string> printed_text() const override { return text(); }

  // `var` is a payload: walks and copies leave it alone (a copy shares the wrapper), equality
  // compares the wrappers' identity.
  template <class S>
  static auto own_fields(S& s) {
    return std::make_tuple(openqasm3::ast::field("is_input", s.is_input),
                           openqasm3::ast::field("is_output", s.is_output), openqasm3::ast::payload("var", s.var));
  }
};

// Mixin for a QASMVisitor that handles TavoDeclaration nodes:
//   class Emitter : public ast::QASMVisitor, public TavoDeclarationVisit {
//     void visit_TavoDeclaration(TavoDeclaration& node) override { ... }
//   };
class TavoDeclarationVisit : public openqasm3::ast::ExternalVisit<TavoDeclaration> {
 public:
  virtual void visit_TavoDeclaration(TavoDeclaration& node) = 0;
  void visit_external(TavoDeclaration& node) final { visit_TavoDeclaration(node); }
};

// Mixin for a QASMTransformer that rewrites TavoDeclaration nodes.
class TavoDeclarationTransform : public openqasm3::ast::ExternalTransform<TavoDeclaration> {
 public:
  virtual openqasm3::ast::Rewrite visit_TavoDeclaration(const openqasm3::ast::Ptr<TavoDeclaration>& node) = 0;
  openqasm3::ast::Rewrite visit_external(const openqasm3::ast::Ptr<TavoDeclaration>& node) final {
    return visit_TavoDeclaration(node);
  }
};

// An input/output declaration whose keyword is neither input nor output (only a hand-made node
// can have one). "Unknown IO identifier - IOKeyword.<keyword>"
class UnsupportedTypeError : public std::exception, public HasLocation {
 public:
  explicit UnsupportedTypeError(openqasm3::ast::Ptr<openqasm3::ast::IODeclaration> node_);
  const char* what() const noexcept override { return message_.c_str(); }

  const openqasm3::ast::Ptr<openqasm3::ast::IODeclaration> node;

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node.get(); }

 private:
  std::string message_;
};

class DeclarationsResolver : public Transformer<DeclarationsResolver> {
 public:
  // Built to enter switch cases (labels and blocks), which the reference walk leaves alone.
  DeclarationsResolver();

  // The generic walk of the program's statements, each rewritten where it stands.
  openqasm3::ast::Rewrite visit_Program(const openqasm3::ast::Ptr<openqasm3::ast::Program>& node) override;

  // A TavoDeclaration flagged input or output; UnsupportedTypeError for another keyword.
  openqasm3::ast::Rewrite visit_IODeclaration(const openqasm3::ast::Ptr<openqasm3::ast::IODeclaration>& node) override;
  // A TavoDeclaration with both flags false; AssertionError "In this step, the we should receive
  // no init expression." when the declaration still has an initial value.
  openqasm3::ast::Rewrite visit_ClassicalDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) override;
  // ArrayInitializerException for an array literal longer than the array declared before it.
  openqasm3::ast::Rewrite visit_ClassicalAssignment(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalAssignment>& node) override;

 private:
  openqasm3::ast::Ptr<TavoDeclaration> _note_size(openqasm3::ast::Ptr<TavoDeclaration> declaration);
  // Sizes of the arrays declared so far, by name.
  utils::NameMap<std::int64_t> _array_sizes;
};

// An array declared with more initial values than elements: "When declaring 'a' got 3 values for
// an array of 2 elements"; `node` is the array literal.
class ArrayInitializerException : public std::runtime_error, public HasLocation {
 public:
  ArrayInitializerException(std::string name, openqasm3::ast::Ptr<openqasm3::ast::ArrayLiteral> node,
                            std::int64_t size);

  const std::string name;
  const openqasm3::ast::Ptr<openqasm3::ast::ArrayLiteral> node;
  const std::int64_t size;

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node.get(); }
};

class DeclarationResolvingStep : public Step {
 public:
  explicit DeclarationResolvingStep(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::code_generation
