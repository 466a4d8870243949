// Program forms: what every step takes and returns.
//
// Programs are handled as std::shared_ptr<Program>; a step tests the form it was handed with
// std::dynamic_pointer_cast. An OpenQasmProgram shares its syntax tree with whoever built it: it
// neither copies nor owns it exclusively, so two programs around one root see each other's
// in-place rewrites.
//
// Tavo1Program is the TAVO program under construction. Its emitting operations (declare_variable,
// assign, assign_at_index, save_all_outputs) run under the scope guard `with_program_scope`:
// while any SDK program scope is open on this thread they run directly, so their code lands in
// that scope (the caller's, when the caller holds one); otherwise they enter the program's own
// scope `_program` around that one call and leave it afterwards, also when the call fails. A
// program built without a scope therefore needs a scope open around every emitting call, and
// `dsl_program()` refuses to hand one out. The reading operations never touch a scope.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell/tavo/program.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_qasm/tavo_var.hpp"

namespace vell_qasm::programs {

class Program {
 public:
  virtual ~Program() = default;

 protected:
  Program() = default;
};

using ProgramPtr = std::shared_ptr<Program>;

// OpenQASM 3 source text exactly as the caller handed it in.
class TextualProgram : public Program {
 public:
  explicit TextualProgram(std::string source_code) : _source_code(std::move(source_code)) {}
  const std::string& source_code() const { return _source_code; }

 private:
  const std::string _source_code;
};

// An OpenQASM 3 syntax tree (its root node).
class OpenQasmProgram : public Program {
 public:
  explicit OpenQasmProgram(std::shared_ptr<openqasm3::ast::Program> ast) : _ast(std::move(ast)) {}
  const std::shared_ptr<openqasm3::ast::Program>& ast() const { return _ast; }

 private:
  const std::shared_ptr<openqasm3::ast::Program> _ast;
};

// The tree of the OpenQasmProgram a tree step was handed. An AssertionError when `program` is of
// another form, then when it carries no tree. The reference lives as long as `program` does.
const std::shared_ptr<openqasm3::ast::Program>& open_qasm_tree(const ProgramPtr& program);

// Runs `transformer` on `root` and returns the rewritten root; an AssertionError unless the
// rewrite is a single Program node.
std::shared_ptr<openqasm3::ast::Program> transform_root(openqasm3::ast::QASMTransformer& transformer,
                                                        const std::shared_ptr<openqasm3::ast::Program>& root);

// The key of VariablesDB: a variable's name as declared.
struct VariableSignature {
  std::string name;

  // VariableSignature(name='x')
  std::string text() const { return text_of(name); }
  static std::string text_of(std::string_view name) {
    std::string out = "VariableSignature(name='";
    out += name;
    out += "')";
    return out;
  }
  friend bool operator==(const VariableSignature&, const VariableSignature&) = default;
};

class UndeclaredVariableReferenceException : public std::exception, public HasLocation {
 public:
  explicit UndeclaredVariableReferenceException(std::string name_)
      : name(std::move(name_)), message_("The variable " + name + " does not exit.") {}
  const char* what() const noexcept override { return message_.c_str(); }

  // What was looked up: the text of the missing key when VariablesDB raises it.
  const std::string name;

 private:
  std::string message_;
};

}  // namespace vell_qasm::programs

template <>
struct std::hash<vell_qasm::programs::VariableSignature> {
  std::size_t operator()(const vell_qasm::programs::VariableSignature& s) const noexcept {
    return std::hash<std::string>()(s.name);
  }
};

namespace vell_qasm::programs {

// The declared variables by signature. Iterates in order of first insertion; replacing an entry
// keeps its place. Nothing removes an entry.
//
// A program of 10^6 statements declares some 10^5 variables and reads one at nearly every
// expression: the index is an open-addressed table of (wrapper, hash, entry) slots, so a lookup by
// name copies no string, allocates nothing, compares a name only where the full hashes agree, and
// reads the wrapper from the slot itself (the table of entries, far apart in memory, is not
// touched). Entries never move once made: a growing table copies no names.
class VariablesDB {
 public:
  using Entry = std::pair<VariableSignature, tavo_var::TavoVarPtr>;

  // UndeclaredVariableReferenceException (with the key's text) when `key` is absent.
  const tavo_var::TavoVarPtr& operator[](const VariableSignature& key) const { return at(key.name); }
  const tavo_var::TavoVarPtr& at(std::string_view name) const;
  // The wrapper stored under `name`, as at() finds it, without reading the entry it sits in.
  tavo_var::TavoVarBase& wrapper(std::string_view name) const;
  // Inserts, or replaces the wrapper of an existing key. A null wrapper is an AssertionError.
  // Both are taken over: a new entry is made of them, with no copy.
  void insert_or_assign(VariableSignature key, tavo_var::TavoVarPtr var);
  bool contains(const VariableSignature& key) const { return find(key.name) != nullptr; }
  // The wrapper, or null when `key` is absent.
  tavo_var::TavoVarPtr get(const VariableSignature& key) const;
  // The wrapper stored under `name`, or null when there is none.
  const tavo_var::TavoVarPtr* find(std::string_view name) const;

