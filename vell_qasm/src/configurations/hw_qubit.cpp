#include "vell_qasm/configurations/hw_qubit.hpp"

#include <atomic>
#include <charconv>
#include <cstddef>
#include <new>

namespace vell_qasm::configurations {

namespace {

// Hardware-qubit nodes are made one per qubit reference (tens of thousands in a long program)
// and mostly live as long as the tree. Taking each from the general allocator cost more than
// making the node, so they are carved from slabs of kSlots nodes: a thread carves from its own
// slab, and a slab is handed back when it is used up (or its thread ends) and its last node is
// freed. A node may be freed on any thread: only the slab's count is shared. Outside a compilation's
// node arena every node comes from a slab; inside one, those made in order.
struct Slab {
  // The count starts biased so that nodes freed while the slab is still being carved cannot bring
  // it to zero; retiring the slab removes the bias less the nodes made from it.
  static constexpr std::size_t kBias = std::size_t{1} << 62;
  std::atomic<std::size_t> live{kBias};
};

constexpr std::size_t kSlots = 128;
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t round_up(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }
// Each slot starts with its slab's address, so that freeing finds the slab.
constexpr std::size_t kSlotHeader = round_up(sizeof(Slab*));

void release(Slab* slab, std::size_t count) {
  if (slab->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
    slab->~Slab();
    ::operator delete(static_cast<void*>(slab));
  }
}

// The slab a thread carves slots of `Bytes` from.
template <std::size_t Bytes> class SlabCursor {
 public:
  static constexpr std::size_t kSlot = kSlotHeader + round_up(Bytes);

  SlabCursor() = default;
  SlabCursor(const SlabCursor&) = delete;
  SlabCursor& operator=(const SlabCursor&) = delete;
  ~SlabCursor() { retire(); }

  void* take() {
    if (next_ == end_) refill();
    char* slot = next_;
    next_ += kSlot;
    ++made_;
    *reinterpret_cast<Slab**>(slot) = slab_;
    return slot + kSlotHeader;
  }

 private:
  void refill() {
    retire();
    constexpr std::size_t head = round_up(sizeof(Slab));
    char* memory = static_cast<char*>(::operator new(head + kSlots * kSlot));
    slab_ = new (memory) Slab();
    next_ = memory + head;
    end_ = next_ + kSlots * kSlot;
  }
  void retire() {
    if (slab_ == nullptr) return;
    release(slab_, Slab::kBias - made_);
    slab_ = nullptr;
    next_ = end_ = nullptr;
    made_ = 0;
  }

  Slab* slab_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t made_ = 0;
};

template <class T> struct SlabAllocator {
  using value_type = T;
  static_assert(alignof(T) <= kAlign);

  SlabAllocator() = default;
  template <class U> SlabAllocator(const SlabAllocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n != 1) throw std::bad_array_new_length();  // allocate_shared asks for one block
    thread_local SlabCursor<sizeof(T)> cursor;
    return static_cast<T*>(cursor.take());
  }
  void deallocate(T* p, std::size_t) noexcept {
    release(*reinterpret_cast<Slab**>(reinterpret_cast<char*>(p) - kSlotHeader), 1);
  }
  template <class U> bool operator==(const SlabAllocator<U>&) const { return true; }
};

// The name of hardware qubit `index`: "$" and the index, in `buffer`.
std::string_view hw_qubit_name(HwQubitIndex index, char (&buffer)[24]) {
  buffer[0] = '$';  // and at most 20 characters of an int64
  char* end = std::to_chars(buffer + 1, buffer + sizeof buffer, index).ptr;
  return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace

openqasm3::ast::Ptr<HwQubit> create_hw_qubit(HwQubitIndex index) {
  char buffer[24];
  const std::string_view name = hw_qubit_name(index, buffer);
  // Within a compilation, from its node arena like any other node: there the node mostly takes
  // the slot of the qubit reference it replaces, just freed.
  namespace detail = openqasm3::ast::detail;
  if (detail::NodeArena::current())
    return std::allocate_shared<HwQubit>(detail::ArenaAllocator<HwQubit>(), HwQubit::Key{}, name, index);
  return std::allocate_shared<HwQubit>(SlabAllocator<HwQubit>(), HwQubit::Key{}, name, index);
}

openqasm3::ast::Ptr<HwQubit> create_hw_qubit_in_order(HwQubitIndex index) {
  char buffer[24];
  return std::allocate_shared<HwQubit>(SlabAllocator<HwQubit>(), HwQubit::Key{}, hw_qubit_name(index, buffer), index);
}

std::string ExactQubitPattern::repr() const { return "ExactQubitPattern(" + std::to_string(_value) + ")"; }

}  // namespace vell_qasm::configurations
