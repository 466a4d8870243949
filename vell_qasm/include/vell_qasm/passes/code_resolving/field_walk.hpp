// FieldWalk: a transformer's walk over a whole program that reads the fields of the node kinds
// itself and gives the transformer's generic walk (QASMTransformer::visit and the library's field
// rewrites, with their handlers, checks and messages) only the nodes that its policy names: those
// that a handler may replace or that the field walk cannot read (switch cases, outside classes).
// Every other node costs neither a handler call nor a Rewrite nor a handle copy, where the generic
// walk pays them for every node with a handler. The result is the generic walk's, failures and
// the rewrites made before them included, as long as the nodes left to the field walk are ones
// whose handlers only walk their children, before() and after() aside.
//
// The policy P provides:
//   Take take(QASMNode& node, NodeKind kind)
//                                     what becomes of `node`, of kind `kind`: the field walk
//                                     walks it, the generic walk takes it (a switch statement and
//                                     a node of an outside class always go there), or it is left
//                                     as it is, unwalked
//   template <class D> void before(D& node), after(D& node)
//                                     run around the field walk of a node, inside the walk of
//                                     the statement when it is one
// and may provide
//   const ExprPtr* replacement(QASMNode& node)
//                                     asked right after take() gave Take::generic for a node
//                                     held by an expression field or list: the expression that
//                                     the generic walk would put in its place, set there with no
//                                     handler call, or null to leave the node to the generic walk
// A node list whose element the generic walk replaces by something the list's static type does
// not hold plainly (a value in a list of names, a splice) is given to the generic walk whole.
//
// Trap: it pays where the generic walk would call a handler at most nodes (constant inlining's
// identifiers). Constant folding, whose handlers are few, measured no faster with it (148 against
// 152 ms at 10^6 statements, with the subtree prefetching of both walks, and more instructions) and
// keeps the generic walk.
#pragma once

#include <cstdint>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "openqasm3/ast.hpp"
#include "openqasm3/stack_guard.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_resolving {

enum class Take { walk, generic, leave };

