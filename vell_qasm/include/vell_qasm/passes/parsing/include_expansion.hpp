// IncludeExpansion: replaces every top-level `include "name";` of a program by the statements of
// the file it names, recursively, no deeper than `max_depth` files.
//
// Files are opened by exactly the name given, relative names against the process's working
// directory (also for includes inside included files); there are no built-in include files, so
// `include "stdgates.inc";` needs such a file. An included file may not declare a version.
//
// Depth: the program handed in is level 0, a file it includes level 1, and so on. With a limit of
// N, files of levels 1 to N are spliced; a file of level N+1 is still read, parsed and checked for
// a version (so those failures win) and then refused with DeepInclusionError, whose chain names
// the files from level 1 down to it. A limit of 0 admits no include; a negative one refuses every
// program, even one without includes, with an empty chain. Nesting is refused beyond
// kMaxInclusionNesting levels whatever the limit, since the expansion recurses once per level.
// There is no cycle detection beneath the limit: a file that includes itself is expanded again at
// every level until the limit stops it, and a file included twice is read and spliced twice.
//
// Only a program's own statement list is searched; an Include inside another statement stays.
// The given tree is changed in place (its root's statement list is replaced) and the returned
// OpenQasmProgram shares the root; after any failure the given tree is as it was.
//
// Failures: DeepInclusionError, IncludeFileDeclaresVersionException (both ParsingExceptions);
// FileNotFoundError "File NAME not found" when nothing exists under the name; a
// std::filesystem::filesystem_error naming the file when it exists but cannot be read (a
// directory, no permission, not a regular file); the parser's QASM3ParsingError, unwrapped, when
// the file's text does not parse. Nothing is logged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/parsing/exceptions.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::parsing {

// Include nesting passed the limit. `inclusion_files`: the chain of file names from level 1 down
// to the refused file.
class DeepInclusionError : public ParsingException {
 public:
  explicit DeepInclusionError(std::vector<std::string> inclusion_files);

  const std::vector<std::string> inclusion_files;

  const char* what() const noexcept override { return _message.c_str(); }

 private:
  std::string _message;
};

// An included file begins with a version statement. `filename`: as the include statement gives it.
class IncludeFileDeclaresVersionException : public ParsingException {
 public:
  explicit IncludeFileDeclaresVersionException(std::string filename);

  const std::string filename;

  const char* what() const noexcept override { return _message.c_str(); }

 private:
  std::string _message;
};

// Reads the file under exactly this name whole and parses it (failures as in the header comment).
std::shared_ptr<openqasm3::ast::Program> parse_oq3_source_filename(const std::string& filename);

class IncludeExpansion : public Step {
 public:
  // Deepest nesting that the expansion follows, whatever `max_depth` says.
  static constexpr std::size_t kMaxInclusionNesting = 1000;

  // Any limit is accepted, zero and negative ones included.
  explicit IncludeExpansion(std::int64_t max_depth);

  // Read afresh at every level; may be changed between calls.
  std::int64_t max_depth;

  // Takes an OpenQasmProgram (anything else is an AssertionError).
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

  // Reads and parses one included file and refuses it when it declares a version. Uses no state of
  // the step; virtual so that a derived step changes how every level is read.
  virtual std::shared_ptr<openqasm3::ast::Program> get_sub_program(const std::string& filename) const;

 protected:
  // Expands `program`, whose include chain is `included_files`, and returns it. Reached through the
  // object at every level.
  virtual std::shared_ptr<openqasm3::ast::Program> _parse_inclusions(
      const std::shared_ptr<openqasm3::ast::Program>& program, const std::vector<std::string>& included_files);
};

}  // namespace vell_qasm::passes::parsing
