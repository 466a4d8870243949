// TAVO variable wrappers: the only way the compiler declares, assigns and saves TAVO variables.
//
// One wrapper stands for one classical variable of the OpenQASM program: its name, its element
// type, the SDK variable once declared, and the result stream when it is a streamed output.
// `TavoVar` wraps a scalar, `TavoArr` a fixed-size one-dimensional array. Wrappers are shared
// (TavoVarPtr) between the code that built them, the program's variable table and code generation.
//
// Every operation that emits calls the SDK and so needs an SDK program scope open on this thread;
// opening one is the caller's business (Tavo1Program does it, programs.hpp).
//
// Values. What is assigned is a `Value` (vell::tavo::Value: a plain bool / int64 / double or an
// SDK expression) or, for a whole array, a `ScalarList` of them; `ScalarOrList` holds either.
// Indices, starts, stops and steps are Scalars too: a plain integer (a bool counts as one) or an
// SDK integer expression.
//
// Declaring emits, in this order: the result stream (when asked), the variable, and the first
// read of its input stream (when asked). Declaring again makes a further SDK variable and keeps
// the old result stream unless a new one is asked for.
//
// Traps:
// - `tavo_value_exp()` and `stream_var()` throw until `declare` has made what they hand out; an
//   array's loop forms read them inside the loop, so the loop is already open when they fail.
// - Assigning or saving a whole array with one value emits a single TAVO loop whatever the size;
//   only a list given at compile time is unrolled, one assignment per element, and the walk
//   stops at the shorter of the list and the index range (no length comparison).
// - A list assigned to a scalar wrapper cannot be assigned: TavoAssignmentException, no cause.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "vell/tavo.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::tavo_var {

// Element type given to the SDK: bool, int or vell::tavo::fixed.
using DType = vell::tavo::DType;
// An SDK variable as a whole: a scalar variable or an array variable.
using AllExps = vell::tavo::Expr;
using vell::tavo::Value;
using ScalarList = std::vector<Value>;
using ScalarOrList = std::variant<Value, ScalarList>;

// Operating on a variable whose SDK variable or stream does not exist. Raised only as one of its
// two subclasses; on its own it has no message.
class OperatingOnUndeclaredVariableException : public std::exception, public HasLocation {
 public:
  explicit OperatingOnUndeclaredVariableException(std::string name_) : name(std::move(name_)) {}
  const char* what() const noexcept override { return message_.c_str(); }

  const std::string name;

 protected:
  OperatingOnUndeclaredVariableException(std::string name_, std::string message)
      : name(std::move(name_)), message_(std::move(message)) {}

 private:
  std::string message_;
};

class FetchingUndeclaredVariableException : public OperatingOnUndeclaredVariableException {
 public:
  explicit FetchingUndeclaredVariableException(std::string name_)
      : OperatingOnUndeclaredVariableException(name_, "Tried to operate on the variable '" + name_ + "'.") {}
};

class NoStreamVariableException : public OperatingOnUndeclaredVariableException {
 public:
  explicit NoStreamVariableException(std::string name_)
      : OperatingOnUndeclaredVariableException(name_, "No stream variable was declared for " + name_ + ".") {}
};

// The SDK refused an assignment; `cause()` holds the SDK's refusal. For an array cell,
// `target_name` is the array's name. The message writes a plain value as True, 42, 1.5, an
// expression as the SDK does, a list as [1, 2].
class TavoAssignmentException : public std::exception, public HasCause, public HasLocation {
 public:
  TavoAssignmentException(std::string target_name_, ScalarOrList value_);
  const char* what() const noexcept override { return message_.c_str(); }

  const std::string target_name;
  const ScalarOrList value;

 private:
  std::string message_;
};

// Raised by the program model and by expression lowering when a scalar variable is indexed.
class IndexingVariableException : public std::exception, public HasLocation {
 public:
  explicit IndexingVariableException(std::string name_)
      : name(std::move(name_)),
        message_("The variable \"" + name + "\" is not an array, and hence cannot be indexed") {}
  const char* what() const noexcept override { return message_.c_str(); }

