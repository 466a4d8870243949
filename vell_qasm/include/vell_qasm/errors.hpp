// The standard error kinds that the compiler raises, one class each, and the cause link.
//
// Messages are built once, in the constructor, from the exception's public fields. An exception
// raised in place of a caught one keeps the caught one in `cause()` (a std::exception_ptr,
// null when there is none); rethrow it with std::rethrow_exception to inspect it.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <variant>

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

struct TypeError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};
struct ValueError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};
struct AttributeError : std::logic_error {
  using std::logic_error::logic_error;
};
// Always-on checks: raised where an earlier step should have guaranteed the condition.
struct AssertionError : std::logic_error {
  AssertionError() : std::logic_error("") {}
  using std::logic_error::logic_error;
};
struct KeyError : std::out_of_range {
  using std::out_of_range::out_of_range;
};
struct IndexError : std::out_of_range {
  using std::out_of_range::out_of_range;
};
struct FileNotFoundError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct ZeroDivisionError : std::domain_error {
  using std::domain_error::domain_error;
};
struct OverflowError : std::overflow_error {
  using std::overflow_error::overflow_error;
};

// Not implemented: a text, optionally with the construct it is about (a node, or the text of an
// operator). With a subject the message is ('text', <subject's text form>).
class NotImplementedError : public std::logic_error {
 public:
  using Subject = std::variant<std::monostate, openqasm3::ast::NodePtr, std::string>;

  explicit NotImplementedError(std::string text_)
      : std::logic_error(text_), text(std::move(text_)) {}
  NotImplementedError(std::string text_, Subject subject_)
      : std::logic_error(render(text_, subject_)), text(std::move(text_)), subject(std::move(subject_)) {}

  const std::string text;
  const Subject subject;

 private:
  static std::string render(const std::string& text, const Subject& subject);
};

// Throws AssertionError(message) unless `condition` holds.
inline void check(bool condition, const char* message = "") {
  if (!condition) throw AssertionError(message);
}

}  // namespace vell_qasm
