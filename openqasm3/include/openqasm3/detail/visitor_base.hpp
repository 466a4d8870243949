// Visitor and transformer bases; included by ast.hpp, read visitor.hpp for the contract.
#pragma once

#include <atomic>

namespace openqasm3::ast {

// Whether a generic walk enters the cases of a switch statement (their label expressions, then
// their block). The reference walk does not (`skip`): cases are not nodes. A walker that must
// reach every statement, as the compiler's rewrites and code generation do, asks for `enter`.
enum class SwitchCases { skip, enter };

// The library classes and External, for tables indexed by NodeKind.
inline constexpr std::size_t kNodeKinds = 1
#define NODE(Class, Base) +1
#include "openqasm3/nodes.def"
    ;

namespace detail {
// What every walker knows of its running walk: the innermost statement being walked, and which
// statement walks a failure leaves.
class StatementWalk {
 public:
  virtual ~StatementWalk() = default;
  // The innermost statement node (of class Statement or derived) whose walk runs: its handler or
  // its generic walk; null outside every statement (at a Program, or between walks).
  QASMNode* statement() const { return statement_; }

  // Runs `walk`, the walk of the statement `node`, as statement(); a failure that leaves it goes
  // through failed_in(node) on its way out. The walks call it for every statement node.
  template <class F> auto walk_statement(QASMNode& node, F&& walk) {
    QASMNode* const outer = statement_;
    statement_ = &node;
    try {
      if constexpr (std::is_void_v<decltype(walk())>) {
        walk();
        statement_ = outer;
      } else {
        auto result = walk();
        statement_ = outer;
        return result;
      }
    } catch (...) {
      statement_ = outer;
      failed_in(node);
      throw;
    }
  }

 protected:
  // Called inside the catch block of a failure that leaves the walk of `statement`: for the
  // innermost statement first, then for each enclosing one. The default does nothing. A
  // failure raised here replaces the one leaving.
  virtual void failed_in(QASMNode& statement) { (void)statement; }

 private:
  QASMNode* statement_ = nullptr;
};

// Which handlers of a walker class are the library's own (neither the handler nor generic_visit
// is overridden), so that the walk can go straight to a node's children there: known at compile
// time for walkers derived from VisitorFor<D> / TransformerFor<D>. Among those, `skip` marks the
// kinds below which no node the walker handles can stand (see KindReach): the walk leaves their
// children alone.
struct DefaultHandlers {
  std::array<bool, kNodeKinds> generic{};
  std::array<bool, kNodeKinds> skip{};
};
// Every handler counts as the walker's own: always right, only slower.
inline constexpr DefaultHandlers kNoDefaultHandlers{};

// How a walk treats a node of a given kind: its handler, the generic walk of its children, or
// nothing at all (nothing below it concerns the walker).
enum class NodeWalk : unsigned char { handler, children, skip };

// For each library kind, the library kinds that may stand below a node of it, at any depth,
// read from the node classes' field types: a field of type Ptr<T> (alone, in a list or variant,
// in a switch case) holds T and every class derived from T. A field of type NodePtr holds any
// class but a statement or a program, except a program's statement list: that is what such a
// field holds in every tree the parser builds (an operand, an initial value, an index), and the
// generic rewrite refuses a statement there (the tree's fields hold what their types in the
// reference allow). A non-statement class with statement fields (DurationOf, a "bridge") is left
// out: while any bridge node is alive, walks skip nothing. Defined with the node classes.
struct KindReach {
  std::array<std::array<bool, kNodeKinds>, kNodeKinds> below{};
  std::array<bool, kNodeKinds> bridge{};
};
template <class Void> struct KindReachOf;

// How many nodes are alive whose children the kind table does not describe: nodes of the
// library's bridge classes and of outside classes with node fields of their own.
inline std::atomic<long> live_bridge_nodes{0};
inline bool bridges_alive() { return live_bridge_nodes.load(std::memory_order_relaxed) != 0; }

// The common base of ExternalVisit<C> / ExternalTransform<C>: a walker with a handler for an
// outside class may meet that class anywhere, so nothing is skipped for it.
struct ExternalHandlers {};
}  // namespace detail

// A walker that also derives from EveryNode skips nothing on the kind table's word: it reaches
// the nodes it handles even where a tree built by hand put them against their fields' types (a
// statement in an index list), as a count of the whole tree does.
struct EveryNode {};

namespace detail {

[[gnu::always_inline]] inline NodeWalk walk_of(const DefaultHandlers& d, NodeKind kind) {
  const auto k = static_cast<std::size_t>(kind);
  if (!d.generic[k]) return NodeWalk::handler;
  return d.skip[k] && !bridges_alive() ? NodeWalk::skip : NodeWalk::children;
}
}  // namespace detail

// A read-only walk. `visit(node)` calls the handler for the node's exact class; every handler
// defaults to `generic_visit`, which visits the children in field order. A handler that does not
// call generic_visit stops the descent below its node. Derive walkers from VisitorFor<D> (below) so
// that nodes without a handler of D's own cost no handler call.
class QASMVisitor : public detail::StatementWalk {
 public:
  explicit QASMVisitor(SwitchCases cases = SwitchCases::skip) : switch_cases_(cases) {}
  SwitchCases switch_cases() const { return switch_cases_; }
  // Whether the generic walk of an IndexedIdentifier enters the expressions of its inner index
  // lists (after its other fields, list by list), which the reference walk leaves alone: for
  // read-only walks that must see every node, without a handler of their own for the class.
  bool enters_index_lists() const { return index_lists_; }
  // Whether a node of library class `kind` reaches nothing of this visitor but the generic walk
  // (neither its handler nor generic_visit is overridden).
  bool walks_generically(NodeKind kind) { return walk_of(kind) != detail::NodeWalk::handler; }
  // How the walk treats a node of library class `kind`.
  [[gnu::always_inline]] detail::NodeWalk walk_of(NodeKind kind) {
    if (!checked_) [[unlikely]] check_class();
    return detail::walk_of(*defaults_, kind);
  }
  // A node visited by reference has no handle (see handle()).
  void visit(QASMNode& node);
  void visit(const NodePtr& node);
  virtual void generic_visit(QASMNode& node);

