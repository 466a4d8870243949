// Running a code-resolving step on source text and reading the result back.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../front_tree_builders.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"

namespace vell_qasm::testing {

namespace ast = openqasm3::ast;

// The printed form of the source's tree, so that expectations do not depend on layout.
inline std::string printed(const std::string& source) { return openqasm3::dumps(*openqasm3::parse(source)); }
inline std::string printed(const ast::Ptr<ast::Program>& root) { return openqasm3::dumps(*root); }

// Every node of the tree, once per place where it stands, in walk order (switch cases included).
class NodeCollector : public ast::QASMVisitor {
 public:
  NodeCollector() : QASMVisitor(ast::SwitchCases::enter) {}
  void generic_visit(ast::QASMNode& node) override {
    nodes.push_back(handle());
    QASMVisitor::generic_visit(node);
  }
  std::vector<ast::NodePtr> nodes;
};

inline std::vector<ast::NodePtr> all_nodes(const ast::NodePtr& root) {
  NodeCollector collector;
  collector.visit(root);
  return collector.nodes;
}

// The identifiers of the tree (HwQubits aside) with the given name.
inline std::vector<ast::Ptr<ast::Identifier>> identifiers_named(const ast::NodePtr& root, const std::string& name) {
  std::vector<ast::Ptr<ast::Identifier>> found;
  for (auto& node : all_nodes(root))
    if (ast::is_exactly<ast::Identifier>(*node) && std::static_pointer_cast<ast::Identifier>(node)->name == name)
      found.push_back(std::static_pointer_cast<ast::Identifier>(node));
  return found;
}

// Runs `action`, which must throw E, and hands the exception to `check`.
template <class E>
void expect_throw(const std::function<void()>& action, const std::function<void(const E&)>& check = nullptr) {
  try {
    action();
    ADD_FAILURE() << "no exception";
  } catch (const E& e) {
    if (check) check(e);
  }
}

}  // namespace vell_qasm::testing
