// NodeImpl: the generic machinery of every node class, derived from the class's own_fields.
#pragma once

#include <cmath>

#include "openqasm3/prefetch.hpp"
#include "openqasm3/stack_guard.hpp"

namespace openqasm3::ast {

// One field of a node: its name (as in the reference) and a reference to its value.
template <class T> struct Field {
  const char* name;
  T& value;
};
template <class T> Field<T> field(const char* name, T& value) { return {name, value}; }

// A field that holds a value which is not a node (a class defined outside this library may carry
// one). Walks do not enter it and a copy shares it; equality compares it with ==, and the repr
// text writes `payload_text(value)`, found by argument-dependent lookup.
template <class T> struct PayloadField {
  const char* name;
  T& value;
};
template <class T> PayloadField<T> payload(const char* name, T& value) { return {name, value}; }

namespace detail {

[[noreturn]] void throw_field_type(std::string_view owner, const char* field, const QASMNode& got,
                                   std::string_view expected);
[[noreturn]] void throw_field_list(std::string_view owner, const char* field);

void repr_string(std::string& out, std::string_view s);
void repr_double(std::string& out, double v);
void repr_span(std::string& out, const std::optional<Span>& span);

// Whether `node` is a statement or a program, which a field of type NodePtr holds only in a
// program's statement list (see KindReach).
bool stands_in_statement_lists(const QASMNode& node);
void throw_statement_field(std::string_view owner, const char* field, const QASMNode& got);

// Takes over the handle `n` (a rewrite's result, not needed after): no count change.
template <class T> Ptr<T> cast_for_field(std::string_view owner, const char* name, NodePtr&& n) {
  if constexpr (std::is_same_v<T, QASMNode>) {
    if (stands_in_statement_lists(*n) && owner != "Program") throw_statement_field(owner, name, *n);
    return std::move(n);
  } else {
    if (!isa<T>(*n)) throw_field_type(owner, name, *n, node_class_of<T>().name);  // casting.hpp
    return std::static_pointer_cast<T>(std::move(n));
  }
}

// ---- prefetching: a walk asks for a node's children before it enters the first of them, so
// that the memory of all of them is on its way at once rather than one after the other.
template <class T> void prefetch(const T&) {}
template <class T> void prefetch(const Ptr<T>& p) { __builtin_prefetch(p.get()); }
template <class T> void prefetch(const std::vector<Ptr<T>>& list) {
  if (!list.empty()) __builtin_prefetch(list.front().get());
}
// A long list (a program's or a block's statements) outgrows the caches: while one element is
// walked, the next is asked for, and the subtree of one kSubtreeAhead places on (prefetch.hpp).
// A walker of a few statement classes (declarations, say) skips most statements: fetching their
// subtrees would cost it the bandwidth of the whole tree for the statement nodes it reads. So
// the node 2 * kSubtreeAhead places on is asked for first, and kSubtreeAhead places before the
// walk reaches it, its kind (in the cache by then) tells whether the walker enters it at all.
// Reading kinds costs a walker that enters every statement a little per element (the node must
// have arrived): after a run of elements none of which was skipped, only every 16th kind is read
// until one is.
class Lookahead {
 public:
  template <class E, class Walker> [[gnu::always_inline]] void ahead_of(const std::vector<E>& list, std::size_t i, Walker& walker) {
    if (i + 1 < list.size()) prefetch(list[i + 1]);
    if constexpr (requires { list[i].get(); }) {
      if (i + kSubtreeAhead >= list.size()) return;
      if ((entered_ < kEnteredRun || (i + kSubtreeAhead) % kEnteredRun == 0) && i + 2 * kSubtreeAhead < list.size())
        __builtin_prefetch(list[i + 2 * kSubtreeAhead].get());
      const QASMNode* ahead = list[i + kSubtreeAhead].get();
      if (ahead == nullptr) return;
      const bool reading = entered_ < kEnteredRun || i % kEnteredRun == 0;
      if (reading && walker.walk_of(ahead->kind()) == NodeWalk::skip) {
        entered_ = 0;
        return;
      }
      if (entered_ < kEnteredRun) ++entered_;
      prefetch_subtree(ahead);
      // The node's lists (a branch's blocks, a gate's operands) come from the general allocator,
      // outside the subtree's window; their arrays are asked for where the node is known to be
      // in the cache already.
      if (reading) ahead->prefetch_lists();
    } else {
      (void)walker;
    }
  }

