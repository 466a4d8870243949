// Asking for the memory of statements ahead of a walk along a long statement list, beyond what the
// list walks of the tree library ask for (openqasm3/prefetch.hpp), for the steps' own loops over a
// program's statements. Only hints: nothing here changes a result.
//
// - prefetch_statement_ahead: the subtree below a statement's node, over a window of the walk's
//   choosing. How much pays depends on how much of each subtree the walk enters: a walk into every
//   expression is served best by more than the list walks ask for.
// - prefetch_blocks_ahead: the element arrays of a statement's blocks (the branches of an if, a
//   loop's body). They come from the general allocator, not the node arena, so no subtree window
//   covers them, and a walk entering a block would wait on its array first.
// - StatementsAhead: a look-ahead in stages, for a tree whose statements no longer lie below one
//   another (after steps that rewrote them): each node a walk will read is asked for where it is,
//   once the node that points to it is in the cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes {

// Called before the walk of statements[i]: asks for the `below` bytes under the node of the
// statement `ahead` places on, and its node. Four lines per round: a long window costs few
// instructions beyond its prefetches.
template <class List>
[[gnu::always_inline]] inline void prefetch_statement_ahead(const List& statements, std::size_t i, std::size_t ahead,
                                                            std::uintptr_t below) {
  if (i + ahead >= statements.size() || statements[i + ahead] == nullptr) return;
  const auto at = reinterpret_cast<std::uintptr_t>(statements[i + ahead].get());
  std::uintptr_t line = at - below;
  for (; line + 3 * 64 <= at; line += 4 * 64) {
    __builtin_prefetch(reinterpret_cast<const void*>(line));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 64));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 2 * 64));
    __builtin_prefetch(reinterpret_cast<const void*>(line + 3 * 64));
  }
  for (; line <= at; line += 64) __builtin_prefetch(reinterpret_cast<const void*>(line));
}

namespace detail {
template <class T> [[gnu::always_inline]] inline void prefetch_elements(const std::vector<T>& list) {
  if (!list.empty()) __builtin_prefetch(list.data());
}

// each(block) for every block of `node` (an if's branches, a loop's body, a box's, a compound
// statement's); none for a statement without one.
template <class Each> [[gnu::always_inline]] inline void for_each_block(const openqasm3::ast::QASMNode& node, Each&& each) {
  namespace ast = openqasm3::ast;
  switch (node.kind()) {
    case ast::NodeKind::BranchingStatement:
      each(static_cast<const ast::BranchingStatement&>(node).if_block);
      each(static_cast<const ast::BranchingStatement&>(node).else_block);
      return;
    case ast::NodeKind::WhileLoop:
      each(static_cast<const ast::WhileLoop&>(node).block);
      return;
    case ast::NodeKind::ForInLoop:
      each(static_cast<const ast::ForInLoop&>(node).block);
      return;
    case ast::NodeKind::Box:
      each(static_cast<const ast::Box&>(node).body);
      return;
    case ast::NodeKind::CompoundStatement:
      each(static_cast<const ast::CompoundStatement&>(node).statements);
      return;
    default:
      return;
  }
}
}  // namespace detail

// Called before the walk of statements[i]: asks for the block arrays of the statement `ahead`
// places on, whose node must be alive (it is read: ask for it earlier, with a subtree window).
template <class List>
[[gnu::always_inline]] inline void prefetch_blocks_ahead(const List& statements, std::size_t i, std::size_t ahead) {
  if (i + ahead >= statements.size() || statements[i + ahead] == nullptr) return;
  detail::for_each_block(*statements[i + ahead], [](const auto& block) { detail::prefetch_elements(block); });
}

// Called before the walk of statements[i] (as `ahead(statements, i)`): asks for what the walk of
// the statements ahead will read, in stages along the list, each reading only nodes asked for at
// an earlier stage:
//   24 places ahead: the statement node;
//   12 places ahead: the block arrays (an if's branches, a loop's body, a box's, a compound
//                    statement's) and, as asked, a gate call's name, the other children of a
//                    statement with blocks (a condition, a loop's variable and range), a
//                    declaration's children (type, identifier, initial value; an input/output
//                    declaration's too) and an assignment's target;
//    6 places ahead: the first statements of those blocks, and, as asked, a call's operand array;
//    3 places ahead: as asked, the names of the calls and the targets of the assignments among
//                    those first statements, a call's operands.
struct StatementsAhead {
  bool call_names = false;
  bool call_operands = false;
  bool block_children = false;
  bool declaration_children = false;
  bool assignment_targets = false;

