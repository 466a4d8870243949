#include "vell_qasm/driver/includes.hpp"

#include <string_view>
#include <system_error>
#include <unordered_set>

#include "openqasm3/parser.hpp"

namespace vell_qasm::driver {

namespace fs = std::filesystem;
namespace ast = openqasm3::ast;

namespace {

// One definition of the standard library and the gates its body calls (space-separated).
struct StandardGate {
  const char* name;
  const char* definition;
  const char* calls;
};

// The gates of stdgates.inc, written with U and CX (or cx) at the bottom, each from gates defined
// before it. cx and CX are each other's alias: whichever the machine builds in defines the other.
// Divisors are real: an integer argument (`cp(1)`) must not be halved by integer division.
constexpr StandardGate kStdgates[] = {
    {"p", "gate p(lambda) a { U(0, 0, lambda) a; }\n", "U"},
    {"x", "gate x a { U(pi, 0, pi) a; }\n", "U"},
    {"y", "gate y a { U(pi, pi / 2.0, pi / 2.0) a; }\n", "U"},
    {"z", "gate z a { p(pi) a; }\n", "p"},
    {"h", "gate h a { U(pi / 2.0, 0, pi) a; }\n", "U"},
    {"s", "gate s a { p(pi / 2.0) a; }\n", "p"},
    {"sdg", "gate sdg a { p(-pi / 2.0) a; }\n", "p"},
    {"t", "gate t a { p(pi / 4.0) a; }\n", "p"},
    {"tdg", "gate tdg a { p(-pi / 4.0) a; }\n", "p"},
    {"sx", "gate sx a { sdg a; h a; sdg a; }\n", "h sdg"},
    {"rx", "gate rx(theta) a { U(theta, -pi / 2.0, pi / 2.0) a; }\n", "U"},
    {"ry", "gate ry(theta) a { U(theta, 0, 0) a; }\n", "U"},
    {"rz", "gate rz(theta) a { U(0, 0, theta) a; }\n", "U"},
    {"cx", "gate cx a, b { CX a, b; }\n", "CX"},
    {"CX", "gate CX a, b { cx a, b; }\n", "cx"},
    {"cy", "gate cy a, b { sdg b; cx a, b; s b; }\n", "cx s sdg"},
    {"cz", "gate cz a, b { h b; cx a, b; h b; }\n", "cx h"},
    {"cp", "gate cp(lambda) a, b { p(lambda / 2.0) a; cx a, b; p(-lambda / 2.0) b; cx a, b; p(lambda / 2.0) b; }\n", "cx p"},
    {"crx", "gate crx(theta) a, b { p(pi / 2.0) b; cx a, b; U(-theta / 2.0, 0, 0) b; cx a, b; U(theta / 2.0, -pi / 2.0, 0) b; }\n", "U cx p"},
    {"cry", "gate cry(theta) a, b { ry(theta / 2.0) b; cx a, b; ry(-theta / 2.0) b; cx a, b; }\n", "cx ry"},
    {"crz", "gate crz(theta) a, b { rz(theta / 2.0) b; cx a, b; rz(-theta / 2.0) b; cx a, b; }\n", "cx rz"},
    {"ch", "gate ch a, b { s b; h b; t b; cx a, b; tdg b; h b; sdg b; }\n", "cx h s sdg t tdg"},
    {"cu", "gate cu(theta, phi, lambda, gamma) a, b { p(gamma) a; p((lambda + phi) / 2.0) a; p((lambda - phi) / 2.0) b; cx a, b; U(-theta / 2.0, 0, -(phi + lambda) / 2.0) b; cx a, b; U(theta / 2.0, phi, 0) b; }\n", "U cx p"},
    {"swap", "gate swap a, b { cx a, b; cx b, a; cx a, b; }\n", "cx"},
    {"ccx", "gate ccx a, b, c { h c; cx b, c; tdg c; cx a, c; t c; cx b, c; tdg c; cx a, c; t b; t c; h c; cx a, b; t a; tdg b; cx a, b; }\n", "cx h t tdg"},
    {"cswap", "gate cswap a, b, c { cx c, b; ccx a, b, c; cx c, b; }\n", "ccx cx"},
    {"phase", "gate phase(lambda) a { p(lambda) a; }\n", "p"},
    {"cphase", "gate cphase(lambda) a, b { cp(lambda) a, b; }\n", "cp"},
    {"id", "gate id a { U(0, 0, 0) a; }\n", "U"},
    {"u1", "gate u1(lambda) a { p(lambda) a; }\n", "p"},
    {"u2", "gate u2(phi, lambda) a { U(pi / 2.0, phi, lambda) a; }\n", "U"},
    {"u3", "gate u3(theta, phi, lambda) a { U(theta, phi, lambda) a; }\n", "U"},
};

// The gates of OpenQASM 2's qelib1.inc, on U and CX.
constexpr StandardGate kQelib1[] = {
    {"u3", "gate u3(theta, phi, lambda) a { U(theta, phi, lambda) a; }\n", "U"},
    {"u2", "gate u2(phi, lambda) a { U(pi / 2.0, phi, lambda) a; }\n", "U"},
    {"u1", "gate u1(lambda) a { U(0, 0, lambda) a; }\n", "U"},
    {"cx", "gate cx a, b { CX a, b; }\n", "CX"},
    {"id", "gate id a { U(0, 0, 0) a; }\n", "U"},
    {"x", "gate x a { u3(pi, 0, pi) a; }\n", "u3"},
    {"y", "gate y a { u3(pi, pi / 2.0, pi / 2.0) a; }\n", "u3"},
    {"z", "gate z a { u1(pi) a; }\n", "u1"},
    {"h", "gate h a { u2(0, pi) a; }\n", "u2"},
    {"s", "gate s a { u1(pi / 2.0) a; }\n", "u1"},
    {"sdg", "gate sdg a { u1(-pi / 2.0) a; }\n", "u1"},
    {"t", "gate t a { u1(pi / 4.0) a; }\n", "u1"},
    {"tdg", "gate tdg a { u1(-pi / 4.0) a; }\n", "u1"},
    {"rx", "gate rx(theta) a { u3(theta, -pi / 2.0, pi / 2.0) a; }\n", "u3"},
    {"ry", "gate ry(theta) a { u3(theta, 0, 0) a; }\n", "u3"},
    {"rz", "gate rz(phi) a { u1(phi) a; }\n", "u1"},
    {"cz", "gate cz a, b { h b; cx a, b; h b; }\n", "cx h"},
    {"cy", "gate cy a, b { sdg b; cx a, b; s b; }\n", "cx s sdg"},
    {"ch", "gate ch a, b { s b; h b; t b; cx a, b; tdg b; h b; sdg b; }\n", "cx h s sdg t tdg"},
    {"ccx", "gate ccx a, b, c { h c; cx b, c; tdg c; cx a, c; t c; cx b, c; tdg c; cx a, c; t b; t c; h c; cx a, b; t a; tdg b; cx a, b; }\n", "cx h t tdg"},
    {"crz", "gate crz(lambda) a, b { u1(lambda / 2.0) b; cx a, b; u1(-lambda / 2.0) b; cx a, b; }\n", "cx u1"},
    {"cu1", "gate cu1(lambda) a, b { u1(lambda / 2.0) a; cx a, b; u1(-lambda / 2.0) b; cx a, b; u1(lambda / 2.0) b; }\n", "cx u1"},
    {"cu3", "gate cu3(theta, phi, lambda) a, b { u1((lambda + phi) / 2.0) a; u1((lambda - phi) / 2.0) b; cx a, b; u3(-theta / 2.0, 0, -(phi + lambda) / 2.0) b; cx a, b; u3(theta / 2.0, phi, 0) b; }\n", "cx u1 u3"},
};



std::string served(const StandardGate* gates, std::size_t count, const passes::code_resolving::GateSignatures& built_in) {
  std::unordered_set<std::string_view> available;
  for (const auto& gate : built_in) available.insert(gate.name);
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    const StandardGate& gate = gates[i];
    if (available.count(gate.name)) continue;
    bool callable = true;
    std::string_view calls = gate.calls;
    while (callable && !calls.empty()) {
      const std::size_t space = calls.find(' ');
      callable = available.count(calls.substr(0, space)) > 0;
      calls = space == std::string_view::npos ? std::string_view() : calls.substr(space + 1);
    }
    if (!callable) continue;
    available.insert(gate.name);
    text += gate.definition;
  }
  return text;
}

bool file_exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

}  // namespace

