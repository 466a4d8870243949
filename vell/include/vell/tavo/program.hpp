// Programs, program scopes and the scope guards of every SDK context.
//
// `program()` makes a new, empty program and returns its scope. Entering the scope makes it the
// current program of this thread: every statement call (statements.hpp) made while it is entered
// appends to that program, at the end of the innermost open block. The scope may be entered and
// left any number of times; each entry appends to the same program, after what earlier entries
// recorded. Which scope is entered is per-thread state (`is_inside_scope()`).
//
// Every context of the SDK (a program scope entered, an `if_` block, a `switch_`, a
// `stream_processing` section, ...) is open exactly as long as the ScopeGuard that opened it:
// the guard closes it in its destructor, also while an exception unwinds, and what was recorded
// before the exception stays recorded. Closing a context also closes every context still open
// inside it. A guard closes only on the thread that opened it; on another thread it does nothing.
//
// Only one program scope is open on a thread at a time, and a scope is entered on one thread at a
// time: entering a scope while any program scope is open on this thread, or while this scope is
// entered elsewhere, is refused with TavoScopeError.
//
// Listing grammar (Program::listing): one statement per line, each line ending in "\n", indented
// by two spaces per enclosing block; a block's lines follow the line that opens it, one level
// deeper, and an empty block is the single line `pass`.
//
//   statement := "declare " var ": " type [" = " init]
//              | "declare_input_stream " var ": " type " = " init " from " string
//              | "advance_input_stream " var
//              | "declare_stream " stream
//              | "assign " target " = " value
//              | "save " target " -> " stream
//              | "stream_processing:" block            (holds save_all lines only)
//              | "save_all " stream " " string
//              | "align " string (", " string)+
//              | "play " string [" * " value] " on " string     (pulse, amplitude, element)
//              | "wait " value " on " string (", " string)*      (cycles, elements)
//              | "frame_rotation " value " on " string          (angle in radians, element)
//              | "measure " string " on " string " -> " target  (readout pulse, element, result)
//              | "if " value ":" block ["else:" block]  (else at the if's own indentation)
//              | "while " value ":" block
//              | "for " var " = " value "; " value "; " var " = " value ":" block
//              | "for_each " var " in " (list | var) ":" block
//              | "switch " value [" unsafe"] ":" block  (holds case and default blocks only)
//              | "case " plain ":" block
//              | "default:" block
//   var      := "v" N        variables of a program are numbered from 0 in declaration order
//   stream   := "s" N        result streams likewise, in their own series
//   type     := ("bool" | "int" | "fixed") ["[" size "]"]    (an array of that many elements)
//   init     := plain | list                                 (a bare int declaration has none)
//   list     := "[" [plain (", " plain)*] "]"
//   target   := var | var "[" value "]"
//   value    := plain | expression
//   plain    := "true" | "false" | integer | real   (a real always has a "." or an exponent:
//                                                    2.0, 0.5, 1e-05, the shortest exact text)
//   expression := var | var "[" value "]" | "(" value " " op " " value ")"
//              | "-" expression | "~" expression | "Math." fn "(" value ")"
//              | "Cast." ("to_int" | "to_fixed" | "to_bool") "(" value ")"
//   string   := a double-quoted text; \" \\ \n \t and \xHH escapes stand for themselves
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

namespace vell::tavo {

namespace detail {
struct ProgramState;
struct Access;
}  // namespace detail

// Keeps one SDK context open; closing it (destructor or close()) leaves the context. A guard
// can be moved into another (the moved-from one then holds nothing) but not assigned over: a
// guard that opens conditionally goes into a std::optional.
class [[nodiscard]] ScopeGuard {
 public:
  ScopeGuard(ScopeGuard&& other) noexcept;
  ScopeGuard& operator=(ScopeGuard&& other) = delete;
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ~ScopeGuard();

  // Leaves the context now, with every context still open inside it; later calls do nothing.
  void close() noexcept;
  // Whether the context is still open on this thread.
  bool is_open() const noexcept;

 private:
  explicit ScopeGuard(std::uint64_t token) : token_(token) {}
  std::uint64_t token_ = 0;
  friend struct detail::Access;
};

// A recorded program. A handle: copies see the same program, also as it grows.
class Program {
 public:
  // The program as text, in the grammar above. Deterministic: the same calls give the same text.
  std::string listing() const;
  // The same text written to `out` as it is rendered, a few pages at a time.
  void write_listing(std::ostream& out) const;
  bool empty() const;

 private:
  explicit Program(std::shared_ptr<detail::ProgramState> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::ProgramState> state_;
  friend struct detail::Access;
};

// The scope of one program. A handle: copies are the same scope.
class ProgramScope {
 public:
  // Makes this the current program of this thread until the guard closes.
  ScopeGuard enter() const;
  // The program that this scope records into.
  Program program() const;
  // Whether the scope is entered now (on any thread).
  bool is_entered() const;
  // How many times the scope has been entered so far.
  std::size_t entry_count() const;

 private:
  explicit ProgramScope(std::shared_ptr<detail::ProgramState> state) : state_(std::move(state)) {}
  std::shared_ptr<detail::ProgramState> state_;
  friend struct detail::Access;
};

// A new empty program, returned as its scope (not entered).
ProgramScope program();

// Whether a program scope is entered on this thread.
bool is_inside_scope();

}  // namespace vell::tavo
