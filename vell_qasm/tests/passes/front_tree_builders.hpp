// Small makers of syntax trees for the compiler's step tests, and running a step on a tree.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "openqasm3/ast.hpp"
#include "openqasm3/parser.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::testing {

namespace ast = openqasm3::ast;

// Runs `step` on `root`; checks that the result is a new OpenQasmProgram around the very root
// that was handed in (the step rewrites in place), and returns that root.
inline ast::Ptr<ast::Program> run_step(passes::Step& step, const ast::Ptr<ast::Program>& root) {
  auto given = std::make_shared<programs::OpenQasmProgram>(root);
  auto result = std::dynamic_pointer_cast<programs::OpenQasmProgram>(step(given));
  EXPECT_NE(result, nullptr);
  EXPECT_NE(result, given);
  if (result) {
    EXPECT_EQ(result->ast(), root);
  }
  return root;
}
inline ast::Ptr<ast::Program> run_step(passes::Step& step, const std::string& source) {
  return run_step(step, openqasm3::parse(source));
}

inline ast::Ptr<ast::Identifier> id(std::string name) { return ast::make<ast::Identifier>(std::move(name)); }
inline ast::Ptr<ast::IntegerLiteral> lit(std::int64_t value) { return ast::make<ast::IntegerLiteral>(value); }

inline ast::Ptr<ast::ClassicalDeclaration> int_decl(std::string name, ast::NodePtr init = nullptr) {
  return ast::make<ast::ClassicalDeclaration>(ast::make<ast::IntType>(nullptr), id(std::move(name)), std::move(init));
}
inline ast::Ptr<ast::ClassicalDeclaration> bit_measured(std::string name, std::string qubit) {
  return ast::make<ast::ClassicalDeclaration>(ast::make<ast::BitType>(nullptr), id(std::move(name)),
                                              ast::make<ast::QuantumMeasurement>(id(std::move(qubit))));
}
inline ast::Ptr<ast::IODeclaration> io_decl(ast::IOKeyword keyword, std::string name) {
  return ast::make<ast::IODeclaration>(keyword, ast::make<ast::IntType>(nullptr), id(std::move(name)));
}
inline ast::Ptr<ast::ConstantDeclaration> const_decl(std::string name, std::int64_t value) {
  return ast::make<ast::ConstantDeclaration>(ast::make<ast::IntType>(nullptr), id(std::move(name)), lit(value));
}

// name q0, q1, ...;
inline ast::Ptr<ast::QuantumGate> gate(std::string name, std::vector<ast::NodePtr> qubits) {
  return ast::make<ast::QuantumGate>(std::vector<ast::Ptr<ast::QuantumGateModifier>>{}, id(std::move(name)),
                                     std::vector<ast::ExprPtr>{}, std::move(qubits));
}
inline ast::Ptr<ast::QuantumGate> gate_on(std::string name, std::vector<std::string> qubits) {
  std::vector<ast::NodePtr> operands;
  for (auto& q : qubits) operands.push_back(id(q));
  return gate(std::move(name), std::move(operands));
}

inline ast::Ptr<ast::CompoundStatement> block(std::vector<ast::StmtPtr> statements) {
  return ast::make<ast::CompoundStatement>(std::move(statements));
}

inline ast::Ptr<ast::Program> program(std::vector<ast::NodePtr> statements,
                                      std::optional<std::string> version = std::nullopt) {
  return ast::make<ast::Program>(std::move(statements), std::move(version));
}

template <class T> ast::Ptr<T> as(const ast::NodePtr& node) { return ast::dyn_cast<T>(node); }

inline std::vector<std::string> class_names(const std::vector<ast::NodePtr>& nodes) {
  std::vector<std::string> names;
  for (auto& n : nodes) names.emplace_back(n ? n->class_name() : "None");
  return names;
}
inline std::vector<std::string> class_names(const std::vector<ast::StmtPtr>& nodes) {
  return class_names(std::vector<ast::NodePtr>(nodes.begin(), nodes.end()));
}

}  // namespace vell_qasm::testing
