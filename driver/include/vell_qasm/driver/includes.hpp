// Include expansion as the driver runs it: include files are searched for, and the standard
// library is served when no file of its name is found.
//
// A relative name is looked up in the folder of the file whose include statement names it (for
// the program itself: CompileOptions::include_directory, or the working directory as it is),
// then in each search folder in order; an absolute name only as it is. Failing all of them,
// "stdgates.inc" and "qelib1.inc" are served from memory (standard_include_text), and any other
// name is FileNotFoundError "File NAME not found" (an IncludeNotFoundError, which says where the
// include statement stands). The process's working directory is never changed, so compilations
// may run on several threads at once.
//
// A file that does not parse is reported as IncludedFileError, which names the file (as found)
// and carries the parser's position in it; its cause is the parser's error.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/code_resolving/gate_inlining.hpp"
#include "vell_qasm/passes/parsing/include_expansion.hpp"

namespace vell_qasm::driver {

// The text of an included file did not parse. `file`: the path it was read from (or the name,
// for a served file); `line` and `column` as the parser counts them in that file.
class IncludedFileError : public passes::parsing::ParsingException, public HasCause {
 public:
  IncludedFileError(std::string file, int line, int column, std::string message);

  const std::string file;
  const int line, column;

  const char* what() const noexcept override { return _message.c_str(); }

 private:
  std::string _message;
};

// No file of an included name exists and none is served: FileNotFoundError "File NAME not found",
// with where the include statement stands: `file` the including file (none: the program itself).
class IncludeNotFoundError : public FileNotFoundError {
 public:
  IncludeNotFoundError(const std::string& name, std::optional<std::string> file, int line, int column);

  const std::optional<std::string> file;
  const int line, column;
};

// The standard library file `name` ("stdgates.inc" or "qelib1.inc") as served to a machine that
// builds in `built_in` gates: the library's gate definitions less the built-in gates (a second
// definition would be refused) and less any gate whose definition calls a gate that is neither
// built in nor defined before it. Every definition bottoms out in U and CX (or cx), so a machine
// with only those compiles every standard gate. Global phases of the definitions are dropped
// (gate modifiers are refused, so none can be observed). None for any other name.
std::optional<std::string> standard_include_text(std::string_view name,
                                                 const passes::code_resolving::GateSignatures& built_in);

class IncludeSearch : public passes::parsing::IncludeExpansion {
 public:
  struct Options {
    // The folder of the program's own source; none: relative names as they stand.
    std::optional<std::filesystem::path> source_directory;
    // Searched after the including file's folder, in this order.
    std::vector<std::filesystem::path> search_path;
    // For the served standard files.
    std::shared_ptr<const passes::code_resolving::GateSignatures> built_in_gates;
  };

  IncludeSearch(std::int64_t max_depth, Options options);

  std::shared_ptr<openqasm3::ast::Program> get_sub_program(const std::string& filename) const override;

 protected:
  std::shared_ptr<openqasm3::ast::Program> _parse_inclusions(
      const std::shared_ptr<openqasm3::ast::Program>& program, const std::vector<std::string>& included_files) override;

 private:
  // One file being expanded: where it was read from (none: the program, or a served file), the
  // folder its relative names start from, and its include statements, the next one to be read.
  struct Level {
    std::optional<std::filesystem::path> file, folder;
    std::vector<const openqasm3::ast::Include*> includes;
    std::size_t next = 0;
  };

  Options options_;
  // The files being expanded (innermost last), and where each file read but not yet expanded came
  // from. State of one expansion: a step object is not shared between threads.
  mutable std::vector<Level> levels_;
  mutable std::unordered_map<const openqasm3::ast::Program*, std::optional<std::filesystem::path>> read_from_;
};

}  // namespace vell_qasm::driver
