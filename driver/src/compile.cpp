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
  auto result = std::dynamic_pointer_cast<programs::Tavo1Program>(
      (*pipeline)(std::make_shared<programs::TextualProgram>(source)));
  // A pipeline skipping code generation by its settings cannot do that (it is no optimization),
  // so a missing program is a fault of the composition.
  check(result != nullptr, "compile: the pipeline did not produce a TAVO program");
  // A misspelt name would otherwise leave its variable an input stream, in silence.
  for (const auto& [name, value] : options.inputs)
    if (!result->variables_db().contains(programs::VariableSignature{name}))
      throw ValueError("A value was given for '" + name + "', which the program does not declare");
  return result;
}

namespace {

bool locate_node(const ast::QASMNode* node, FailureDescription& out) {
  if (!node || !node->span) return false;
  out.line = node->span->start_line;
  out.column = node->span->start_column;
  return true;
}

// The position that `e` carries, if its class carries one.
bool locate(const std::exception& e, FailureDescription& out) {
  if (auto* p = dynamic_cast<const openqasm3::QASM3ParsingError*>(&e)) {
    out.line = p->line;
    out.column = p->column;
    return true;
  }
  if (auto* p = dynamic_cast<const IncludeNotFoundError*>(&e)) {
    out.line = p->line;
    out.column = p->column;
    out.file = p->file;
    return true;
  }
  if (auto* p = dynamic_cast<const IncludedFileError*>(&e)) {
    out.line = p->line;
    out.column = p->column;
    out.file = p->file;
    return true;
  }
  if (auto* p = dynamic_cast<const InvalidFeatureException*>(&e)) return locate_node(p->node.get(), out);
  if (auto* p = dynamic_cast<const code_resolving::GateResolverException*>(&e)) return locate_node(p->node.get(), out);
  if (auto* p = dynamic_cast<const parsing::RedeclarationException*>(&e)) return locate_node(p->node.get(), out);
  if (auto* p = dynamic_cast<const code_generation::MissingInputException*>(&e))
    return locate_node(p->node.get(), out);
  if (auto* p = dynamic_cast<const code_generation::UnsupportedTypeError*>(&e)) return locate_node(p->node.get(), out);
  if (auto* p = dynamic_cast<const code_generation::UnsupportedArrayException*>(&e))
    return locate_node(p->node_type.get(), out);
  if (auto* p = dynamic_cast<const code_generation::UnsupportedTypeException*>(&e))
    return locate_node(p->node_type.get(), out);
  if (auto* p = dynamic_cast<const code_generation::ArrayInitializerException*>(&e)) return locate_node(p->node.get(), out);
  if (auto* p = dynamic_cast<const code_generation::InvalidArraySizeException*>(&e))
    return locate_node(p->array_size.get(), out);
  if (auto* p = dynamic_cast<const NotImplementedError*>(&e))
    if (auto* node = std::get_if<ast::NodePtr>(&p->subject)) return locate_node(node->get(), out);
  return false;
}

// Messages that show a node in its text form ("... at: FunctionCall(span=Span(start_line=3,
// start_column=4, ...") point at it even where the exception keeps no node: the first span shown.
bool locate_in_text(const std::string& text, FailureDescription& out) {
  static constexpr std::string_view kLine = "span=Span(start_line=", kColumn = ", start_column=";
  const auto at = text.find(kLine);
  if (at == std::string::npos) return false;
  const char* p = text.data() + at + kLine.size();
  const char* end = text.data() + text.size();
  int line = 0, column = 0;
  auto [after_line, ec1] = std::from_chars(p, end, line);
  if (ec1 != std::errc() || std::string_view(after_line, end - after_line).substr(0, kColumn.size()) != kColumn)
    return false;
  auto [after_column, ec2] = std::from_chars(after_line + kColumn.size(), end, column);
  if (ec2 != std::errc()) return false;
  out.line = line;
  out.column = column;
  return true;
}

std::string class_name(const std::exception& e) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : typeid(e).name();
  std::free(demangled);
  return name;
}

}  // namespace

FailureDescription describe_failure(const std::exception_ptr& failure) {
  FailureDescription out;
  std::string outermost_class;
  std::exception_ptr current = failure;
  // The outermost text wins (it says the most), the innermost position is as good as any; a cause
  // chain is short, the bound only guards against a cycle.
  for (int depth = 0; current && depth < 32; ++depth) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      if (outermost_class.empty()) outermost_class = class_name(e);
      if (auto* p = dynamic_cast<const openqasm3::QASM3ParsingError*>(&e)) {
        if (out.message.empty()) out.message = p->message;
      } else if (auto* a = dynamic_cast<const code_generation::UnsupportedArrayException*>(&e)) {
        // Its text is the bare name: say what is refused.
        if (out.message.empty()) out.message = "When declaring '" + a->name + "': " + a->reason;
      } else if (out.message.empty() && *e.what()) {
        out.message = e.what();
      }
      if (!out.line) locate(e, out);
      auto* with_cause = dynamic_cast<const HasCause*>(&e);
      current = with_cause ? with_cause->cause() : nullptr;
    } catch (...) {
      break;
    }
  }
  if (out.message.empty()) out.message = outermost_class.empty() ? "unknown failure" : outermost_class;
  if (!out.line) locate_in_text(out.message, out);
  return out;
}

}  // namespace vell_qasm::driver
