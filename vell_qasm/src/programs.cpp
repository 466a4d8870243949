#include "vell_qasm/programs.hpp"

#include <array>
#include <cstring>

namespace vell_qasm::programs {

// ---- OpenQasmProgram ----

const std::shared_ptr<openqasm3::ast::Program>& open_qasm_tree(const ProgramPtr& program) {
  const auto* qasm = dynamic_cast<const OpenQasmProgram*>(program.get());
  check(qasm != nullptr);
  check(qasm->ast() != nullptr);
  return qasm->ast();
}

std::shared_ptr<openqasm3::ast::Program> transform_root(openqasm3::ast::QASMTransformer& transformer,
                                                        const std::shared_ptr<openqasm3::ast::Program>& root) {
  openqasm3::ast::Rewrite result = transformer.visit(root);
  auto rewritten = result.is_node() ? openqasm3::ast::dyn_cast<openqasm3::ast::Program>(result.node()) : nullptr;
  check(rewritten != nullptr);
  return rewritten;
}

// ---- VariablesDB ----

namespace {

// Variable names are a few bytes long and hashed at nearly every expression: up to 16 bytes are
// read as two (overlapping) words and mixed with multiplications, rather than hashed byte-wise by
// the library's string hash. The table indexes by the low bits, which the final mix spreads.
std::uint32_t hash_of(std::string_view name) {
  const std::size_t n = name.size();
  if (n > 16) return static_cast<std::uint32_t>(std::hash<std::string_view>()(name));
  std::uint64_t a = 0, b = 0;
  if (n >= 8) {
    std::memcpy(&a, name.data(), 8);
    std::memcpy(&b, name.data() + n - 8, 8);
  } else if (n >= 4) {
    std::uint32_t x, y;
    std::memcpy(&x, name.data(), 4);
    std::memcpy(&y, name.data() + n - 4, 4);
    a = x;
    b = y;
  } else if (n > 0) {
    a = static_cast<unsigned char>(name[0]) | std::uint64_t{static_cast<unsigned char>(name[n / 2])} << 8 |
        std::uint64_t{static_cast<unsigned char>(name[n - 1])} << 16;
  }
  std::uint64_t h = (a ^ 0x9e3779b97f4a7c15ULL) * 0xbf58476d1ce4e5b9ULL;
  h = (h ^ (h >> 31) ^ b ^ (std::uint64_t{n} << 56)) * 0x94d049bb133111ebULL;
  return static_cast<std::uint32_t>(h ^ (h >> 29) ^ (h >> 47));
}

}  // namespace

std::size_t VariablesDB::probe(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == kEmpty) return i;
    if (slot.hash != hash) continue;
    const std::string& key = (slot.entry & kKeyApart) ? entries_[slot.entry & ~kKeyApart].first.name : slot.var->name();
    if (key == name) return i;
  }
}

void VariablesDB::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.entry == kEmpty) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].entry != kEmpty) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

VariablesDB::HashedName VariablesDB::hashed(std::string_view name) { return {name, hash_of(name)}; }

const VariablesDB::Slot* VariablesDB::slot_of(const HashedName& name) const {
  if (slots_.empty()) return nullptr;
  const Slot& slot = slots_[probe(name.name, name.hash)];
  return slot.entry == kEmpty ? nullptr : &slot;
}

const tavo_var::TavoVarPtr* VariablesDB::find(std::string_view name) const {
  const Slot* slot = slot_of(hashed(name));
  return slot == nullptr ? nullptr : &entries_[slot->entry & ~kKeyApart].second;
}

const tavo_var::TavoVarPtr& VariablesDB::at(std::string_view name) const {
  const tavo_var::TavoVarPtr* found = find(name);
  if (found == nullptr) throw UndeclaredVariableReferenceException(VariableSignature::text_of(name));
  return *found;
}

tavo_var::TavoVarBase& VariablesDB::wrapper(const HashedName& name) const {
  const Slot* slot = slot_of(name);
  if (slot == nullptr) throw UndeclaredVariableReferenceException(VariableSignature::text_of(name.name));
  return *slot->var;
}

tavo_var::TavoVarBase& VariablesDB::wrapper(std::string_view name) const { return wrapper(hashed(name)); }