  // The handle of the node whose handler runs, as the walk reached it: set for nodes reached by
  // the generic walk or by visit(const NodePtr&), null for a node visited by reference. Read it
  // in the handler of that node (a handler's child visits set their own while they run).
  // Trap: it is read from the field or list element the node stands in; a handler that changes
  // that field or list must read it first.
  NodePtr handle() const { return current_.get(); }

  // Makes `self` the handle of the running node for the scope's lifetime.
  class HandleScope {
   public:
    HandleScope(QASMVisitor& v, detail::HandleRef self) : v_(v), outer_(std::exchange(v.current_, self)) {}
    ~HandleScope() { v_.current_ = outer_; }
    HandleScope(const HandleScope&) = delete;
    HandleScope& operator=(const HandleScope&) = delete;

   private:
    QASMVisitor& v_;
    detail::HandleRef outer_;
  };

#define NODE(Class, Base) virtual void visit_##Class(Class& node);
#include "openqasm3/nodes.def"

 protected:
  // For VisitorFor<D>: the handlers that `declared` (D) leaves to the library.
  QASMVisitor(SwitchCases cases, const detail::DefaultHandlers& defaults, const std::type_info& declared)
      : switch_cases_(cases), table_(&defaults), declared_(&declared) {}
  // See enters_index_lists(); set once, before the first walk.
  void enter_index_lists() { index_lists_ = true; }