 private:
  static constexpr unsigned kEnteredRun = 16;
  unsigned entered_ = 0;  // the elements entered since the last one skipped, up to kEnteredRun
};

// ---- generic read-only walk
template <class T> void walk(QASMVisitor&, T&) {}
template <class T> void walk(QASMVisitor& v, Ptr<T>& p) {
  if (p) p->accept(v, handle_ref(p));
}
template <class T> void walk_list(QASMVisitor& v, std::vector<Ptr<T>>& list) {
  // By index, re-reading the size: a handler may change the list it is walked from.
  Lookahead ahead;
  for (std::size_t i = 0; i < list.size(); ++i) {
    ahead.ahead_of(list, i, v);
    if (QASMNode* p = list[i].get()) p->accept(v, handle_ref(list[i]));
  }
}
// Inline: most annotation, modifier and argument lists are empty, and cost no call then.
template <class T> [[gnu::always_inline]] inline void walk(QASMVisitor& v, std::vector<Ptr<T>>& list) {
  if (!list.empty()) walk_list(v, list);
}
inline void walk(QASMVisitor& v, IndexElement& e) {
  std::visit([&](auto& x) { walk(v, x); }, e);
}
void walk(QASMVisitor& v, std::vector<IndexElement>& list);  // inner lists: on request
inline void walk(QASMVisitor& v, ArrayDimensions& d) {
  std::visit([&](auto& x) { walk(v, x); }, d);
}
void walk(QASMVisitor& v, std::vector<SwitchCase>& cases);  // entered only on request
// The generic walk of a binary expression whose left operand is one too, for a walker that walks
// both generically: a flat chain a + b + c + ... leans left as deep as it is long, so its links
// are walked in a loop, in the order of the recursive walk (innermost left operand, then the right
// operands from the innermost link out); only the right operands recurse.
void visit_binary_chain(QASMVisitor& v, BinaryExpression& top);
void transform_binary_chain(QASMTransformer& t, BinaryExpression& top);

// ---- generic rewriting walk
template <class T> void rewrite(QASMTransformer&, std::string_view, const char*, T&) {}
template <class T>
[[gnu::noinline]] void rewrite_by_handler(QASMTransformer& t, std::string_view owner, const char* name, Ptr<T>& p) {
  Rewrite r = p->transform_here(t, handle_ref(p));
  if (r.is_keep()) return;
  if (r.is_none()) {
    p = nullptr;
  } else if (r.is_node()) {
    if (r.node().get() != p.get()) p = cast_for_field<T>(owner, name, r.release_node());
  } else {
    throw_field_list(owner, name);
  }
}
// Inline: most nodes of most walks take the generic path, which needs no Rewrite.
template <class T>
[[gnu::always_inline]] inline void rewrite(QASMTransformer& t, std::string_view owner, const char* name, Ptr<T>& p) {
  if (p && !p->transform_generically(t)) rewrite_by_handler(t, owner, name, p);
}
// What takes the place of one list element in a rewrite, in order: the first element is held
// inline, as a node replaced by one node (a folded operand) needs no allocation; only a splice of
// more elements allocates.
template <class E> class Replacements {
 public:
  template <class... A> void emplace_back(A&&... args) {
    if (count_ == 0) {
      first_ = E(std::forward<A>(args)...);
    } else {
      more_.emplace_back(std::forward<A>(args)...);
    }
    ++count_;
  }
  std::size_t size() const { return count_; }
  E& front() { return first_; }
  // Hands each element, in order, to `f` as an rvalue, and empties this.
  template <class F> void take_each(F&& f) {
    if (count_ != 0) {
      f(std::move(first_));
      for (auto& e : more_) f(std::move(e));
    }
    clear();
  }
  void clear() {
    first_ = E();
    more_.clear();
    count_ = 0;
  }

 private:
  E first_{};
  std::vector<E> more_;
  std::size_t count_ = 0;
};

// Rewrites a list in one pass, in place: `visit(element, items)` returns false to keep the
// element, or true after putting into `items` what takes its place (nothing drops it). Kept and
// replacing elements are written back over the slots already read, so that a list of which one
// element changes is not copied; only what a splice puts beyond the slots read so far waits in a
// queue, which the next slots read take in turn. Each element moves at most twice.
// When a visit fails, the list keeps the rewrites made before the failure and the elements not yet
// rewritten: nothing of it is lost.
template <class E, class Visit>
[[gnu::noinline]] void rewrite_elements_from(QASMTransformer& t, std::vector<E>& list, std::size_t i,
                                             Replacements<E>& items, Visit& visit, Lookahead& ahead);
template <class E, class Visit> void rewrite_elements(QASMTransformer& t, std::vector<E>& list, Visit&& visit) {
  // Until an element changes, nothing is set up and nothing moves.
  Replacements<E> items;
  Lookahead ahead;
  // By index, re-reading the size: a handler may change the list it is walked from.
  for (std::size_t i = 0; i < list.size(); ++i) {
    ahead.ahead_of(list, i, t);
    if (visit(list[i], items)) return rewrite_elements_from(t, list, i, items, visit, ahead);
  }
}
// The rest of the list from element i, whose visit put into `items` what takes its place.
template <class E, class Visit>
void rewrite_elements_from(QASMTransformer& t, std::vector<E>& list, std::size_t i, Replacements<E>& items, Visit& visit,
                           Lookahead& ahead) {
  std::vector<E> queue;    // the results for which no slot is free yet, from `head` on
  std::size_t head = 0;
  std::size_t w = i;  // list[0, w) is rewritten; the slots [w, i) are free
  bool changed = true;
  try {
    for (; i < list.size(); ++i) {
      if (!changed) {
        ahead.ahead_of(list, i, t);
        changed = visit(list[i], items);
      }
      if (!changed) {
        if (head == queue.size()) {
          if (w != i) list[w] = std::move(list[i]);
          ++w;
          continue;
        }
        queue.push_back(std::move(list[i]));
      } else {
        changed = false;
        list[i] = E();  // what it held is freed now, as a node field's replaced node is
        if (items.size() == 1 && head == queue.size()) {
          list[w++] = std::move(items.front());
          items.clear();
          continue;
        }
        items.take_each([&](E&& e) { queue.push_back(std::move(e)); });
      }
      // The queue is nonempty only while no slot is free: then w == i + 1 after this.
      while (head < queue.size() && w <= i) list[w++] = std::move(queue[head++]);
      if (head == queue.size()) {
        queue.clear();
        head = 0;
      }
    }
  } catch (...) {
    // list[0, w), then the queue, then list[i, end); a nonempty queue means w == i.
    if (head < queue.size()) {
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(i), std::make_move_iterator(queue.begin() + static_cast<std::ptrdiff_t>(head)),
                  std::make_move_iterator(queue.end()));
    } else if (w < i) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(w), list.begin() + static_cast<std::ptrdiff_t>(i));
    }
    throw;
  }
  if (w < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(w), list.end());
  if (head < queue.size())
    list.insert(list.end(), std::make_move_iterator(queue.begin() + static_cast<std::ptrdiff_t>(head)),
              std::make_move_iterator(queue.end()));
}