  // For a walk that looks up many names in turn, each in several steps taken ahead of time so
  // that the lookups find their memory in the cache (a table of 10^5 variables and more is not):
  // a name with its hash, worked out once for all the steps.
  struct HashedName {
    std::string_view name;
    std::uint32_t hash = 0;
  };
  static HashedName hashed(std::string_view name);
  // wrapper(name), for a hashed name.
  tavo_var::TavoVarBase& wrapper(const HashedName& name) const;
  // Hints, which change nothing: prefetch_slot asks for the slot where `name` is filed; once that
  // is in the cache, wrapper_hint gives the wrapper probably filed there (its hash matches; keys
  // are not compared, which would read the wrapper), or null. prefetch_slot is always inlined:
  // GCC takes a function that does nothing but prefetch for one without effect and drops its calls.
  [[gnu::always_inline]] void prefetch_slot(const HashedName& name) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[name.hash & (slots_.size() - 1)]);
  }
  const tavo_var::TavoVarBase* wrapper_hint(const HashedName& name) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = name.hash & mask; !slots_.empty(); i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.entry == kEmpty) break;
      if (slot.hash == name.hash) return slot.var;
    }
    return nullptr;
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  std::deque<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::deque<Entry>::const_iterator end() const { return entries_.end(); }

 private:
  struct Slot {
    tavo_var::TavoVarBase* var = nullptr;  // the entry's wrapper
    std::uint32_t hash = 0;                // the name's hash, its low bits
    std::uint32_t entry = kEmpty;          // index into entries_, with kKeyApart
  };
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
  // Set in Slot::entry when the key is not the wrapper's own name (a caller may file a wrapper
  // under any name): the name is then compared with the key in entries_.
  static constexpr std::uint32_t kKeyApart = std::uint32_t{1} << 31;
  // The index of the slot holding `name`, or of the empty slot where it would go. `slots_` is
  // never full.
  std::size_t probe(std::string_view name, std::uint32_t hash) const;
  // The slot of `name`, or null.
  const Slot* slot_of(const HashedName& name) const;
  void grow();

  std::deque<Entry> entries_;
  std::vector<Slot> slots_;  // a power of two long, at most half full
};

class Tavo1Program;

// Runs `method` under the program's scope rule (see the top of this file) and returns its result.
// A program without a scope of its own, called while no scope is open, is an AssertionError
// before `method` runs.
template <class F>
decltype(auto) with_program_scope(const Tavo1Program& program, F&& method);

class Tavo1Program : public Program {
 public:
  // `tavo_program`: the SDK program scope that receives the code, or none when the caller holds
  // the open scope.
  explicit Tavo1Program(std::optional<vell::tavo::ProgramScope> tavo_program = std::nullopt)
      : _program(std::move(tavo_program)) {}

  VariablesDB& variables_db() { return _variables_db; }
  const VariablesDB& variables_db() const { return _variables_db; }
  // The SDK program as it stands now; AttributeError when the program has no scope of its own.
  vell::tavo::Program dsl_program() const;
  // The lists themselves: a change made through them changes what is saved.
  std::vector<std::string>& outputs() { return _outputs; }
  const std::vector<std::string>& outputs() const { return _outputs; }
  std::vector<std::string>& inputs() { return _inputs; }
  const std::vector<std::string>& inputs() const { return _inputs; }

  // Declares `var` (an input stream only for a streamed input, a result stream only for a
  // streamed output), records it under its name, replacing an earlier entry of that name, and
  // appends the name to `inputs` and/or `outputs` (no duplicate check). Returns the name. When
  // the declaration fails nothing is recorded.
  const std::string& declare_variable(const tavo_var::TavoVarPtr& var, bool is_input, bool is_output, bool is_stream);
  // The whole variable; a list only fits an array.
  void assign(const std::string& target, const tavo_var::ScalarOrList& value);
  // One element of an array; tavo_var::IndexingVariableException for a scalar.
  void assign_at_index(const std::string& target, const vell::tavo::Value& index, const vell::tavo::Value& value);
  // Saves every output in list order; the first failure stops the walk, earlier outputs stay saved.
  void save_all_outputs();

  // The SDK variable of a declared variable. Emits nothing.
  const tavo_var::AllExps& operator[](const std::string& item) const;
  const tavo_var::TavoVarPtr& _get_var(const std::string& item) const;

  // Read by name from outside: the output-saving step enters this scope itself.
  const std::optional<vell::tavo::ProgramScope> _program;

 private:
  VariablesDB _variables_db;
  std::vector<std::string> _outputs;
  std::vector<std::string> _inputs;
};

template <class F>
decltype(auto) with_program_scope(const Tavo1Program& program, F&& method) {
  if (passes::utils::is_inside_scope()) return std::invoke(std::forward<F>(method));
  check(program._program.has_value());
  auto entered = program._program->enter();
  return std::invoke(std::forward<F>(method));
}

}  // namespace vell_qasm::programs
