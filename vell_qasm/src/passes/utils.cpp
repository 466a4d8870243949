#include "vell_qasm/passes/utils.hpp"

#include "vell/tavo/program.hpp"

namespace vell_qasm::passes::utils {

namespace ast = openqasm3::ast;

bool is_inside_scope() { return vell::tavo::is_inside_scope(); }

bool is_qasm_literal(const ast::QASMNode& node) { return qasm_literal_value(node).has_value(); }
bool is_qasm_literal(const ast::NodePtr& node) { return node && is_qasm_literal(*node); }

ast::ExprPtr create_literal(const PlainValue& value) {
  struct Maker {
    ast::ExprPtr operator()(bool v) const { return ast::make<ast::BooleanLiteral>(v); }
    ast::ExprPtr operator()(std::int64_t v) const { return ast::make<ast::IntegerLiteral>(v); }
    ast::ExprPtr operator()(double v) const { return ast::make<ast::FloatLiteral>(v); }
  };
  return std::visit(Maker{}, value);
}

}  // namespace vell_qasm::passes::utils
