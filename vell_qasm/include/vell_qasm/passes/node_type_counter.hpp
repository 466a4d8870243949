// count_node_types: how many nodes of each exact class a syntax tree holds.
//
// Every node reachable from the root is counted once per place it stands (a node shared by two
// places counts twice), by its own class: an HwQubit counts as HwQubit, not as Identifier. The count
// enters the cases of a switch statement (labels and blocks) and the inner index lists of an
// IndexedIdentifier, which the reference walk leaves out, so that nothing of the tree escapes it.
#pragma once

#include <cstddef>
#include <unordered_map>

#include "openqasm3/ast.hpp"

namespace vell_qasm::passes {

class NodeTypeCounts {
 public:
  // The count of nodes of exactly this class; 0 for a class the tree does not hold.
  std::size_t operator[](const openqasm3::ast::NodeClass& node_class) const {
    auto it = _counts.find(node_class);
    return it == _counts.end() ? 0 : it->second;
  }
  template <class T> std::size_t of() const { return (*this)[openqasm3::ast::node_class_of<T>()]; }

  // Only the classes that occur, each with a count of at least 1.
  const std::unordered_map<openqasm3::ast::NodeClass, std::size_t>& counts() const { return _counts; }

 private:
  friend NodeTypeCounts count_node_types(openqasm3::ast::QASMNode& root);
  std::unordered_map<openqasm3::ast::NodeClass, std::size_t> _counts;
};

NodeTypeCounts count_node_types(openqasm3::ast::QASMNode& root);

}  // namespace vell_qasm::passes
