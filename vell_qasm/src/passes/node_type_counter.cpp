#include "vell_qasm/passes/node_type_counter.hpp"
#include "vell_qasm/passes/walker.hpp"

namespace vell_qasm::passes {

namespace ast = openqasm3::ast;

namespace {

class Counter : public Visitor<Counter> {
 public:
  explicit Counter(std::unordered_map<ast::NodeClass, std::size_t>& counts)
      : _counts(counts) {}

  // Every handler ends up here, nodes of outside classes included (they have no handler).
  void generic_visit(ast::QASMNode& node) override {
    ++_counts[node.node_class()];
    ast::QASMVisitor::generic_visit(node);
  }

  void visit_IndexedIdentifier(ast::IndexedIdentifier& node) override {
    visit_with_index_lists(*this, node);
  }

 private:
  std::unordered_map<ast::NodeClass, std::size_t>& _counts;
};

}  // namespace

NodeTypeCounts count_node_types(ast::QASMNode& root) {
  NodeTypeCounts result;
  Counter counter(result._counts);
  counter.visit(root);
  return result;
}

}  // namespace vell_qasm::passes
