// ClassicalAssignLowering: rewrites every compound assignment into a plain one, `x += e` into
// `x = x + e`, because code generation handles "=" only. It runs before constant folding, which
// then sees the new binary expressions.
//
// The compound operator's binary twin is looked up by its symbol less the final "=" ("<<=" gives
// "<<"); no table of our own. "~=" has no twin ("~" is unary only) and fails with the lookup's
// KeyError "'~'". A compound assignment to an indexed target (`a[0] += 1`) is a
// NotImplementedError carrying the text "Indexed identifier is not supported:" and the target.
// Plain assignments come back as the very same node, whatever their target.
//
// Sharing: the target node is not copied; the very same identifier becomes the new statement's
// lvalue and the new expression's left operand, and the old right-hand side is the right operand
// whole, so `x -= y + 1` means x - (y + 1). Nothing else of the old statement (span, annotations)
// is kept, and the new statement is not walked.
//
// The walk is the generic one and enters switch cases too (labels and blocks), since code
// generation emits case blocks. The tree is rewritten in place; the returned OpenQasmProgram
// shares it, and a failure leaves what was rewritten before it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::code_resolving {

inline constexpr std::string_view OPENQASM_ASSIGNMENT_OPERATOR_SYMBOL = "=";
inline constexpr openqasm3::ast::AssignmentOperator BASIC_ASSIGNMENT_OP = openqasm3::ast::AssignmentOperator::assign;

class ClassicalAssignmentToBinaryExpression : public Transformer<ClassicalAssignmentToBinaryExpression> {
 public:
  ClassicalAssignmentToBinaryExpression();

  // The binary operator of a compound assignment operator; KeyError when there is none.
  static openqasm3::ast::BinaryOperator _extract_binary_operation(openqasm3::ast::AssignmentOperator operator_);

  // `node` itself for "=", else a new plain assignment.
  openqasm3::ast::Rewrite visit_ClassicalAssignment(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalAssignment>& node) override;

  // The walk of the program's statements (the list is rewritten in place).
  openqasm3::ast::Rewrite visit_Program(const openqasm3::ast::Ptr<openqasm3::ast::Program>& node) override;

 private:
  // The plain assignment that replaces the compound one `node`.
  static openqasm3::ast::StmtPtr _lowered(const openqasm3::ast::ClassicalAssignment& node);
};

class ClassicalAssignLowering : public Step {
 public:
  explicit ClassicalAssignLowering(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::code_resolving
