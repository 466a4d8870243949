#include "vell_qasm/driver/compile.hpp"

#include <cxxabi.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <typeinfo>
#include <utility>

#include "openqasm3/parser.hpp"
#include "vell_qasm/demo_machine.hpp"
#include "vell_qasm/driver/includes.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/code_generation/decl_defaults.hpp"
#include "vell_qasm/passes/code_generation/decl_splitting.hpp"
#include "vell_qasm/passes/code_generation/io_binding.hpp"
#include "vell_qasm/passes/code_generation/output_saving.hpp"
#include "vell_qasm/passes/code_generation/qubit_binding.hpp"
#include "vell_qasm/passes/code_resolving/assign_lowering.hpp"
#include "vell_qasm/passes/code_resolving/const_inlining.hpp"
#include "vell_qasm/passes/code_resolving/scope_renaming.hpp"
#include "vell_qasm/passes/code_resolving/expr_folding.hpp"
#include "vell_qasm/passes/node_whitelist.hpp"
#include "vell_qasm/passes/parsing/ast_tidy.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"
#include "vell_qasm/passes/parsing/include_expansion.hpp"
#include "vell_qasm/passes/parsing/source_parsing.hpp"
#include "vell_qasm/passes/parsing/validators.hpp"

namespace vell_qasm::driver {

namespace ast = openqasm3::ast;
using namespace vell_qasm::passes;

std::shared_ptr<NodeClassSet> compiled_node_classes() {
  auto classes = std::make_shared<NodeClassSet>(*INITIALLY_NODE_WHITELIST);
  classes->insert({ast::node_class_of<ast::FunctionCall>(), ast::node_class_of<ast::ExpressionStatement>(),
                   ast::node_class_of<ast::DurationType>(), ast::node_class_of<ast::StretchType>()});
  return classes;
}

namespace {

std::shared_ptr<Step> include_expansion(const CompileOptions& options, std::int64_t max_depth) {
  auto step = std::make_shared<IncludeSearch>(
      max_depth, IncludeSearch::Options{options.include_directory, options.include_path, options.built_in_gates});
  step->max_included_files = options.max_included_files;
  step->max_included_bytes = options.max_included_bytes;
  return step;
}

}  // namespace

std::shared_ptr<PassPipeline> make_pipeline(const CompileOptions& options) {
  if (!options.machine_setup) throw TypeError("make_pipeline: the options hold no machine setup");
  if (!options.built_in_gates) throw TypeError("make_pipeline: the options hold no built-in gates");
  auto settings = std::make_shared<const configurations::BuildSettings>(options.build_settings);
  std::vector<StepPtr> steps{
      std::make_shared<parsing::SourceParsing>(),
      include_expansion(options, settings->max_inclusion_depth()),
      std::make_shared<parsing::AstTidy>(),
      std::make_shared<parsing::HwQubitResolver>(),
      std::make_shared<AllowedNodeTypesValidator>(compiled_node_classes()),
      std::make_shared<code_resolving::ScopeRenaming>(),
      std::make_shared<code_generation::GateCallBroadcast>(),
      std::make_shared<code_resolving::GateInlining>(options.built_in_gates, options.max_expansion),
      std::make_shared<code_resolving::ConstInlining>(),
      std::make_shared<code_resolving::ClassicalAssignLowering>(),
      std::make_shared<code_resolving::ExpressionsOptimizationStep>(),
      std::make_shared<code_generation::DeclSplitting>(),
      std::make_shared<code_generation::DeclarationResolvingStep>(),
      std::make_shared<code_generation::QubitAllocator>(options.machine_setup),
      std::make_shared<code_generation::CodeGeneration>(
          options.machine_setup, std::make_shared<const code_generation::Inputs>(options.inputs)),
      std::make_shared<code_generation::VariablesSaver>(),
  };
  return std::make_shared<PassPipeline>(std::move(steps), std::move(settings), "vell-qasmc");
}

CompileOptions demo_compile_options(std::int64_t qubits) {
  CompileOptions options;
  options.machine_setup = std::make_shared<const configurations::MachineSetup>(demo_machine::demo_machine(qubits));
  auto gates = std::make_shared<code_resolving::GateSignatures>();
  for (const std::string& name : demo_machine::demo_gate_names()) gates->insert({name});
  options.built_in_gates = std::move(gates);
  return options;
}

std::optional<code_generation::InputValue> parse_input_value(std::string_view text) {
  if (text == "true") return code_generation::InputValue(true);
  if (text == "false") return code_generation::InputValue(false);
  const char* first = text.data();
  const char* last = first + text.size();
  std::int64_t integer = 0;
  if (auto [end, ec] = std::from_chars(first, last, integer); ec == std::errc() && end == last && !text.empty())
    return code_generation::InputValue(integer);
  double real = 0;
  if (auto [end, ec] = std::from_chars(first, last, real);
      ec == std::errc() && end == last && !text.empty() && std::isfinite(real))
    return code_generation::InputValue(real);
  return std::nullopt;
}

std::shared_ptr<programs::Tavo1Program> compile(const std::string& source, const CompileOptions& options) {
  auto pipeline = make_pipeline(options);
  std::shared_ptr<programs::Tavo1Program> result;
  // The steps' nodes join the parse's in one arena: they take the slots of the nodes they replace
  // and cost no general allocation. The arena goes when its last node does.
  openqasm3::ast::NodeArenaScope arena(source.size());
  try {
    result = std::dynamic_pointer_cast<programs::Tavo1Program>(
        (*pipeline)(std::make_shared<programs::TextualProgram>(source)));
  } catch (...) {
    // A node spliced from an included file carries the file's number: name the file.
    for (const StepPtr& step : pipeline->steps)
      if (auto* includes = dynamic_cast<const parsing::IncludeExpansion*>(step.get()))
        name_failure_file(includes->source_files());
    throw;
  }
  // A pipeline skipping code generation by its settings cannot do that (it is no optimization),
  // so a missing program is a fault of the composition.
  check(result != nullptr, "compile: the pipeline did not produce a TAVO program");
  // A misspelt name would otherwise leave its variable an input stream, in silence.
  for (const auto& [name, value] : options.inputs)
    if (!result->variables_db().contains(programs::VariableSignature{name}))
      throw ValueError("A value was given for '" + name + "', which the program does not declare");
  return result;
}

std::string exception_class_name(const std::exception& e) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : typeid(e).name();
  std::free(demangled);
  return name;
}

