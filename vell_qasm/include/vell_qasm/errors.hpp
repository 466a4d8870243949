// The standard error kinds that the compiler raises, one class each, the cause link and the
// source location.
//
// Messages are built once, in the constructor, from the exception's public fields. An exception
// raised in place of a caught one keeps the caught one in `cause()` (a std::exception_ptr,
// null when there is none); rethrow it with std::rethrow_exception to inspect it.
//
// Every exception class of the compiler carries a source location (HasLocation): set by the
// constructor of an exception that is about a node with a position, or else by the walk that
// the failure leaves (passes/walker.hpp attaches the statement being walked). failure_location()
// reads it, also for failures of other libraries (the SDK, the tree library, the standard
// library), whose location is kept beside them.
#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "openqasm3/ast.hpp"

namespace vell_qasm {

// Mixin for exceptions that may keep the exception they replaced.
class HasCause {
 public:
  const std::exception_ptr& cause() const noexcept { return cause_; }
  void set_cause(std::exception_ptr cause) noexcept { cause_ = std::move(cause); }

 private:
  std::exception_ptr cause_;
};

// A position in the source: line from 1, column from 0 (as the parser counts). `file` names the
// file when the position lies in another file than the program compiled (an included one).
// `file_number` is the node's Span::file (0: the program compiled); name_failure_file() turns a
// number into a name once the table of files read is at hand.
struct SourceLocation {
  std::optional<std::string> file;
  int line = 0;
  int column = 0;
  int file_number = 0;
  friend bool operator==(const SourceLocation&, const SourceLocation&) = default;
};

// Where a node starts; nullopt for a node without a span (or no node).
std::optional<SourceLocation> location_of(const openqasm3::ast::QASMNode* node);

// Mixin for exceptions that may know where in the source they arose.
class HasLocation {
 public:
  virtual ~HasLocation() = default;
  // The location set, else the position of the node the exception is about (located_node()).
  std::optional<SourceLocation> location() const;
  void set_location(SourceLocation location) { location_ = std::move(location); }
  // Takes the position of `node` unless a location is held already; a node without a span (or
  // none) changes nothing. Returns whether a location is held now.
  bool locate_at(const openqasm3::ast::QASMNode* node);

 protected:
  // The node the exception is about, for a class that keeps one (under its own field name);
  // null by default.
  virtual const openqasm3::ast::QASMNode* located_node() const noexcept { return nullptr; }

 private:
  std::optional<SourceLocation> location_;
};

// Gives the failure being handled (call it in a catch block) the position of `node` in `file`
// (none: the program compiled), unless it has a location already. A node without a span lends
// the position of the first node with one that it holds; with none, nothing changes. A failure
// of a class that cannot hold a location keeps it beside it, for failure_location(); only the
// most recent such failure of the thread does.
void locate_failure(openqasm3::ast::QASMNode& node, const std::optional<std::string>& file = std::nullopt);

// Names the file of the failure being handled (call it in a catch block): when the location that
// failure_location() finds names no file and lies in file number n > 0, it takes `files[n]` (a
// number past the table changes nothing).
void name_failure_file(const std::vector<std::string>& files);

// The location of `failure`, else of the nearest of its causes that has one (the chain is
// followed through HasCause).
std::optional<SourceLocation> failure_location(const std::exception_ptr& failure);

struct TypeError : std::invalid_argument, HasLocation {
  using std::invalid_argument::invalid_argument;
};
struct ValueError : std::invalid_argument, HasLocation {
  using std::invalid_argument::invalid_argument;
};
struct AttributeError : std::logic_error, HasLocation {
  using std::logic_error::logic_error;
};
// Always-on checks: raised where an earlier step should have guaranteed the condition.
struct AssertionError : std::logic_error, HasLocation {
  AssertionError() : std::logic_error("") {}
  using std::logic_error::logic_error;
};
struct KeyError : std::out_of_range, HasLocation {
  using std::out_of_range::out_of_range;
};
struct IndexError : std::out_of_range, HasLocation {
  using std::out_of_range::out_of_range;
};
struct FileNotFoundError : std::runtime_error, HasLocation {
  using std::runtime_error::runtime_error;
};
struct ZeroDivisionError : std::domain_error, HasLocation {
  using std::domain_error::domain_error;
};
struct OverflowError : std::overflow_error, HasLocation {
  using std::overflow_error::overflow_error;
};

// Not implemented: a text, optionally with the construct it is about (a node, or the text of an
// operator). With a subject the message is ('text', <subject's text form>); a node subject is
// also its location.
class NotImplementedError : public std::logic_error, public HasLocation {
 public:
  using Subject = std::variant<std::monostate, openqasm3::ast::NodePtr, std::string>;

  explicit NotImplementedError(std::string text_)
      : std::logic_error(text_), text(std::move(text_)) {}
  NotImplementedError(std::string text_, Subject subject_)
      : std::logic_error(render(text_, subject_)), text(std::move(text_)), subject(std::move(subject_)) {}

  const std::string text;
  const Subject subject;

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override {
    auto* node = std::get_if<openqasm3::ast::NodePtr>(&subject);
    return node ? node->get() : nullptr;
  }

 private:
  static std::string render(const std::string& text, const Subject& subject);
};

// `failure` located at `node` (unless it holds a location already), for a throw that knows a
// nearer node than the statement being walked: throw located_at(node, ValueError("...")).
template <class E> E located_at(const openqasm3::ast::QASMNode& node, E failure) {
  failure.locate_at(&node);
  return failure;
}

// Throws AssertionError(message) unless `condition` holds.
inline void check(bool condition, const char* message = "") {
  if (!condition) throw AssertionError(message);
}

}  // namespace vell_qasm
