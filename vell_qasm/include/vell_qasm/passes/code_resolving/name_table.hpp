// NameTable: the names a walk has met, each given a dense number (0, 1, ... in the order first
// met), so that what the walk knows of a name is kept in plain vectors indexed by it.
//
// A long program declares a name every few statements: the names are copied into one character
// buffer and found through one array of slots probed in place, since a hash map's allocation per
// name (and its rehashing, which visits every entry) costs more than the lookups it serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vell_qasm::passes::code_resolving {

class NameTable {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // The number of `name`, kNone when it was never inserted.
  std::uint32_t find(std::string_view name) const {
    if (slots_.empty()) return kNone;
    const std::size_t hash = std::hash<std::string_view>()(name);
    for (std::size_t i = hash & mask();; i = (i + 1) & mask()) {
      const Slot& slot = slots_[i];
      if (slot.id == kNone) return kNone;
      if (slot.hash == hash && this->name(slot.id) == name) return slot.id;
    }
  }

  // Asks for the slot where a lookup of `name` starts (a hint: a table that grows before the
  // lookup probes elsewhere). A long program's table outgrows the caches, and its names hash
  // to slots anywhere in it.
  void prefetch(std::string_view name) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[std::hash<std::string_view>()(name) & mask()]);
  }

  // The number of `name`, and whether it is new (then it is size() - 1).
  std::pair<std::uint32_t, bool> insert(std::string_view name) {
    if ((spans_.size() + 1) * 4 > slots_.size() * 3) grow();  // at most three slots in four taken
    const std::size_t hash = std::hash<std::string_view>()(name);
    std::size_t i = hash & mask();
    for (; slots_[i].id != kNone; i = (i + 1) & mask()) {
      const Slot& slot = slots_[i];
      if (slot.hash == hash && this->name(slot.id) == name) return {slot.id, false};
    }
    const auto id = static_cast<std::uint32_t>(spans_.size());
    slots_[i] = Slot{hash, id};
    spans_.push_back(Span{names_.size(), name.size()});
    names_.append(name);
    return {id, true};
  }

  // Valid until the next insert().
  std::string_view name(std::uint32_t id) const {
    const Span& span = spans_[id];
    return std::string_view(names_).substr(span.offset, span.length);
  }
  std::size_t size() const { return spans_.size(); }

 private:
  struct Slot {
    std::size_t hash = 0;
    std::uint32_t id = kNone;
  };
  struct Span {
    std::size_t offset;  // in names_
    std::size_t length;
  };
  std::size_t mask() const { return slots_.size() - 1; }
  void grow() {
    std::vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.id == kNone) continue;
      std::size_t i = slot.hash & mask();
      while (slots_[i].id != kNone) i = (i + 1) & mask();
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;  // a power of two of them
  std::vector<Span> spans_;  // per number
  std::string names_;
};

}  // namespace vell_qasm::passes::code_resolving