IncludeNotFoundError::IncludeNotFoundError(const std::string& name, std::optional<std::string> file_, int line_,
                                           int column_)
    : FileNotFoundError("File " + name + " not found"), file(std::move(file_)), line(line_), column(column_) {
  set_location({file, line, column});
}

IncludedFileError::IncludedFileError(std::string file_, int line_, int column_, std::string message)
    : file(std::move(file_)), line(line_), column(column_), _message(std::move(message)) {
  set_location({file, line, column});
}

std::optional<std::string> standard_include_text(std::string_view name,
                                                 const passes::code_resolving::GateSignatures& built_in) {
  if (name == "stdgates.inc") return served(kStdgates, std::size(kStdgates), built_in);
  if (name == "qelib1.inc") return served(kQelib1, std::size(kQelib1), built_in);
  return std::nullopt;
}

IncludeSearch::IncludeSearch(std::int64_t max_depth, Options options)
    : IncludeExpansion(max_depth), options_(std::move(options)) {}

std::shared_ptr<ast::Program> IncludeSearch::_parse_inclusions(const std::shared_ptr<ast::Program>& program,
                                                               const std::vector<std::string>& included_files) {
  if (included_files.empty()) read_from_.clear();
  Level level;
  if (auto found = read_from_.find(program.get()); found != read_from_.end()) {
    level.file = std::move(found->second);
    read_from_.erase(found);
    if (level.file) level.folder = level.file->parent_path();
  } else if (included_files.empty()) {
    level.folder = options_.source_directory;
  }  // else: a program that did not come from get_sub_program: names as they stand
  // The expansion reads the includes of this statement list in their order, one get_sub_program
  // each, so the n-th call at this level is for the n-th include.
  const auto& statements = program->statements;
  const std::size_t level_first = find_include(statements);
  for (std::size_t i = level_first; i < statements.size(); i = find_include(statements, i + 1))
    level.includes.push_back(static_cast<const ast::Include*>(statements[i].get()));
  levels_.push_back(std::move(level));
  struct Pop {
    std::vector<Level>& levels;
    ~Pop() { levels.pop_back(); }
  } pop{levels_};
  check_inclusion_depth(included_files);
  return expand_includes(program, level_first, included_files);
}