// A list element's rewrite `r` (of the node `current`), as rewrite_elements takes it: false when
// the element stays, else true after putting into `items` the nodes of class T that replace it.
// The nodes are moved out of `r`.
template <class T, class E>
bool take_rewrite(Rewrite&& r, const QASMNode* current, std::string_view owner, const char* name,
                  Replacements<E>& items) {
  if (r.is_keep() || (r.is_node() && r.node().get() == current)) return false;
  if (r.is_node()) {
    items.emplace_back(cast_for_field<T>(owner, name, r.release_node()));
  } else if (r.is_list()) {
    for (auto& n : r.release_list())
      if (n) items.emplace_back(cast_for_field<T>(owner, name, std::move(n)));
  }
  return true;
}

template <class T>
void rewrite_list(QASMTransformer& t, std::string_view owner, const char* name, std::vector<Ptr<T>>& list) {
  rewrite_elements(t, list, [&](Ptr<T>& p, Replacements<Ptr<T>>& items) {
    if (!p || p->transform_generically(t)) return false;
    return take_rewrite<T>(p->transform_here(t, handle_ref(p)), p.get(), owner, name, items);
  });
}
// Inline: most annotation, modifier and argument lists are empty, and cost no call then.
template <class T>
[[gnu::always_inline]] inline void rewrite(QASMTransformer& t, std::string_view owner, const char* name,
                                           std::vector<Ptr<T>>& list) {
  if (!list.empty()) rewrite_list(t, owner, name, list);
}
inline void rewrite(QASMTransformer& t, std::string_view owner, const char* name, IndexElement& e) {
  std::visit([&](auto& x) { rewrite(t, owner, name, x); }, e);
}
void rewrite(QASMTransformer& t, std::string_view owner, const char* name, std::vector<IndexElement>& list);
inline void rewrite(QASMTransformer& t, std::string_view owner, const char* name, ArrayDimensions& d) {
  std::visit([&](auto& x) { rewrite(t, owner, name, x); }, d);
}
void rewrite(QASMTransformer& t, std::string_view owner, const char* name, std::vector<SwitchCase>& cases);

