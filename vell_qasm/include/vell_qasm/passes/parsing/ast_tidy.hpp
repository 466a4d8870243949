// AstTidy: brings a parsed program into the form the later steps expect.
//
// - Inputs and outputs: a program that declares no input or output variable has all its
//   classical declarations turned into output declarations (so code generation saves them), their
//   initial values split off into statements of their own (IOVariablesTransformer). A program that
//   declares at least one input or output keeps its tree as it is.
// - Version: a declared version lower than 3.0 becomes "3.0". Versions compare as tuples of
//   integers, piece by piece, a shorter tuple being lower when it is a prefix of the longer: "2",
//   "2.10" and "3" are raised, "3.0", "03.00", "3.1" and "4" stay exactly as written, and a program
//   without a version keeps none. A piece that is not a decimal integer (ASCII digits only) is a
//   ValueError; pieces of any length compare correctly.
//
// Both rewrites change the given tree in place; the returned OpenQasmProgram shares it. Records:
// one DEBUG record per call on "vell_qasm.passes.parsing.ast_tidy" saying which way the
// input/output decision went.
//
// Trap: like its base, the input/output rewrite does not reach declarations in switch case
// blocks, which stay classical declarations with their initial values. On a ValueError for the
// version the input/output rewrite has already happened.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/init_splitting.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::parsing {

class IOVariablesTransformer : public DeclarationInitSplitting<IOVariablesTransformer> {
 public:
  // Looks for input/output declarations in the whole tree first; with none, rewrites the tree as
  // its generic walk would (declarations become outputs), entering only the statements of the
  // program's list that hold a classical declaration (a derived class gets the whole walk, for
  // the other handlers it may have); otherwise leaves it alone. Returns `node`.
  openqasm3::ast::Rewrite visit_Program(const openqasm3::ast::Ptr<openqasm3::ast::Program>& node) override;

 protected:
  // An output IODeclaration of the very `type` and `identifier` objects of `node`.
  openqasm3::ast::StmtPtr _get_new_declaration_node(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) const override;
};

class AstTidy : public Step {
 public:
  // The lowest version that stays unchanged, and the text written in place of a lower one.
  static constexpr std::array<std::int64_t, 2> TARGET_VERSION{3, 0};
  static const std::string target_version_str;

  explicit AstTidy(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::parsing
