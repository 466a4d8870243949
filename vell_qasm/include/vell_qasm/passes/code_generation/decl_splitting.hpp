// DeclSplitting: splits every classical declaration of the tree from its initial value, so that
// declaration resolving (io_binding), which refuses a declaration that still has one, can turn it
// into a TavoDeclaration. `int x = 3;` becomes `int x; x = 3;` and `bit c = measure q;` becomes
// `bit c; c = measure q;`, both in the list where the declaration stood; the two statements hold
// the same identifier node and the value node is moved, not copied. The splitting itself is the
// front end's (DeclarationInitSplitting, init_splitting.hpp); the program's own statement list is
// walked by the step, which asks ahead for the memory of the statements it will reach.
//
// Unlike the front end's splitting, this step also walks the cases of switch statements (labels
// and blocks): code generation emits case blocks, and a declaration left whole there would lose
// its initial value. Input/output and constant declarations are not touched.
//
// The tree is rewritten in place; the returned OpenQasmProgram shares it with the one handed in.
#pragma once

#include <optional>
#include <string>

#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::code_generation {

class DeclSplitting : public Step {
 public:
  explicit DeclSplitting(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError). An initial value that is
  // neither an expression nor a measurement is the splitting's NotImplementedError.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::code_generation
