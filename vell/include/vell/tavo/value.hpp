// SDK values: a plain value or an SDK expression. Target functions take and return these.
#pragma once

#include <cstdint>
#include <memory>
#include <variant>

namespace vell::tavo {

namespace detail {
struct ExprNode;
}

// An SDK expression: a handle to an immutable expression node (a variable, an array cell, an
// operation on expressions and plain values, a math function or a cast).
class Expr {
 public:
  Expr() = default;
  explicit Expr(std::shared_ptr<const detail::ExprNode> node) : node_(std::move(node)) {}
  const std::shared_ptr<const detail::ExprNode>& node() const { return node_; }

 private:
  std::shared_ptr<const detail::ExprNode> node_;
};

using Value = std::variant<bool, std::int64_t, double, Expr>;

}  // namespace vell::tavo