// Overloads for the composite field types, declared before the templates that call them.
bool same(const SwitchCase& a, const SwitchCase& b);
void deepen(SwitchCase& c, CopyMemo& memo);
void repr_value(std::string& out, const SwitchCase& c);
template <class T> bool same(const std::vector<T>& a, const std::vector<T>& b);
template <class... T> bool same(const std::variant<T...>& a, const std::variant<T...>& b);
template <class T> void deepen(std::vector<T>& list, CopyMemo& memo);
template <class... T> void deepen(std::variant<T...>& v, CopyMemo& memo);
template <class T> void repr_value(std::string& out, const std::vector<T>& list);
template <class... T> void repr_value(std::string& out, const std::variant<T...>& v);

// ---- structural equality
// Child nodes are not compared here but queued in the pairs of the running equal(), so that
// comparing trees of any depth takes no recursion.
bool defer_equal(const QASMNode& a, const QASMNode& b);
template <class T> bool same(const T& a, const T& b) { return a == b; }
// NaN equals NaN here, so that a tree always equals itself and its deep copy.
inline bool same(const double& a, const double& b) { return a == b || (std::isnan(a) && std::isnan(b)); }
template <class T> bool same(const Ptr<T>& a, const Ptr<T>& b) {
  if (!a || !b) return !a && !b;
  return a == b || defer_equal(*a, *b);
}
template <class T> bool same(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!same(a[i], b[i])) return false;
  return true;
}
template <class... T> bool same(const std::variant<T...>& a, const std::variant<T...>& b) {
  if (a.index() != b.index()) return false;
  return std::visit([&](const auto& x) { return same(x, std::get<std::decay_t<decltype(x)>>(b)); }, a);
}
inline bool same(const SwitchCase& a, const SwitchCase& b) {
  return same(a.values, b.values) && same(a.block, b.block);
}