  // The first statements of a block asked for: the walk of the block asks for the rest itself.
  static constexpr std::size_t kBlockHead = 2;

  [[gnu::always_inline]] static void node_lines(const openqasm3::ast::QASMNode* node) {
    if (node == nullptr) return;
    __builtin_prefetch(node);
    __builtin_prefetch(reinterpret_cast<const char*>(node) + 64);
  }
  template <class T> [[gnu::always_inline]] static void node_line(const openqasm3::ast::Ptr<T>& node) {
    if (node != nullptr) __builtin_prefetch(node.get());
  }
  template <class List> void operator()(const List& statements, std::size_t i) const {
    namespace ast = openqasm3::ast;
    const std::size_t count = statements.size();
    if (i + 24 < count) node_lines(statements[i + 24].get());
    if (i + 12 < count && statements[i + 12] != nullptr) stage_12(*statements[i + 12]);
    if (i + 6 < count && statements[i + 6] != nullptr) stage_6(*statements[i + 6]);
    if (i + 3 < count && statements[i + 3] != nullptr) stage_3(*statements[i + 3]);
  }

 private:
  void stage_12(const openqasm3::ast::QASMNode& node) const {
    namespace ast = openqasm3::ast;
    switch (node.kind()) {
      case ast::NodeKind::QuantumGate:
        if (call_names) node_line(static_cast<const ast::QuantumGate&>(node).name);
        return;
      case ast::NodeKind::ClassicalDeclaration:
        if (declaration_children) {
          const auto& declaration = static_cast<const ast::ClassicalDeclaration&>(node);
          node_line(declaration.type);
          node_line(declaration.identifier);
          node_line(declaration.init_expression);
        }
        return;
      case ast::NodeKind::IODeclaration:
        if (declaration_children) {
          const auto& declaration = static_cast<const ast::IODeclaration&>(node);
          node_line(declaration.type);
          node_line(declaration.identifier);
        }
        return;
      case ast::NodeKind::ClassicalAssignment:
        if (assignment_targets) node_line(static_cast<const ast::ClassicalAssignment&>(node).lvalue);
        return;
      case ast::NodeKind::BranchingStatement:
        if (block_children) node_line(static_cast<const ast::BranchingStatement&>(node).condition);
        break;
      case ast::NodeKind::WhileLoop:
        if (block_children) node_line(static_cast<const ast::WhileLoop&>(node).while_condition);
        break;
      case ast::NodeKind::ForInLoop:
        if (block_children) {
          const auto& loop = static_cast<const ast::ForInLoop&>(node);
          node_line(loop.type);
          node_line(loop.identifier);
          node_line(loop.set_declaration);
        }
        break;
      default:
        break;
    }
    detail::for_each_block(node, [](const auto& block) { detail::prefetch_elements(block); });
  }
  void stage_6(const openqasm3::ast::QASMNode& node) const {
    namespace ast = openqasm3::ast;
    switch (node.kind()) {
      case ast::NodeKind::QuantumGate: {
        const auto& qubits = static_cast<const ast::QuantumGate&>(node).qubits;
        if (call_operands && !qubits.empty()) __builtin_prefetch(qubits.data());
        return;
      }
      default:
        break;
    }
    detail::for_each_block(node, [](const auto& block) {
      for (std::size_t k = 0; k < block.size() && k < kBlockHead; ++k) node_lines(block[k].get());
    });
  }
  void stage_3(const openqasm3::ast::QASMNode& node) const {
    namespace ast = openqasm3::ast;
    if (node.kind() == ast::NodeKind::QuantumGate) {
      if (call_operands)
        for (const ast::NodePtr& operand : static_cast<const ast::QuantumGate&>(node).qubits)
          if (operand != nullptr) __builtin_prefetch(operand.get());
      return;
    }
    if (!call_names && !assignment_targets) return;
    detail::for_each_block(node, [&](const auto& block) {
      for (std::size_t k = 0; k < block.size() && k < kBlockHead; ++k) {
        if (block[k] == nullptr) continue;
        const ast::NodeKind kind = block[k]->kind();
        if (kind == ast::NodeKind::QuantumGate && call_names)
          node_line(static_cast<const ast::QuantumGate&>(*block[k]).name);
        if (kind == ast::NodeKind::ClassicalAssignment && assignment_targets)
          node_line(static_cast<const ast::ClassicalAssignment&>(*block[k]).lvalue);
      }
    });
  }
};

}  // namespace vell_qasm::passes