 private:
  // A class derived from D may override more handlers than D: then none counts as the library's.
  // Checked again by every visit(), so that a walk from D's constructor does not settle it.
  void check_class() {
    defaults_ = declared_ && typeid(*this) == *declared_ ? table_ : &detail::kNoDefaultHandlers;
    checked_ = true;
  }
  SwitchCases switch_cases_;
  bool index_lists_ = false;
  bool checked_ = false;
  const detail::DefaultHandlers* defaults_ = &detail::kNoDefaultHandlers;
  const detail::DefaultHandlers* table_ = &detail::kNoDefaultHandlers;
  const std::type_info* declared_ = nullptr;
  detail::HandleRef current_;
};

// A rewriting walk. `visit(node)` returns the handler's Rewrite for the node's exact class; every
// handler defaults to `generic_visit`, which rewrites the children and returns the node itself.
//
// The generic walk, field by field: a list of nodes is rewritten element by element, in place (a
// visit that yields nothing drops the element, a list is spliced in its place, a node replaces
// it; what an element held is freed as it is replaced or dropped); list elements that are not nodes (switch cases, the inner lists of an
// IndexedIdentifier's indices) are kept and not entered, unless the transformer was built with
// SwitchCases::enter: then each case's labels are rewritten as a list of expressions and its
// block as a CompoundStatement field. A node field is set to its visit's node
// or cleared when the visit yields nothing. A result that does not fit the field's type is a
// std::invalid_argument naming the field.
class QASMTransformer : public detail::StatementWalk {
 public:
  explicit QASMTransformer(SwitchCases cases = SwitchCases::skip) : switch_cases_(cases) {}
  SwitchCases switch_cases() const { return switch_cases_; }
  bool walks_generically(NodeKind kind) { return walk_of(kind) != detail::NodeWalk::handler; }
  [[gnu::always_inline]] detail::NodeWalk walk_of(NodeKind kind) {
    if (!checked_) [[unlikely]] check_class();
    return detail::walk_of(*defaults_, kind);
  }
  Rewrite visit(const NodePtr& node);
  virtual Rewrite generic_visit(const NodePtr& node);

#define NODE(Class, Base) virtual Rewrite visit_##Class(const Ptr<Class>& node);
#include "openqasm3/nodes.def"

 protected:
  // For TransformerFor<D>, as for VisitorFor<D>.
  QASMTransformer(SwitchCases cases, const detail::DefaultHandlers& defaults, const std::type_info& declared)
      : switch_cases_(cases), table_(&defaults), declared_(&declared) {}