  const std::string name;

 private:
  std::string message_;
};

class TavoArr;

class TavoVarBase {
 public:
  virtual ~TavoVarBase() = default;
  TavoVarBase(const TavoVarBase&) = delete;
  TavoVarBase& operator=(const TavoVarBase&) = delete;

  const std::string& name() const { return _name; }
  // The wrapper as an array, or null for a scalar: what a dynamic_cast to TavoArr tells, for the
  // price of a load (expressions ask it at every variable they read).
  const TavoArr* as_array() const { return _array; }
  // The SDK variable; FetchingUndeclaredVariableException before `declare`.
  const AllExps& tavo_value_exp() const;
  // The result stream; NoStreamVariableException unless a declaration asked for one.
  const vell::tavo::ResultStreamSource& stream_var() const;

  void declare(bool declare_input_stream, bool declare_output_stream);
  // Sends the current value to the result stream, then saves the stream under the variable's
  // name inside stream processing.
  void save();
  // Asks the memory system for the SDK variable's expression node, which save() reads: a hint
  // for a walk that saves many variables, which changes nothing. Always inlined: GCC takes a
  // function that does nothing but prefetch for one without effect and drops its calls.
  [[gnu::always_inline]] void prefetch_for_save() const {
    if (_tavo_value_exp && !_tavo_value_exp->empty()) __builtin_prefetch(_tavo_value_exp->node().get());
  }
  // Assigns the whole variable.
  virtual void assign(const ScalarOrList& value) = 0;

  const DType dtype;

 protected:
  TavoVarBase(std::string name, DType dtype);

  // One SDK assignment; a refusal becomes TavoAssignmentException naming this variable.
  void _exception_wrapped_assign(const AllExps& assignee, const Value& value);
  virtual ScalarOrList _get_init_value() const = 0;
  virtual void _save_variable_to_stream() = 0;
  void _save_all();
  const TavoArr* _array = nullptr;  // set by TavoArr

 private:
  const std::string _name;
  std::optional<AllExps> _tavo_value_exp;
  std::optional<vell::tavo::ResultStreamSource> _stream_var;
};

using TavoVarPtr = std::shared_ptr<TavoVarBase>;

class TavoVar final : public TavoVarBase {
 public:
  TavoVar(std::string name, DType dtype) : TavoVarBase(std::move(name), dtype) {}

  void assign(const ScalarOrList& value) override;

 protected:
  ScalarOrList _get_init_value() const override;
  void _save_variable_to_stream() override;
};

class TavoArr final : public TavoVarBase {
 public:
  // No bound applies to `size`; 0 or less makes an empty array.
  TavoArr(std::string name, DType dtype, std::int64_t size)
      : TavoVarBase(std::move(name), dtype), size(size) {
    _array = this;
  }

  void assign_single(const Value& idx, const Value& value);
  // The cell at `idx`, handed to the SDK as given (the SDK refuses a plain index outside the
  // array).
  AllExps get_single_index(const Value& idx) const;
  // The whole array: element by element from a list, with one loop from a single value.
  void assign(const ScalarOrList& value) override;
  // Elements from `start` up to, not including, `stop` (default: `size`), advancing by `step`.
  // From a list: unrolled at compile time; start, stop and step must then be plain integers
  // (else TypeError "Cannot dynamically assign values from pythonic list"), a negative step
  // counts down. From a single value: one TAVO loop; a plain negative step counts down (the
  // loop runs while the index is greater than `stop`), any other step counts up. A plain step
  // of 0 is a ValueError in both forms, raised before anything is emitted.
  void assign_range(const ScalarOrList& value, const Value& start = std::int64_t{0},
                    const std::optional<Value>& stop = std::nullopt, const Value& step = std::int64_t{1});

  const std::int64_t size;

 protected:
  ScalarOrList _get_init_value() const override;
  void _save_variable_to_stream() override;
};

}  // namespace vell_qasm::tavo_var
