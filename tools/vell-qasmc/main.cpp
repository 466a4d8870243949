// vell-qasmc: the example embedding application of the compiler.
//
//   vell-qasmc parse FILE    parse FILE (or "-" for standard input) and print its syntax tree
//                            as OpenQASM 3 source
//   vell-qasmc compile FILE  compile FILE (or "-") for the demonstration machine and print the
//                            TAVO listing; see register_compile for the options (-I DIR: a
//                            folder searched for include files)
//
// Exit status: 0 done, 1 the program failed to compile (one line "FILE:LINE:COL: error: ..." or
// "vell-qasmc: error: ..." on standard error), 2 a usage error.
//
// Each subcommand is one function taking its parsed options; add a subcommand by adding one
// register_* function and calling it from main.
#include <CLI/CLI.hpp>
#include <spdlog/sinks/stdout_sinks.h>

#include <cstdint>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/demo_machine.hpp"
#include "vell_qasm/driver/compile.hpp"
#include "vell_qasm/logging.hpp"

namespace {

// Reads a whole file, or standard input for "-". Returns false with a message when it cannot.
// Only a regular file is read: opening does not wait (a FIFO without writer), and a device such
// as /dev/zero cannot feed bytes forever.
bool read_source(const std::string& path, std::string& text, std::string& error) {
  if (path == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    if (std::cin.bad()) {
      error = "cannot read standard input";
      return false;
    }
    text = buffer.str();
    return true;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = "cannot open '" + path + "'";
    return false;
  }
  struct stat status {};
  bool ok = ::fstat(fd, &status) == 0;
  if (ok && S_ISDIR(status.st_mode)) {
    error = "cannot read '" + path + "': it is a directory";
    ok = false;
  } else if (ok && !S_ISREG(status.st_mode)) {
    error = "cannot read '" + path + "': it is not a regular file";
    ok = false;
  } else if (!ok) {
    error = "cannot read '" + path + "'";
  }
  if (ok && status.st_size > 0) text.reserve(static_cast<std::size_t>(status.st_size));
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "cannot read '" + path + "'";
      ok = false;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ok;
}

std::string display_name(const std::string& path) { return path == "-" ? "<stdin>" : path; }

struct ParseOptions {
  std::string file;
};

int run_parse(const ParseOptions& options) {
  std::string text, error;
  if (!read_source(options.file, text, error)) {
    std::cerr << "vell-qasmc: error: " << error << "\n";
    return 1;
  }
  try {
    auto program = openqasm3::parse(text);
    std::cout << openqasm3::dumps(*program);
    return 0;
  } catch (const openqasm3::QASM3ParsingError& e) {
    std::cerr << display_name(options.file) << ":" << e.line << ":" << e.column << ": error: " << e.message << "\n";
    return 1;
  }
}

void register_parse(CLI::App& app, int& status) {
  auto options = std::make_shared<ParseOptions>();
  CLI::App* cmd = app.add_subcommand("parse", "Parse an OpenQASM 3 program and print its syntax tree as source");
  cmd->add_option("FILE", options->file, "source file, or - for standard input")->required();
  cmd->callback([options, &status] { status = run_parse(*options); });
}

struct CompileOptions {
  std::string file;
  std::string output;
  std::vector<std::string> inputs;
  std::int64_t qubits = vell_qasm::demo_machine::kDefaultQubits;
  std::int64_t max_inclusion_depth = 100;
  std::int64_t max_expansion = vell_qasm::passes::code_resolving::kDefaultMaxExpansion;
  std::vector<std::string> include_path;
  std::int64_t max_included_files = vell_qasm::passes::parsing::IncludeExpansion::kDefaultMaxIncludedFiles;
  std::int64_t max_included_bytes = vell_qasm::passes::parsing::IncludeExpansion::kDefaultMaxIncludedBytes;
  std::optional<std::string> skip_optimizations, enforce_optimizations, skip_validations;
  bool verbose = false;
};

// "NAME=VALUE" (see parse_input_value); nullopt when it is not one.
std::optional<std::pair<std::string, vell_qasm::passes::code_generation::InputValue>> parse_input(
    const std::string& text) {
  const auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return std::nullopt;
  auto value = vell_qasm::driver::parse_input_value(std::string_view(text).substr(equals + 1));
  if (!value) return std::nullopt;
  return std::make_pair(text.substr(0, equals), std::move(*value));
}

int run_compile(const CompileOptions& options) {
  // Records of the compiler's loggers: WARNING (a tolerated optimization failure), with -v DEBUG.
  auto sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  sink->set_pattern("vell-qasmc: %l: [%n] %v");
  sink->set_level(options.verbose ? spdlog::level::debug : spdlog::level::warn);
  vell_qasm::logging::add_sink(sink);
  struct Detach {
    spdlog::sink_ptr sink;
    ~Detach() { vell_qasm::logging::remove_sink(sink); }
  } detach{sink};

  std::string text, error;
  if (!read_source(options.file, text, error)) {
    std::cerr << "vell-qasmc: error: " << error << "\n";
    return 1;
  }
  vell_qasm::driver::CompileOptions compile_options;
  try {
    compile_options = vell_qasm::driver::demo_compile_options(options.qubits);
    for (const std::string& input : options.inputs) {
      auto parsed = parse_input(input);  // checked by the option's validator already
      if (!compile_options.inputs.insert_or_assign(parsed->first, parsed->second).second) {
        std::cerr << "vell-qasmc: error: --input gives '" << parsed->first << "' more than once\n";
        return 2;
      }
    }
    compile_options.max_expansion = options.max_expansion;
    compile_options.build_settings = vell_qasm::configurations::BuildSettings(
        {.max_inclusion_depth = options.max_inclusion_depth,
         .optimizations_to_enforce = options.enforce_optimizations,
         .optimizations_to_skip = options.skip_optimizations,
         .validations_to_skip = options.skip_validations});
    // Includes are found next to the source file, as its author expects.
    if (options.file != "-") {
      std::filesystem::path directory = std::filesystem::path(options.file).parent_path();
      compile_options.include_directory = directory.empty() ? std::filesystem::path(".") : directory;
    }
    compile_options.include_path.assign(options.include_path.begin(), options.include_path.end());
    compile_options.max_included_files = options.max_included_files;
    compile_options.max_included_bytes = options.max_included_bytes;
    auto program = vell_qasm::driver::compile(text, compile_options);
    const vell::tavo::Program listing = program->dsl_program();
    if (options.output.empty() || options.output == "-") {
      listing.write_listing(std::cout);
      std::cout.flush();
      if (!std::cout) {
        std::cerr << "vell-qasmc: error: cannot write standard output\n";
        return 1;
      }
      return 0;
    }
    std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
    listing.write_listing(out);
    out.close();
    if (!out) {
      std::cerr << "vell-qasmc: error: cannot write '" << options.output << "'\n";
      return 1;
    }
    return 0;
  } catch (...) {
    const auto failure = vell_qasm::driver::describe_failure(std::current_exception());
    std::cerr << vell_qasm::driver::error_line(display_name(options.file), failure) << "\n";
    return 1;
  }
}

void register_compile(CLI::App& app, int& status) {
  auto options = std::make_shared<CompileOptions>();
  CLI::App* cmd = app.add_subcommand("compile", "Compile an OpenQASM 3 program for the demonstration machine and "
                                                "print its TAVO listing");
  cmd->add_option("FILE", options->file, "source file, or - for standard input")->required();
  cmd->add_option("-o,--output", options->output, "write the listing to this file instead of standard output");
  cmd->add_option("--input", options->inputs, "NAME=VALUE: a compile-time value (true, false, an integer or a real) "
                                              "for a variable; repeatable")
      ->check([](const std::string& text) {
        return parse_input(text) ? std::string() : "expected NAME=VALUE with a bool, int or real VALUE: " + text;
      });
  cmd->add_option("--qubits", options->qubits, "hardware qubits of the demonstration machine")
      ->check(CLI::Range(vell_qasm::demo_machine::kMinQubits, vell_qasm::demo_machine::kMaxQubits));
  cmd->add_option("--max-inclusion-depth", options->max_inclusion_depth, "deepest include nesting admitted");
  cmd->add_option("--max-expansion", options->max_expansion,
                  "most syntax nodes that the program's gate calls may expand to")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("-I,--include-dir", options->include_path,
                  "DIR: a folder searched for include files not found beside the including file; repeatable");
  cmd->add_option("--max-included-files", options->max_included_files,
                  "most files all includes of the program may read together");
  cmd->add_option("--max-included-bytes", options->max_included_bytes,
                  "most bytes all includes of the program may read together");
  cmd->add_option("--skip-optimizations", options->skip_optimizations, "pattern of the optimizations to skip");
  cmd->add_option("--enforce-optimizations", options->enforce_optimizations,
                  "pattern of the optimizations whose failure ends the compilation");
  cmd->add_option("--skip-validations", options->skip_validations, "pattern of the validations to skip");
  cmd->add_flag("-v,--verbose", options->verbose, "also print the compiler's DEBUG records on standard error");
  cmd->callback([options, &status] { status = run_compile(*options); });
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vell-qasmc: OpenQASM 3 to TAVO compiler"};
  app.require_subcommand(1);
  int status = 0;
  register_parse(app, status);
  register_compile(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;  // help is success; every other usage error is status 2
  } catch (const std::exception& e) {
    std::cerr << "vell-qasmc: error: " << e.what() << "\n";
    return 1;
  }
  return status;
}