std::shared_ptr<ast::Program> IncludeSearch::get_sub_program(const std::string& filename) const {
  const ast::Include* statement = nullptr;
  if (!levels_.empty()) {
    Level& level = levels_.back();
    if (level.next < level.includes.size() && level.includes[level.next]->filename == filename)
      statement = level.includes[level.next];
    ++level.next;
  }
  // A name with a NUL byte names no file (the system would cut it short).
  const bool plain_name = filename.find('\0') == std::string::npos && !filename.empty();
  std::optional<fs::path> found;
  if (plain_name) {
    const fs::path name(filename);
    if (name.is_absolute()) {
      if (file_exists(name)) found = name;
    } else {
      const std::optional<fs::path>& here = levels_.empty() ? options_.source_directory : levels_.back().folder;
      fs::path first = here ? *here / name : name;
      if (file_exists(first)) found = std::move(first);
      for (std::size_t i = 0; !found && i < options_.search_path.size(); ++i)
        if (fs::path candidate = options_.search_path[i] / name; file_exists(candidate)) found = std::move(candidate);
    }
  }
  std::string text, shown = filename;
  if (found) {
    shown = found->string();
    text = passes::parsing::read_source_file(shown);
  } else if (auto standard = options_.built_in_gates ? standard_include_text(filename, *options_.built_in_gates)
                                                      : std::nullopt) {
    text = std::move(*standard);
  } else if (statement && statement->span) {
    // Where the include statement stands: in an included file, or in the program (no file).
    std::optional<std::string> in;
    if (levels_.back().file) in = levels_.back().file->string();
    throw IncludeNotFoundError(filename, std::move(in), statement->span->start_line, statement->span->start_column);
  } else {
    throw FileNotFoundError("File " + filename + " not found");
  }
  count_included_file(filename, text.size());
  std::shared_ptr<ast::Program> program;
  try {
    program = openqasm3::parse(text);
  } catch (const openqasm3::QASM3ParsingError& e) {
    IncludedFileError error(shown, e.line, e.column, e.message);
    error.set_cause(std::current_exception());
    throw error;
  }
  if (program->version) throw passes::parsing::IncludeFileDeclaresVersionException(filename);
  number_source_file(*program, std::move(shown));
  read_from_[program.get()] = found;
  return program;
}

}  // namespace vell_qasm::driver
