// The refusals of the TAVO SDK layer.
//
// Every misuse of the SDK is one of these exceptions, thrown before anything is recorded: a
// refused call leaves the program exactly as it was. The message is "<operation>: <problem>",
// where `operation` names the SDK call that refused (`assign`, `else_`, `operator +`, ...) and
// `problem` says what was wrong with it.
#pragma once

#include <stdexcept>
#include <string>

namespace vell::tavo {

class TavoError : public std::runtime_error {
 public:
  TavoError(std::string operation_, std::string problem_)
      : std::runtime_error(operation_ + ": " + problem_),
        operation(std::move(operation_)),
        problem(std::move(problem_)) {}

  const std::string operation;
  const std::string problem;
};

// A call made where it may not stand: no program scope open, `else_` not right after its `if_`,
// `case_` outside `switch_`, a statement directly inside `switch_` or `stream_processing`, a
// program scope entered twice.
class TavoScopeError : public TavoError {
 public:
  using TavoError::TavoError;
};

// A value or expression of the wrong type or kind: the operand rules of the expression
// operators, an assignment whose value does not fit its target, an index that is not an integer,
// a whole array where a scalar is needed.
class TavoTypeError : public TavoError {
 public:
  using TavoError::TavoError;
};

// A value of the right type that cannot be used: an index outside its array, a plain zero
// divisor, a non-finite fixed-point value, an empty name, an empty expression handle.
class TavoValueError : public TavoError {
 public:
  using TavoError::TavoError;
};

// A variable or stream used with a program it does not belong to.
class TavoProgramError : public TavoError {
 public:
  using TavoError::TavoError;
};

}  // namespace vell::tavo
