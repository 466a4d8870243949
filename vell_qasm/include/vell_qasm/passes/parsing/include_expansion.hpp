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
// Bounds on the whole expansion: a program that includes a file twice, which includes the next
// twice, and so on, reads 2^depth files from a few hundred bytes. Once more than
// `max_included_files` files, or more than `max_included_bytes` bytes of them, have been read in
// one call, IncludeLimitError ends the expansion (defaults kDefaultMaxIncludedFiles,
// kDefaultMaxIncludedBytes: far above real programs, which include a few files).
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
//
// The spans of the nodes spliced from a file carry its number (Span::file), whose name
// source_files() keeps, so that a failure of any later step can name the file with its position.
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

// The include expansion passed one of its bounds on the files read; `filename` is the include
// that passed it, as written.
class IncludeLimitError : public ParsingException {
 public:
  IncludeLimitError(std::string filename, std::string message);

  const std::string filename;

  const char* what() const noexcept override { return _message.c_str(); }

 private:
  std::string _message;
};

// Reads the file under exactly this name whole and parses it (failures as in the header comment).
std::shared_ptr<openqasm3::ast::Program> parse_oq3_source_filename(const std::string& filename);

// The whole text of the file under exactly this name: FileNotFoundError when nothing exists
// there, std::filesystem::filesystem_error when it cannot be read or is no regular file.
std::string read_source_file(const std::string& filename);

class IncludeExpansion : public Step {
 public:
  // Deepest nesting that the expansion follows, whatever `max_depth` says.
  static constexpr std::size_t kMaxInclusionNesting = 1000;

  // Any limit is accepted, zero and negative ones included.
  explicit IncludeExpansion(std::int64_t max_depth);

  // Read afresh at every level; may be changed between calls.
  std::int64_t max_depth;

  static constexpr std::int64_t kDefaultMaxIncludedFiles = 1000;
  static constexpr std::int64_t kDefaultMaxIncludedBytes = std::int64_t{64} << 20;
  // Totals of one call (see the header comment); may be changed between calls.
  std::int64_t max_included_files = kDefaultMaxIncludedFiles;
  std::int64_t max_included_bytes = kDefaultMaxIncludedBytes;

  // Takes an OpenQasmProgram (anything else is an AssertionError).
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

  // Reads and parses one included file and refuses it when it declares a version; counts it against
  // the bounds on files and bytes read (count_included_file). Virtual so that a derived step
  // changes how every level is read (the driver's search for include files does).
  virtual std::shared_ptr<openqasm3::ast::Program> get_sub_program(const std::string& filename) const;

  // The files the last call read, by the number that the spans of their nodes carry (Span::file):
  // entry 0 (empty) stands for the program, entry n names the n-th file read as get_sub_program
  // shows it. Bounded by `max_included_files`; a failure of a later step finds its file here
  // (name_failure_file in errors.hpp).
  const std::vector<std::string>& source_files() const { return source_files_; }

 protected:
  // Gives the nodes of `sub_program`, just read from the file shown as `name`, the next file
  // number (one walk of its tree) and keeps the name. get_sub_program calls it after parsing.
  void number_source_file(openqasm3::ast::Program& sub_program, std::string name) const;

  // Expands `program`, whose include chain is `included_files`, and returns it. Reached through the
  // object at every level.
  virtual std::shared_ptr<openqasm3::ast::Program> _parse_inclusions(
      const std::shared_ptr<openqasm3::ast::Program>& program, const std::vector<std::string>& included_files);

  // The position of the first include statement of `statements` from `from` on; the list's size
  // when there is none.
  static std::size_t find_include(const std::vector<openqasm3::ast::NodePtr>& statements, std::size_t from = 0);

  // The two halves of _parse_inclusions, for a derived class that scans the list itself: the
  // refusal of a chain deeper than the bounds (DeepInclusionError), then the expansion of a
  // program whose first include statement is at `first` (find_include).
  void check_inclusion_depth(const std::vector<std::string>& included_files) const;
  std::shared_ptr<openqasm3::ast::Program> expand_includes(const std::shared_ptr<openqasm3::ast::Program>& program,
                                                           std::size_t first,
                                                           const std::vector<std::string>& included_files);

  // Counts a file of `bytes` bytes read for the include `filename` against the bounds of this
  // call; IncludeLimitError once one is passed. get_sub_program calls it before parsing.
  void count_included_file(const std::string& filename, std::size_t bytes) const;

 private:
  mutable std::int64_t included_files_ = 0;
  mutable std::int64_t included_bytes_ = 0;
  mutable std::vector<std::string> source_files_;
};

}  // namespace vell_qasm::passes::parsing