// ---- deep copy (in place on a shallow copy)
// `owners`: how many handles of the original hold the node.
NodePtr copy_node(const QASMNode& n, long owners, CopyMemo& memo);
// A child field of a copy first holds the original's child (one more owner); it is queued, and
// the copy's loop (copy_tree) replaces it with the child's copy, so that no copy recurses.
template <class T> void fill_copy(void* field, CopyMemo& memo) {
  Ptr<T>& p = *static_cast<Ptr<T>*>(field);
  p = std::static_pointer_cast<T>(copy_node(*p, p.use_count() - 1, memo));
}
template <class T> void deepen(T&, CopyMemo&) {}
// Called on the fields of a shallow copy, whose handles add one owner to each child.
template <class T> void deepen(Ptr<T>& p, CopyMemo& memo) {
  if (p) memo.pending.push_back({&p, &fill_copy<T>});
}
template <class T> void deepen(std::vector<T>& list, CopyMemo& memo) {
  for (auto& x : list) deepen(x, memo);
}
template <class... T> void deepen(std::variant<T...>& v, CopyMemo& memo) {
  std::visit([&](auto& x) { deepen(x, memo); }, v);
}
inline void deepen(SwitchCase& c, CopyMemo& memo) {
  deepen(c.values, memo);
  deepen(c.block, memo);
}

// ---- detaching the children (freeing without recursion)
template <class T> void detach(T&, std::vector<NodePtr>&) {}
// A child that other handles still hold is only released here: its count drops, nothing is freed.
template <class T> [[gnu::always_inline]] inline void detach(Ptr<T>& p, std::vector<NodePtr>& out) {
  if (!p) return;
  if (p.use_count() > 1) {
    p.reset();
  } else {
    out.push_back(std::move(p));
  }
}
template <class T> void detach(std::vector<T>& list, std::vector<NodePtr>& out);
template <class... T> void detach(std::variant<T...>& v, std::vector<NodePtr>& out) {
  std::visit([&](auto& x) { detach(x, out); }, v);
}
inline void detach(SwitchCase& c, std::vector<NodePtr>& out) {
  detach(c.values, out);
  detach(c.block, out);
}
template <class T> void detach(std::vector<T>& list, std::vector<NodePtr>& out) {
  for (auto& x : list) detach(x, out);
}

// ---- repr
inline void repr_value(std::string& out, const std::string& s) { repr_string(out, s); }
inline void repr_value(std::string& out, const std::optional<std::string>& s) {
  if (s) repr_string(out, *s); else out += "None";
}
inline void repr_value(std::string& out, bool b) { out += b ? "True" : "False"; }
inline void repr_value(std::string& out, std::int64_t v) { out += std::to_string(v); }
inline void repr_value(std::string& out, double v) { repr_double(out, v); }
template <class E>
  requires std::is_enum_v<E>
void repr_value(std::string& out, E e) { out += enum_repr(e); }
template <class E> void repr_value(std::string& out, const std::optional<E>& e) {
  if (e) repr_value(out, *e); else out += "None";
}
template <class T> void repr_value(std::string& out, const Ptr<T>& p) {
  if (p) p->write_repr(out); else out += "None";
}
template <class T> void repr_value(std::string& out, const std::vector<T>& list);
template <class... T> void repr_value(std::string& out, const std::variant<T...>& v) {
  std::visit([&](const auto& x) { repr_value(out, x); }, v);
}
inline void repr_value(std::string& out, const SwitchCase& c) {
  out += '(';
  repr_value(out, c.values);
  out += ", ";
  repr_value(out, c.block);
  out += ')';
}
template <class T> void repr_value(std::string& out, const std::vector<T>& list) {
  out += '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i) out += ", ";
    repr_value(out, list[i]);
  }
  out += ']';
}

