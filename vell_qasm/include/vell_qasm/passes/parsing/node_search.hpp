// NodeSearch<D>: a read-only walk that only asks whether a tree holds a node of some kind, for the
// front-end steps that decide from the answer whether to walk the tree at all.
//
// D derives from NodeSearch<D> (as from Visitor<D>), handles the node classes it looks for and
// calls found() in a handler on a match: the walk ends there, from any depth, and holds(root)
// answers true. Every node D has no handler for is passed without a handler call, so a tree
// without a match costs one plain walk. A real failure of the walk (a tree too deep for the stack)
// leaves it as from any walk, with the innermost statement's position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/statement_prefetch.hpp"
#include "vell_qasm/passes/walker.hpp"

namespace vell_qasm::passes::parsing {

template <class D> class NodeSearch : public Visitor<D> {
 public:
  using Visitor<D>::Visitor;

  bool holds(openqasm3::ast::QASMNode& root) {
    try {
      this->visit(root);
    } catch (const Found&) {
      return true;
    }
    return false;
  }

  // holds(program), the program's statements searched one by one, each asking for the subtree of
  // the statement `ahead` places on (`below` bytes) and, when `blocks_ahead` is not 0, for the
  // blocks of the one `blocks_ahead` places on (statement_prefetch.hpp).
  bool holds_statements(openqasm3::ast::Program& program, std::size_t ahead, std::uintptr_t below,
                        std::size_t blocks_ahead = 0) {
    return holds_statements_with(program, [&](const auto& statements, std::size_t i) {
      prefetch_statement_ahead(statements, i, ahead, below);
      if (blocks_ahead != 0) prefetch_blocks_ahead(statements, i, blocks_ahead);
    });
  }

  // holds(program), the program's statements searched one by one, `ahead(statements, i)` called
  // before the search of statements[i]: a search's own look-ahead (only hints, no result).
  template <class Ahead> bool holds_statements_with(openqasm3::ast::Program& program, Ahead&& ahead) {
    auto& statements = program.statements;
    try {
      for (std::size_t i = 0; i < statements.size(); ++i) {
        ahead(statements, i);
        this->visit(statements[i]);  // through its handle, as the list walk reaches it
      }
    } catch (const Found&) {
      return true;
    }
    return false;
  }

 protected:
  [[noreturn]] static void found() { throw Found{}; }

  void failed_in(openqasm3::ast::QASMNode& statement) override {
    try {
      throw;
    } catch (const Found&) {
      // The end of the search, not a failure.
    } catch (...) {
      Visitor<D>::failed_in(statement);
    }
  }

 private:
  struct Found {};
};

}  // namespace vell_qasm::passes::parsing