template <class P> class FieldWalk {
 public:
  FieldWalk(openqasm3::ast::QASMTransformer& transformer, P& policy) : t_(transformer), p_(policy) {}

  void program(openqasm3::ast::Program& root) { fields(root); }

  // Walks `node` (false: the generic walk must take it).
  bool enter(openqasm3::ast::QASMNode& node) {
    namespace ast = openqasm3::ast;
    const ast::NodeKind kind = node.kind();
    if (kind == ast::NodeKind::SwitchStatement || kind == ast::NodeKind::External) return false;
    if (const Take take = p_.take(node, kind); take != Take::walk) return take == Take::leave;
    switch (kind) {
      // Leaves: nothing to walk.
      case ast::NodeKind::Identifier:
      case ast::NodeKind::IntegerLiteral:
      case ast::NodeKind::FloatLiteral:
      case ast::NodeKind::BooleanLiteral:
        return true;
      default:
        break;
    }
    switch (kind) {
#define NODE(Class, Base) \
  case ast::NodeKind::Class: enter_node(static_cast<ast::Class&>(node)); break;
#include "openqasm3/nodes.def"
      case ast::NodeKind::External: break;
    }
    return true;
  }

  // The generic rewrite of a list element: placed (kept or replaced), dropped (the element is
  // null now), or to be left to the list's generic walk.
  enum class Rewritten { placed, dropped, for_the_list };
  template <class T> Rewritten rewrite_element(openqasm3::ast::Ptr<T>& element) {
    namespace ast = openqasm3::ast;
    ast::Rewrite rewritten = element->accept(t_, ast::detail::handle_ref(element));
    if (rewritten.is_keep() || (rewritten.is_node() && rewritten.node() == element)) return Rewritten::placed;
    if (rewritten.is_none()) {
      element = nullptr;
      return Rewritten::dropped;
    }
    if constexpr (std::is_same_v<T, ast::Expression> || std::is_same_v<T, ast::QASMNode>) {
      // An expression: a list of expressions or of nodes (no statement list) holds it as it is.
      if (rewritten.is_node()) {
        if (auto value = ast::dyn_cast<ast::Expression>(rewritten.node())) {
          element = std::static_pointer_cast<T>(std::move(value));
          return Rewritten::placed;
        }
      }
    }
    return Rewritten::for_the_list;
  }

  template <class D> void fields(D& node) {
    std::apply([&](auto... f) { (field<D>(f), ...); }, D::all_fields(node));
  }

 private:
  template <class D> void enter_node(D& node) {
    if (openqasm3::stack_nearly_full()) [[unlikely]]
      openqasm3::throw_stack_exhausted("a transformer's walk");
    if constexpr (std::is_same_v<D, openqasm3::ast::BinaryExpression>) {
      enter_chain(node);
    } else if constexpr (std::is_base_of_v<openqasm3::ast::Statement, D>) {
      t_.walk_statement(node, [&] { walk_node(node); });
    } else {
      walk_node(node);
    }
  }
  // A flat chain a + b + c + ... leans left as deep as it is long: its links are walked in a
  // loop, in the order of the walk of each link (left operand, right operand), and only the right
  // operands recurse. The links go on chain_ above those of the chains this one stands in.
  void enter_chain(openqasm3::ast::BinaryExpression& top) {
    namespace ast = openqasm3::ast;
    const utils::StackMark mark(chain_);
    ast::BinaryExpression* link = &top;
    p_.before(*link);
    chain_.push_back(link);
    while (link->lhs && link->lhs->kind() == ast::NodeKind::BinaryExpression && p_.take(*link->lhs, ast::NodeKind::BinaryExpression) == Take::walk) {
      link = static_cast<ast::BinaryExpression*>(link->lhs.get());
      p_.before(*link);
      chain_.push_back(link);
    }
    value<ast::BinaryExpression>("lhs", link->lhs);
    // By index: the right operands' chains grow chain_ above our part and shrink it back.
    for (std::size_t i = chain_.size(); i-- > mark.base();) {
      value<ast::BinaryExpression>("rhs", chain_[i]->rhs);
      p_.after(*chain_[i]);
    }
  }

  template <class D> void walk_node(D& node) {
    p_.before(node);
    fields(node);
    p_.after(node);
  }

  template <class D, class T> void field(const openqasm3::ast::Field<T>& f) { value<D>(f.name, f.value); }
  template <class D, class T> void field(const openqasm3::ast::PayloadField<T>&) {}

  // No node in it. (Switch cases hold nodes, but a switch goes to the generic walk whole.)
  template <class D, class T> void value(const char*, T&) {}
  template <class D, class T> void value(const char* name, openqasm3::ast::Ptr<T>& child) {
    if (child && !enter(*child) && !replaced(child)) openqasm3::ast::rewrite_field<D>(t_, name, child);
  }
  // Sets an expression that the policy knows the replacement of.
  template <class T> bool replaced(openqasm3::ast::Ptr<T>& child) {
    if constexpr (std::is_same_v<T, openqasm3::ast::Expression> && requires { p_.replacement(*child); }) {
      if (const openqasm3::ast::ExprPtr* replacement = p_.replacement(*child)) {
        child = *replacement;
        return true;
      }
    }
    return false;
  }
  // In place, as the generic walk rewrites a list: dropped elements leave free slots that the
  // next elements fill; a failure leaves the rewrites before it and the elements after it.
  template <class D, class T> void value(const char* name, std::vector<openqasm3::ast::Ptr<T>>& list) {
    std::size_t kept = 0;  // list[0, kept) is walked; the slots [kept, i) are free
    std::size_t i = 0;
    Prefetched prefetched;
    try {
      for (; i < list.size(); ++i) {
        if (i + 1 < list.size()) __builtin_prefetch(list[i + 1].get());
        if (i + kAhead < list.size()) prefetch_subtree(list[i + kAhead].get(), prefetched);
        auto& element = list[i];
        if (element && !enter(*element) && !replaced(element)) {
          const Rewritten rewritten = rewrite_element(element);
          if (rewritten == Rewritten::dropped) continue;
          if (rewritten == Rewritten::for_the_list) {
            close(list, kept, i);
            return openqasm3::ast::rewrite_field<D>(t_, name, list);
          }
        }
        if (kept != i) list[kept] = std::move(element);
        ++kept;
      }
    } catch (...) {
      close(list, kept, i);
      throw;
    }
    close(list, kept, i);
  }
  // A long list (statements) outgrows the caches: the subtree of an element several places ahead
  // is asked for, which measured a quarter off this walk at 10^6 statements. The parser makes a
  // statement's nodes before the statement, so most of its subtree lies in the kilobytes below it
  // (as openqasm3/prefetch.hpp says); consecutive statements' windows overlap, and the lines of the window
  // before are not asked for again. 3 KiB measured best for constant inlining (119.5 against 132.3
  // ms for 2 KiB at 10^6 statements, and 11.9 against 12.7 at 10^5).
  struct Prefetched {
    std::uintptr_t low = 0, high = 0;  // the lines [low, high] were asked for
  };
  static constexpr std::size_t kAhead = 8;
  static constexpr std::uintptr_t kBelow = 3072 - 64;
  static void prefetch_subtree(const void* node, Prefetched& done) {
    const auto at = reinterpret_cast<std::uintptr_t>(node) & ~std::uintptr_t{63};
    if (at == 0) return;
    std::uintptr_t low = at - kBelow;
    if (low >= done.low && low <= done.high + 64) {
      if (at <= done.high) return;
      low = done.high + 64;
    } else {
      done.low = low;
    }
    done.high = at;
    for (std::uintptr_t line = low; line <= at; line += 64) __builtin_prefetch(reinterpret_cast<const void*>(line));
  }
  template <class E> static void close(std::vector<E>& list, std::size_t from, std::size_t to) {
    if (from < to) list.erase(list.begin() + static_cast<std::ptrdiff_t>(from), list.begin() + static_cast<std::ptrdiff_t>(to));
  }
  template <class D, class... T> void value(const char* name, std::variant<T...>& either) {
    std::visit([&](auto& x) { value<D>(name, x); }, either);
  }
  // The generic walk does not enter the inner lists of an index.
  template <class D> void value(const char* name, openqasm3::ast::IndexElement& index) {
    if (auto* set = std::get_if<openqasm3::ast::Ptr<openqasm3::ast::DiscreteSet>>(&index)) value<D>(name, *set);
  }
  template <class D> void value(const char* name, std::vector<openqasm3::ast::IndexElement>& list) {
    for (auto& element : list) value<D>(name, element);
  }

  openqasm3::ast::QASMTransformer& t_;
  P& p_;
  std::vector<openqasm3::ast::BinaryExpression*> chain_;
};

}  // namespace vell_qasm::passes::code_resolving