FailureDescription describe_failure(const std::exception_ptr& failure) {
  FailureDescription out;
  std::string outermost_class;
  std::exception_ptr current = failure;
  // The outermost text wins (it says the most); a cause chain is short, the bound only guards
  // against a cycle.
  for (int depth = 0; current && depth < 32; ++depth) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      if (outermost_class.empty()) outermost_class = exception_class_name(e);
      if (auto* p = dynamic_cast<const openqasm3::QASM3ParsingError*>(&e)) {
        if (out.message.empty()) out.message = p->message;
      } else if (auto* a = dynamic_cast<const code_generation::UnsupportedArrayException*>(&e)) {
        // Its text is the bare name: say what is refused.
        if (out.message.empty()) out.message = "When declaring '" + a->name + "': " + a->reason;
      } else if (out.message.empty() && *e.what()) {
        out.message = e.what();
      }
      auto* with_cause = dynamic_cast<const HasCause*>(&e);
      current = with_cause ? with_cause->cause() : nullptr;
    } catch (...) {
      break;
    }
  }
  if (out.message.empty()) out.message = outermost_class.empty() ? "unknown failure" : outermost_class;
  if (auto location = failure_location(failure)) {
    out.file = std::move(location->file);
    out.line = location->line;
    out.column = location->column;
  }
  return out;
}

std::string error_line(std::string_view source_name, const FailureDescription& failure) {
  std::string line;
  if (failure.line) {
    line = failure.file ? *failure.file : std::string(source_name);
    line += ":" + std::to_string(*failure.line) + ":" + std::to_string(failure.column.value_or(0)) + ": error: ";
  } else {
    line = "vell-qasmc: error: ";
  }
  // One line: a message with line breaks would read as several errors.
  for (char c : failure.message) line += c == '\n' || c == '\r' ? ' ' : c;
  return line;
}

}  // namespace vell_qasm::driver
