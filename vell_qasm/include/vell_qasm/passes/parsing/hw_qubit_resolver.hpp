// HwQubitResolver: turns every identifier that names a hardware qubit ("$" and one or more ASCII
// digits, nothing else) into an HwQubit node with that index, so later steps see hardware qubits
// as nodes of their own class. "$007" becomes "$7" with index 7; "$", "$a", "$1a", "$-1", "a$1"
// and "$1_000" stay plain identifiers. Nothing of the old identifier is kept, not its span either.
//
// The tree is rewritten in place; the returned OpenQasmProgram shares it. Existing HwQubit nodes
// are left alone, so running the step twice changes nothing.
//
// HwQubitsTransformer walks the tree generically and enters the cases of switch statements
// (labels and blocks), which the reference walk leaves out. A digit string whose value
// does not fit the index type (int64) is an OverflowError naming the identifier, never a
// wrapped-around index.
#pragma once

#include <optional>
#include <string>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::parsing {

class HwQubitsTransformer : public Transformer<HwQubitsTransformer> {
 public:
  // A new HwQubit for a hardware-qubit name, else `node` itself.
  openqasm3::ast::Rewrite visit_Identifier(const openqasm3::ast::Ptr<openqasm3::ast::Identifier>& node) override;
};

class HwQubitResolver : public Step {
 public:
  explicit HwQubitResolver(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::parsing