 private:
  void check_class() {
    defaults_ = declared_ && typeid(*this) == *declared_ ? table_ : &detail::kNoDefaultHandlers;
    checked_ = true;
  }
  SwitchCases switch_cases_;
  bool checked_ = false;
  const detail::DefaultHandlers* defaults_ = &detail::kNoDefaultHandlers;
  const detail::DefaultHandlers* table_ = &detail::kNoDefaultHandlers;
  const std::type_info* declared_ = nullptr;
};

namespace detail {
// A handler of walker class D is the library's own when naming it in D finds the base's
// function: an override (or a hiding declaration) in D or between gives a member pointer of
// another class, and so does a name that D makes ambiguous or inaccessible.
template <class D> consteval DefaultHandlers visitor_defaults() {
  DefaultHandlers out;
  if constexpr (requires { requires std::is_same_v<decltype(&D::generic_visit), void (QASMVisitor::*)(QASMNode&)>; }) {
#define NODE(Class, Base)                                                                               \
  out.generic[static_cast<std::size_t>(NodeKind::Class)] =                                              \
      requires { requires std::is_same_v<decltype(&D::visit_##Class), void (QASMVisitor::*)(Class&)>; };
#include "openqasm3/nodes.def"
  }
  return out;
}
template <class D> consteval DefaultHandlers transformer_defaults() {
  DefaultHandlers out;
  if constexpr (requires {
                  requires std::is_same_v<decltype(&D::generic_visit), Rewrite (QASMTransformer::*)(const NodePtr&)>;
                }) {
#define NODE(Class, Base)                                                                                   \
  out.generic[static_cast<std::size_t>(NodeKind::Class)] = requires {                                       \
    requires std::is_same_v<decltype(&D::visit_##Class), Rewrite (QASMTransformer::*)(const Ptr<Class>&)>; \
  };
#include "openqasm3/nodes.def"
  }
  return out;
}
// Marks the kinds below which the walker D handles nothing. Not for a walker with a handler of an
// outside class, whose nodes the kind table does not place.
template <class D> consteval DefaultHandlers with_skips(DefaultHandlers out) {
  if constexpr (!std::is_base_of_v<ExternalHandlers, D> && !std::is_base_of_v<EveryNode, D>) {
    // One table for every walker: its argument depends on D only so that it is read once the
    // node classes are complete.
    const KindReach& reach = KindReachOf<std::conditional_t<true, void, D>>::value;
    for (std::size_t k = 0; k < kNodeKinds; ++k) {
      if (!out.generic[k]) continue;
      bool reaches = false;
      for (std::size_t j = 0; j < kNodeKinds && !reaches; ++j) reaches = reach.below[k][j] && !out.generic[j];
      out.skip[k] = !reaches;
    }
  }
  return out;
}
template <class D> inline constexpr DefaultHandlers kVisitorDefaults = with_skips<D>(visitor_defaults<D>());
template <class D> inline constexpr DefaultHandlers kTransformerDefaults = with_skips<D>(transformer_defaults<D>());
}  // namespace detail

// The bases to derive walkers from, naming the walker class itself (struct Collect :
// VisitorFor<Collect>): which handlers the class overrides is read from it at compile time, and
// nodes whose handler it leaves alone go straight to the generic walk, with no handler call. A
// class derived in turn from such a walker walks correctly but calls every handler; so does a
// walker derived from QASMVisitor / QASMTransformer directly.
// Trap: the walker's class is checked by every visit() and on a first walk entered otherwise; a
// walk entered only through generic_visit or accept, after one run inside D's constructor by an
// object of a class derived from D, would skip that class's own overrides.
template <class D> class VisitorFor : public QASMVisitor {
 public:
  explicit VisitorFor(SwitchCases cases = SwitchCases::skip)
      : QASMVisitor(cases, detail::kVisitorDefaults<D>, typeid(D)) {}
};
template <class D> class TransformerFor : public QASMTransformer {
 public:
  explicit TransformerFor(SwitchCases cases = SwitchCases::skip)
      : QASMTransformer(cases, detail::kTransformerDefaults<D>, typeid(D)) {}
};

// Handlers for node classes defined outside this library. A visitor that derives from
// ExternalVisit<C> receives nodes of exact class C in visit_external; other visitors walk them
// generically.
template <class C> class ExternalVisit : public detail::ExternalHandlers {
 public:
  virtual ~ExternalVisit() = default;
  virtual void visit_external(C& node) = 0;
};
template <class C> class ExternalTransform : public detail::ExternalHandlers {
 public:
  virtual ~ExternalTransform() = default;
  virtual Rewrite visit_external(const Ptr<C>& node) = 0;
};

namespace detail {
#define NODE(Class, Base) \
  inline void dispatch(QASMVisitor& v, Class& n) { v.visit_##Class(n); } \
  inline Rewrite dispatch(QASMTransformer& t, const Ptr<Class>& n) { return t.visit_##Class(n); }
#include "openqasm3/nodes.def"

// Whether a walker has a handler for an outside class, and where in the walker object it lies,
// depend on the walker's class alone (a complete object's layout is its class's), while the cross
// cast that finds it searches the walker's whole hierarchy. So the cast is made once per walker
// class met (per outside class and thread): the last class found without a handler skips it, and
// the last class found with one reuses the handler's offset in the object.
// Trap: a walker class that inherits a handler base virtually and walks from its constructor or
// destructor, while it is a base of a class under construction, has another layout than its
// complete objects: such a class must not share a thread with complete objects of its own.
template <class Handler, class Walker> Handler* external_handler(Walker& walker) {
  struct Found {
    const std::type_info* type = nullptr;
    std::ptrdiff_t offset = 0;
  };
  thread_local const std::type_info* without = nullptr;
  thread_local Found with;
  const std::type_info& type = typeid(walker);
  char* const object = reinterpret_cast<char*>(&walker);
  if (with.type != nullptr && *with.type == type) return reinterpret_cast<Handler*>(object + with.offset);
  if (without != nullptr && *without == type) return nullptr;
  auto* handler = dynamic_cast<Handler*>(&walker);
  if (handler == nullptr) {
    without = &type;
  } else {
    with = {&type, reinterpret_cast<char*>(handler) - object};
  }
  return handler;
}
template <class C> void dispatch(QASMVisitor& v, C& n) {
  if (auto* h = external_handler<ExternalVisit<C>>(v)) {
    h->visit_external(n);
  } else {
    v.generic_visit(n);
  }
}
template <class C> Rewrite dispatch(QASMTransformer& t, const Ptr<C>& n) {
  if (auto* h = external_handler<ExternalTransform<C>>(t)) return h->visit_external(n);
  return t.generic_visit(n);
}
}  // namespace detail

}  // namespace openqasm3::ast