// ---- per field kind: node fields go through the walks above, payloads are left alone
template <class T> void prefetch_field(const Field<T>& f) { prefetch(f.value); }
template <class T> void prefetch_field(const PayloadField<T>&) {}
template <class T> struct IsList : std::false_type {};
template <class T> struct IsList<std::vector<T>> : std::true_type {};
template <class T> void prefetch_list_field(const Field<T>& f) {
  if constexpr (IsList<std::remove_const_t<T>>::value) {
    if (!f.value.empty()) __builtin_prefetch(f.value.data());
  }
}
template <class T> void prefetch_list_field(const PayloadField<T>&) {}
template <class T> void walk_field(QASMVisitor& v, const Field<T>& f) { walk(v, f.value); }
template <class T> void walk_field(QASMVisitor&, const PayloadField<T>&) {}
template <class T> void rewrite_field(QASMTransformer& t, std::string_view owner, const Field<T>& f) {
  rewrite(t, owner, f.name, f.value);
}
template <class T> void rewrite_field(QASMTransformer&, std::string_view, const PayloadField<T>&) {}
template <class T> void deepen_field(const Field<T>& f, CopyMemo& memo) { deepen(f.value, memo); }
template <class T> void deepen_field(const PayloadField<T>&, CopyMemo&) {}
template <class T> void detach_field(const Field<T>& f, std::vector<NodePtr>& out) { detach(f.value, out); }
template <class T> void detach_field(const PayloadField<T>&, std::vector<NodePtr>&) {}
template <class T> bool same_field(const Field<T>& a, const Field<T>& b) { return same(a.value, b.value); }
template <class T> bool same_field(const PayloadField<T>& a, const PayloadField<T>& b) {
  return a.value == b.value;
}
template <class T> void repr_field(std::string& out, const Field<T>& f) { repr_value(out, f.value); }
template <class T> void repr_field(std::string& out, const PayloadField<T>& f) {
  out += payload_text(f.value);
}

}  // namespace detail

// The generic rewrite of one field of a node of class `Owner` (a field as `all_fields` yields it):
// what QASMTransformer::generic_visit does to that field. For a handler that treats some fields
// itself and leaves the others to the generic walk. A rewrite of the wrong node class is reported
// as belonging to `Owner`'s field `name`. Switch cases are left as they are, as the generic walk
// leaves them.
template <class Owner, class T> void rewrite_field(QASMTransformer& t, const char* name, T& value) {
  detail::rewrite(t, Owner::kName, name, value);
}

namespace detail {
// Whether a value of type T (a field as all_fields yields it, or its type) can hold a node.
template <class T> struct HoldsNodes : std::false_type {};
template <class T> struct HoldsNodes<Ptr<T>> : std::is_base_of<QASMNode, T> {};
template <class T> struct HoldsNodes<std::vector<T>> : HoldsNodes<T> {};
template <class... T> struct HoldsNodes<std::variant<T...>> : std::disjunction<HoldsNodes<T>...> {};
template <> struct HoldsNodes<SwitchCase> : std::true_type {};
template <class T> struct HoldsNodes<Field<T>> : HoldsNodes<std::remove_const_t<T>> {};
template <class D> consteval bool is_bridge_class();  // nodes.hpp
// Counts the live nodes of class D in live_bridge_nodes when the kind table does not describe
// their children; nothing for every other class.
template <class D> struct BridgeCount {
  BridgeCount() noexcept {
    if constexpr (is_bridge_class<D>()) live_bridge_nodes.fetch_add(1, std::memory_order_relaxed);
  }
  BridgeCount(const BridgeCount&) noexcept : BridgeCount() {}
  BridgeCount& operator=(const BridgeCount&) noexcept { return *this; }
  ~BridgeCount() {
    if constexpr (is_bridge_class<D>()) live_bridge_nodes.fetch_sub(1, std::memory_order_relaxed);
  }
};
}  // namespace detail

