#include "vell_qasm/passes/constants.hpp"

#include <numbers>

namespace vell_qasm::passes {

namespace ast = openqasm3::ast;

namespace {
ConstantsTable make_constants() {
  const double tau = 2 * std::numbers::pi;
  return {
      {"pi", ast::make<ast::FloatLiteral>(std::numbers::pi)},
      {"\u03c0", ast::make<ast::FloatLiteral>(std::numbers::pi)},
      {"tau", ast::make<ast::FloatLiteral>(tau)},
      {"\u03c4", ast::make<ast::FloatLiteral>(tau)},
      {"euler", ast::make<ast::FloatLiteral>(std::numbers::e)},
      {"\u2107", ast::make<ast::FloatLiteral>(std::numbers::e)},
  };
}
}  // namespace

const ConstantsTable CONSTANTS = make_constants();

}  // namespace vell_qasm::passes
