#include "node_release.hpp"

#include <vector>

namespace openqasm3::ast::detail {
namespace {

// The list of the outermost destroy_node call on this thread; null when none runs.
thread_local std::vector<NodePtr>* t_detached = nullptr;

// A rewrite that takes every child out of its field into the list.
class Detacher final : public QASMTransformer {
 public:
  explicit Detacher(std::vector<NodePtr>& out) : out_(out) {}
  Rewrite generic_visit(const NodePtr& node) override {
    out_.push_back(node);
    return {};
  }

 private:
  std::vector<NodePtr>& out_;
};

}  // namespace

void destroy_node(QASMNode* node) noexcept {
  if (t_detached) {
    Detacher detacher(*t_detached);
    node->transform_children(detacher);
    node->~QASMNode();
    return;
  }
  // The outermost call: dropping a detached node may detach its own children into the list.
  std::vector<NodePtr> detached;
  t_detached = &detached;
  Detacher detacher(detached);
  node->transform_children(detacher);
  node->~QASMNode();
  while (!detached.empty()) {
    NodePtr n = std::move(detached.back());
    detached.pop_back();
    n.reset();
  }
  t_detached = nullptr;
}

}  // namespace openqasm3::ast::detail
