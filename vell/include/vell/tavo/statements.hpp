// Statement calls: each records one statement at the end of the innermost open block of the
// current program (program.hpp), or opens a block there and returns its guard.
//
// Every call checks everything first and refuses a misuse with a TavoError (errors.hpp) before
// recording anything:
// - no program scope entered on this thread (TavoScopeError);
// - a call directly inside `switch_` other than `case_`/`default_`, or directly inside
//   `stream_processing` other than `save_all` (TavoScopeError);
// - an empty expression handle (TavoValueError); a variable or stream of another program
//   (TavoProgramError);
// - a value that does not fit where it goes, by the assignment fit of value.hpp (TavoTypeError).
//
// Variables and streams belong to the program that declared them; they stay usable in every
// later entry of its scope and in every block of it.
#pragma once

#include <cstdint>
#include <memory>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vell/tavo/program.hpp"
#include "vell/tavo/value.hpp"

namespace vell::tavo {

namespace detail {
struct StreamInfo;
}  // namespace detail

// An element or pulse name held once for the process. The statement calls that take names take
// a Name or a std::string alike and record the same; a Name spares them looking its text up in
// the program's names for every call, which is what a caller that emits many pulses on a few
// elements wants: make each Name once and keep it. A copy is a pointer; Names made from equal
// texts are equal. Safe to make and use on any thread.
class Name {
 public:
  Name();  // the empty name, refused wherever a name is needed
  explicit Name(std::string_view text);
  const std::string& text() const { return *text_; }
  bool empty() const { return text_->empty(); }
  friend bool operator==(const Name& a, const Name& b) { return a.id_ == b.id_; }

 private:
  Name(const std::string* text, std::uint32_t id) : text_(text), id_(id) {}
  const std::string* text_;  // held by the process-wide table, never freed
  std::uint32_t id_;         // dense, from 0: equal texts, equal ids
  friend struct detail::Access;
};

namespace detail {
// A contiguous range of Names, as the Name overloads of align and wait take.
template <class R>
concept NameRange = std::ranges::contiguous_range<R> && std::same_as<std::ranges::range_value_t<R>, Name>;
void align_names(std::span<const Name> elements);
void wait_names(const Value& cycles, std::span<const Name> elements);
}  // namespace detail

// A result stream: values saved to it during the run reach the results under the tag that
// `save_all` gives it.
class ResultStreamSource {
 public:
  ResultStreamSource() = default;  // an empty handle; every use is refused
  bool empty() const { return info_ == nullptr; }
  // The stream's name in the listing: s0, s1, ...
  std::string text() const;
  // Inside `stream_processing` only: the results hold every value sent to this stream, under
  // `tag` (a non-empty text).
  void save_all(const std::string& tag) const;

 private:
  explicit ResultStreamSource(std::shared_ptr<const detail::StreamInfo> info) : info_(std::move(info)) {}
  std::shared_ptr<const detail::StreamInfo> info_;
  friend struct detail::Access;
};

// Declarations. The initial values are plain and fit the type; a list declares an array of
// that many elements (possibly none). The result is the new variable.
Expr declare(DType type, const Value& value);
Expr declare(DType type, const std::vector<Value>& values);
// An int variable with no initial value, such as a loop index. Only int may be declared bare.
Expr declare(DType type);

// As `declare`, fed by the input stream named `name` (a non-empty text).
Expr declare_input_stream(DType type, const std::string& name, const Value& value);
Expr declare_input_stream(DType type, const std::string& name, const std::vector<Value>& values);
// Reads the next value of its input stream into a variable made by `declare_input_stream`.
void advance_input_stream(const Expr& variable);

ResultStreamSource declare_stream();

// `target` is a scalar variable or an array cell; `value` a plain value or scalar expression
// that fits the target's type.
void assign(const Expr& target, const Value& value);
// Sends the current value of a scalar variable or array cell to the stream.
void save(const Expr& source, const ResultStreamSource& stream);
// A section that holds `save_all` calls only.
ScopeGuard stream_processing();

// Aligns two or more controller elements (non-empty names), in the order given.
void align(const std::vector<std::string>& elements);
// The same with Names: an array, std::array or std::vector of them (not a braced list, which
// stays the texts' overload).
template <class Names>
  requires detail::NameRange<Names>
void align(const Names& elements) {
  detail::align_names(std::span<const Name>(elements));
}

// Pulse-level statements: what the controller plays on its elements. An element (such as
// "q0.xy") and a pulse (such as "x180") are non-empty names; the SDK records them and does not
// look them up, so a name the controller lacks surfaces only when the program is loaded there.
// Numbers are plain values or scalar expressions that fit the stated type; plain ones are held
// in that type (a plain 1 given as an angle is listed as 1.0).
//
// Plays `pulse` on `element`; with an amplitude (a number that fits fixed) the pulse's amplitude
// is scaled by it, a negative factor inverting the pulse.
void play(const std::string& pulse, const std::string& element);
void play(const std::string& pulse, const std::string& element, const Value& amplitude);
void play(const Name& pulse, const Name& element);
void play(const Name& pulse, const Name& element, const Value& amplitude);
// Holds each of `elements` (one or more) idle for `cycles` clock cycles: an int value. A plain
// count below zero is refused (TavoValueError); an expression's sign is the controller's concern.
void wait(const Value& cycles, const std::vector<std::string>& elements);
template <class Names>
  requires detail::NameRange<Names>
void wait(const Value& cycles, const Names& elements) {
  detail::wait_names(cycles, std::span<const Name>(elements));
}
// Rotates the frame of `element` by `angle` radians (a number that fits fixed): every later pulse
// on the element is played with its phase shifted by that much.
void frame_rotation(const Value& angle, const std::string& element);
void frame_rotation(const Value& angle, const Name& element);
// Plays the readout `pulse` on `element` and stores the demodulated result in `target`, a fixed
// scalar variable or a cell of a fixed array.
void measure(const std::string& pulse, const std::string& element, const Expr& target);
void measure(const Name& pulse, const Name& element, const Expr& target);

// Blocks. Conditions are bool values. `else_` opens the else block of the `if_` block that was
// closed right before it, in the same block, with nothing recorded in between; an `if_` has at
// most one `else_`.
ScopeGuard if_(const Value& condition);
ScopeGuard else_();
ScopeGuard while_(const Value& condition);
// Starts the scalar variable at `init`, runs while `condition` holds, and sets the variable to
// `update` after each pass; `init` and `update` fit the variable's type.
ScopeGuard for_(const Expr& variable, const Value& init, const Value& condition, const Value& update);
// Runs the block once per value, in order, with the scalar variable set to it: plain values
// that fit the variable (an empty list runs it never), or the cells of an array variable whose
// element type fits.
ScopeGuard for_each_(const Expr& variable, const std::vector<Value>& values);
ScopeGuard for_each_(const Expr& variable, const Expr& array);
// A switch on an int or bool value, holding only `case_` and `default_` blocks. `unsafe` tells
// the controller that it need not guard against a value no case matches.
ScopeGuard switch_(const Value& expression, bool unsafe);
// Directly inside `switch_`, before its `default_`: a block for one plain value that fits the
// switch value's type.
ScopeGuard case_(const Value& value);
// Directly inside `switch_`, at most once, after its cases.
ScopeGuard default_();

}  // namespace vell::tavo