template <class D, class Base> struct NodeImpl : Base {
 private:
  // Whether any field of the class (its bases' included) can hold a node. Constexpr, not
  // consteval: clang takes a consteval member of a class template for undefined where a member
  // function before its definition calls it.
  static constexpr bool has_children() {
    using Fields = decltype(all_fields(std::declval<D&>()));
    return []<std::size_t... I>(std::index_sequence<I...>) {
      return (detail::HoldsNodes<std::tuple_element_t<I, Fields>>::value || ...);
    }(std::make_index_sequence<std::tuple_size_v<Fields>>());
  }

 public:
  using Base::Base;

  static const NodeClass& static_class() {
    static const NodeClass c{std::type_index(typeid(D)), D::kName, D::kModule};
    return c;
  }
  const NodeClass& node_class() const override { return static_class(); }
  NodeKind kind() const override { return kind_of<D>; }
  static constexpr NodeKind static_library_kind() {
    if constexpr (kind_of<D> != NodeKind::External) {
      return kind_of<D>;
    } else {
      return Base::static_library_kind();
    }
  }
  NodeKind library_kind() const override { return static_library_kind(); }
  static bool static_is_instance_of(const std::type_info& type) {
    return type == typeid(D) || Base::static_is_instance_of(type);
  }
  bool is_instance_of(const std::type_info& type) const override { return static_is_instance_of(type); }

  // A class without fields of its own inherits this empty list.
  template <class S> static auto own_fields(S&) { return std::tuple<>(); }
  template <class S> static auto all_fields(S& s) {
    return std::tuple_cat(Base::all_fields(s), D::own_fields(s));
  }

  // Where the walker has no handler of its own for the class, straight to the generic walk: no
  // handler call, no handle made; where nothing below the node concerns the walker, not even
  // that. Every step of a walk that goes deeper passes a stack check: a tree too deep for the
  // stack stops the walk with StackExhausted.
  // A statement's walk runs as the walker's statement() (see StatementWalk).
  void accept(QASMVisitor& v, detail::HandleRef self) override {
    detail::NodeWalk how = detail::NodeWalk::handler;
    if constexpr (kind_of<D> != NodeKind::External) how = v.walk_of(kind_of<D>);
    if (how == detail::NodeWalk::skip) return;
    // The generic walk of a node without children goes no deeper.
    if (has_children() || how == detail::NodeWalk::handler) guard_stack("a visitor's walk");
    if constexpr (std::is_base_of_v<Statement, D>) {
      v.walk_statement(*this, [&] { visit_here(v, self, how); });
    } else {
      visit_here(v, self, how);
    }
  }
  Rewrite accept(QASMTransformer& t, detail::HandleRef self) override {
    if (NodeImpl::transform_generically(t)) return Rewrite::keep();
    return NodeImpl::dispatch_transform(t, self);
  }
  bool transform_generically(QASMTransformer& t) override {
    if constexpr (kind_of<D> != NodeKind::External) {
      const detail::NodeWalk how = t.walk_of(kind_of<D>);
      if (how == detail::NodeWalk::skip) return true;
      if (how == detail::NodeWalk::children) {
        if constexpr (has_children()) guard_stack("a transformer's walk");
        if constexpr (kind_of<D> == NodeKind::BinaryExpression) {
          if (left_is_binary()) {
            detail::transform_binary_chain(t, static_cast<D&>(*this));
            return true;
          }
        }
        if constexpr (std::is_base_of_v<Statement, D>) {
          t.walk_statement(*this, [&] { NodeImpl::transform_children(t); });
        } else {
          NodeImpl::transform_children(t);
        }
        return true;
      }
    }
    return false;
  }
  Rewrite transform_here(QASMTransformer& t, detail::HandleRef self) override {
    return NodeImpl::dispatch_transform(t, self);
  }
  void visit_children(QASMVisitor& v) override {
    prefetch_children();
    std::apply([&](auto... f) { (detail::walk_field(v, f), ...); }, all_fields(static_cast<D&>(*this)));
  }
  void transform_children(QASMTransformer& t) override {
    prefetch_children();
    std::apply([&](auto... f) { (detail::rewrite_field(t, D::kName, f), ...); },
               all_fields(static_cast<D&>(*this)));
  }
  bool equals(const QASMNode& other) const override { return equal(*this, other); }
  bool equals_shallow(const QASMNode& other) const override {
    if (typeid(other) != typeid(D)) return false;
    auto a = all_fields(static_cast<const D&>(*this));
    auto b = all_fields(static_cast<const D&>(other));
    return equal_fields(a, b, std::make_index_sequence<std::tuple_size_v<decltype(a)>>());
  }
  NodePtr clone(detail::CopyMemo& memo) const override {
    auto copy = detail::make_node<D>(static_cast<const D&>(*this));
    std::apply([&](auto... f) { (detail::deepen_field(f, memo), ...); }, all_fields(*copy));
    return copy;
  }
  void prefetch_lists() const noexcept override {
    std::apply([&](auto... f) { (detail::prefetch_list_field(f), ...); }, all_fields(static_cast<const D&>(*this)));
  }
  void detach_children(std::vector<NodePtr>& out) noexcept override {
    std::apply([&](auto... f) { (detail::detach_field(f, out), ...); }, all_fields(static_cast<D&>(*this)));
  }
  void write_repr(std::string& out) const override {
    check_stack("repr");
    out += D::kName;
    out += "(span=";
    detail::repr_span(out, this->span);
    std::apply(
        [&](auto... f) {
          ((out += ", ", out += f.name, out += '=', detail::repr_field(out, f)), ...);
        },
        all_fields(static_cast<const D&>(*this)));
    out += ')';
  }

 private:
  void visit_here(QASMVisitor& v, detail::HandleRef self, detail::NodeWalk how) {
    if constexpr (kind_of<D> == NodeKind::BinaryExpression) {
      if (how == detail::NodeWalk::children && left_is_binary()) return detail::visit_binary_chain(v, static_cast<D&>(*this));
    }
    if (how == detail::NodeWalk::children) return NodeImpl::visit_children(v);
    QASMVisitor::HandleScope scope(v, self);
    detail::dispatch(v, static_cast<D&>(*this));
  }
  // The handler's rewrite of this node (its generic walk is not for it).
  Rewrite dispatch_transform(QASMTransformer& t, detail::HandleRef self) {
    guard_stack("a transformer's walk");
    if constexpr (std::is_base_of_v<Statement, D>) {
      return t.walk_statement(*this, [&] { return detail::dispatch(t, std::static_pointer_cast<D>(self.get())); });
    } else {
      return detail::dispatch(t, std::static_pointer_cast<D>(self.get()));
    }
  }
  // For a BinaryExpression: whether its left operand is one too (a chain, walked in a loop).
  bool left_is_binary() const {
    const auto& lhs = static_cast<const D&>(*this).lhs;
    return lhs && lhs->kind() == NodeKind::BinaryExpression;
  }
  // check_stack, inlined: every node a walk enters pays it.
  [[gnu::always_inline]] static void guard_stack(const char* walk) {
    if (stack_nearly_full()) [[unlikely]] throw_stack_exhausted(walk);
  }
  [[no_unique_address]] detail::BridgeCount<D> bridge_count_;
  // See detail::prefetch.
  void prefetch_children() {
    std::apply([&](auto... f) { (detail::prefetch_field(f), ...); }, all_fields(static_cast<D&>(*this)));
  }
  template <class A, std::size_t... I>
  static bool equal_fields(const A& a, const A& b, std::index_sequence<I...>) {
    return (detail::same_field(std::get<I>(a), std::get<I>(b)) && ...);
  }
};

template <class T> const NodeClass& node_class_of() { return T::static_class(); }

}  // namespace openqasm3::ast