void VariablesDB::insert_or_assign(VariableSignature key, tavo_var::TavoVarPtr var) {
  check(var != nullptr, "VariablesDB holds variable wrappers, not null");
  check(entries_.size() < kKeyApart, "VariablesDB holds fewer than 2^31 variables");
  if ((entries_.size() + 1) * 2 > slots_.size()) grow();
  const std::uint32_t hash = hash_of(key.name);
  Slot& slot = slots_[probe(key.name, hash)];
  const std::uint32_t apart = var->name() == key.name ? 0 : kKeyApart;
  if (slot.entry != kEmpty) {
    const std::uint32_t entry = slot.entry & ~kKeyApart;
    slot = Slot{var.get(), hash, entry | apart};
    entries_[entry].second = std::move(var);
    return;
  }
  slot = Slot{var.get(), hash, static_cast<std::uint32_t>(entries_.size()) | apart};
  entries_.emplace_back(std::move(key), std::move(var));
}

tavo_var::TavoVarPtr VariablesDB::get(const VariableSignature& key) const {
  const tavo_var::TavoVarPtr* found = find(key.name);
  return found == nullptr ? nullptr : *found;
}

// ---- Tavo1Program ----

vell::tavo::Program Tavo1Program::dsl_program() const {
  if (!_program) throw AttributeError("Still within program scope, cannot return the full program");
  return _program->program();
}

const std::string& Tavo1Program::declare_variable(const tavo_var::TavoVarPtr& var, bool is_input, bool is_output,
                                                  bool is_stream) {
  check(var != nullptr, "declare_variable needs a variable wrapper, got null");
  return with_program_scope(*this, [&]() -> const std::string& {
    var->declare(is_input && is_stream, is_output && is_stream);
    _variables_db.insert_or_assign(VariableSignature{var->name()}, var);
    if (is_input) _inputs.push_back(var->name());
    if (is_output) _outputs.push_back(var->name());
    return var->name();
  });
}

void Tavo1Program::assign(const std::string& target, const tavo_var::ScalarOrList& value) {
  with_program_scope(*this, [&] { _variables_db.wrapper(target).assign(value); });
}

void Tavo1Program::assign_at_index(const std::string& target, const vell::tavo::Value& index,
                                   const vell::tavo::Value& value) {
  with_program_scope(*this, [&] {
    tavo_var::TavoVarBase& variable = _variables_db.wrapper(target);
    // as_array() tells what a dynamic_cast would, for the price of a load.
    if (variable.as_array() == nullptr) throw tavo_var::IndexingVariableException(target);
    static_cast<tavo_var::TavoArr&>(variable).assign_single(index, value);
  });
}

void Tavo1Program::save_all_outputs() {
  with_program_scope(*this, [&] {
    // Each save reads the variable's slot, its wrapper and the wrapper's SDK node, one after the
    // other: in a long program each is a miss of the caches. They are asked for in stages ahead,
    // each stage far enough behind the one before for its memory to have arrived. `ahead` holds
    // the outputs from the current one to the farthest asked for: hashed, and with the wrapper
    // the slot points to once it is known.
    constexpr std::size_t kNode = 4, kWrapper = 8, kSlot = 12, kRing = 16;
    static_assert(kSlot < kRing);
    struct Ahead {
      VariablesDB::HashedName name;
      const tavo_var::TavoVarBase* wrapper = nullptr;
    };
    std::array<Ahead, kRing> ahead;
    const std::size_t n = _outputs.size();
    for (std::size_t i = 0; i < kSlot && i < n; ++i) {
      ahead[i].name = VariablesDB::hashed(_outputs[i]);
      _variables_db.prefetch_slot(ahead[i].name);
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (i + kSlot < n) {
        Ahead& slot_stage = ahead[(i + kSlot) % kRing];
        slot_stage.name = VariablesDB::hashed(_outputs[i + kSlot]);
        _variables_db.prefetch_slot(slot_stage.name);
      }
      if (i + kWrapper < n) {
        Ahead& wrapper_stage = ahead[(i + kWrapper) % kRing];
        wrapper_stage.wrapper = _variables_db.wrapper_hint(wrapper_stage.name);
        __builtin_prefetch(wrapper_stage.wrapper);
      }
      if (i + kNode < n) {
        if (const auto* wrapper = ahead[(i + kNode) % kRing].wrapper) wrapper->prefetch_for_save();
      }
      _variables_db.wrapper(ahead[i % kRing].name).save();
    }
  });
}

const tavo_var::AllExps& Tavo1Program::operator[](const std::string& item) const {
  return _variables_db.wrapper(item).tavo_value_exp();
}

const tavo_var::TavoVarPtr& Tavo1Program::_get_var(const std::string& item) const {
  return _variables_db.at(item);
}

}  // namespace vell_qasm::programs
