// The whole compilation, OpenQASM 3 source text to a finished TAVO program, as an embedding
// application composes it from the steps. vell-qasmc's `compile` command is a thin shell around it.
//
// Step order (each one needs what the earlier ones did):
//   front end:   SourceParsing, IncludeExpansion, AstTidy, HwQubitResolver,
//                AllowedNodeTypesValidator (the screening: compiled_node_classes()),
//   resolving:   GateInlining (the caller's built-in gates), ConstInlining,
//                ClassicalAssignLowering, ExpressionsOptimizationStep,
//   generation:  DeclSplitting, DeclarationResolvingStep, QubitAllocator, CodeGeneration,
//                VariablesSaver.
// The BuildSettings' patterns select steps by these class names; ExpressionsOptimizationStep is
// the only Optimization (a failure of it is logged at WARNING and the run goes on), the screening
// the only Validation.
//
// Failures leave as the steps raise them; describe_failure turns one into the line a user reads,
// with the source location it carries (errors.hpp), when it carries one.
//
// Include files are searched for as includes.hpp says (the including file's folder, then
// `include_path`, then the served standard files); the working directory is never changed, so
// compilations may run on several threads at once.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vell_qasm/configurations/build_settings.hpp"
#include "vell_qasm/configurations/machine_setup.hpp"
#include "vell_qasm/passes/code_generation/emission.hpp"
#include "vell_qasm/passes/code_resolving/gate_inlining.hpp"
#include "vell_qasm/passes/node_screening.hpp"
#include "vell_qasm/passes/parsing/include_expansion.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::driver {

struct CompileOptions {
  // What the program runs on, and the names of the gates it runs itself (every other gate the
  // program calls must be defined in the program).
  std::shared_ptr<const configurations::MachineSetup> machine_setup;
  std::shared_ptr<const passes::code_resolving::GateSignatures> built_in_gates;
  // Compile-time values by variable name; an input without one becomes an input stream.
  passes::code_generation::Inputs inputs;
  configurations::BuildSettings build_settings;
  // The syntax nodes that the program's gate calls may expand to; a call that would pass it is
  // refused (ExpansionLimitException) before anything is expanded.
  std::int64_t max_expansion = passes::code_resolving::kDefaultMaxExpansion;
  // The folder of the source, where its relative include names are looked up first; none: the
  // working directory as it is.
  std::optional<std::filesystem::path> include_directory;
  // Folders searched, in order, for an include not found beside the file that names it.
  std::vector<std::filesystem::path> include_path;
  // Bounds on the files all includes of one compilation read (IncludeLimitError beyond them).
  std::int64_t max_included_files = passes::parsing::IncludeExpansion::kDefaultMaxIncludedFiles;
  std::int64_t max_included_bytes = passes::parsing::IncludeExpansion::kDefaultMaxIncludedBytes;
};

// The node classes the screening admits: the parsed program's whitelist (INITIALLY_NODE_WHITELIST)
// plus what the later steps take care of: FunctionCall and ExpressionStatement (math functions,
// folded or lowered), DurationType and StretchType (declared as fixed variables). A fresh set.
std::shared_ptr<passes::NodeClassSet> compiled_node_classes();

// The pipeline described above, ready to be called with a TextualProgram. TypeError when the
// machine setup or the built-in gates are missing.
std::shared_ptr<passes::PassPipeline> make_pipeline(const CompileOptions& options);

// Runs make_pipeline(options) on `source`; the program it returns has its SDK scope (dsl_program()).
// A value in `options.inputs` for a name that the program does not declare is a ValueError.
// A failure located at a node spliced from an included file leaves naming that file.
std::shared_ptr<programs::Tavo1Program> compile(const std::string& source, const CompileOptions& options);

// A failure as a user reads it.
struct FailureDescription {
  std::string message;
  // Line from 1 and column from 0 (as the parser counts): the location of the failure or of the
  // nearest of its causes that has one (failure_location in errors.hpp). `file` is set when the
  // position lies in another file than the program compiled (an included one).
  std::optional<std::string> file;
  std::optional<int> line, column;
};
FailureDescription describe_failure(const std::exception_ptr& failure);

// The class of `e` as C++ spells it ("vell_qasm::ValueError").
std::string exception_class_name(const std::exception& e);

// The line vell-qasmc prints for a failure of the program `source_name`, without a line break:
// "FILE:LINE:COL: error: MESSAGE" (FILE: the description's file, else `source_name`), or
// "vell-qasmc: error: MESSAGE" without a position. Line breaks in the message become spaces.
std::string error_line(std::string_view source_name, const FailureDescription& failure);

// A value given on a command line: "true" or "false", else a whole integer (64 bits), else a
// finite real, the whole text in each case; nullopt for anything else (an empty text, "1e999",
// "0x10", "12abc").
std::optional<passes::code_generation::InputValue> parse_input_value(std::string_view text);

// Options for the demonstration machine with `qubits` hardware qubits and its gates built in
// (ValueError for a qubit count it does not offer).
CompileOptions demo_compile_options(std::int64_t qubits = 8);

}  // namespace vell_qasm::driver
