#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "../front_tree_builders.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {
namespace {

using namespace vell_qasm::testing;
using configurations::HwQubit;
using programs::OpenQasmProgram;

ast::Ptr<ast::Program> resolve(const ast::Ptr<ast::Program>& root) {
  HwQubitResolver step;
  return run_step(step, root);
}

void expect_hw_qubit(const ast::NodePtr& node, const std::string& name, std::int64_t index) {
  auto qubit = as<HwQubit>(node);
  ASSERT_NE(qubit, nullptr) << ast::repr(node);
  EXPECT_EQ(qubit->name, name);
  EXPECT_EQ(qubit->index, index);
  EXPECT_FALSE(qubit->span.has_value());
}

TEST(HwQubitResolver, HardwareQubitNamesBecomeNodesWhereverTheWalkGoes) {
  auto padded = id("$007");
  padded->span = ast::Span{1, 0, 1, 4};
  auto cx = gate("cx", {id("$0"), id("$12")});
  auto measure = ast::make<ast::QuantumMeasurementStatement>(ast::make<ast::QuantumMeasurement>(padded), id("c"));
  auto barrier = ast::make<ast::QuantumBarrier>(std::vector<ast::NodePtr>{id("$3")});
  resolve(program({cx, measure, barrier}));

  expect_hw_qubit(cx->qubits[0], "$0", 0);
  expect_hw_qubit(cx->qubits[1], "$12", 12);
  expect_hw_qubit(as<ast::QuantumMeasurement>(measure->measure)->qubit, "$7", 7);
  expect_hw_qubit(barrier->qubits[0], "$3", 3);
  EXPECT_EQ(as<ast::Identifier>(measure->target)->class_name(), "Identifier");
}

TEST(HwQubitResolver, OnlyDollarAndAsciiDigitsIsAHardwareQubit) {
  std::vector<std::string> names = {"q", "$", "$a", "$1a", "a$1", "$1_000", "$-1", "$+1", "$1 ", " $1", "$1\n",
                                    "$\xd9\xa1",  // ARABIC-INDIC DIGIT ONE
                                    "$99999999999999999999999x"};
  std::vector<ast::NodePtr> operands;
  for (auto& name : names) operands.push_back(id(name));
  auto g = gate("h", operands);
  resolve(program({g}));
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(g->qubits[i], operands[i]) << names[i];
    EXPECT_EQ(g->qubits[i]->class_name(), "Identifier");
  }
}

TEST(HwQubitResolver, IndexBeyondInt64IsAnErrorNotAWrapAround) {
  auto largest = gate("h", {id("$9223372036854775807")});
  resolve(program({largest}));
  expect_hw_qubit(largest->qubits[0], "$9223372036854775807", INT64_MAX);

  for (std::string name : {"$9223372036854775808", "$18446744073709551617", "$000099999999999999999999"}) {
    try {
      resolve(program({gate("h", {id(name)})}));
      ADD_FAILURE() << name;
    } catch (const OverflowError& e) {
      EXPECT_EQ(std::string(e.what()), "The hardware qubit " + name + " has an index too large to represent");
    }
  }
}

TEST(HwQubitResolver, ALoneHardwareQubitDeepInTheTreeIsStillFound) {
  // The tree is rewritten only once a walk has met a hardware-qubit name: one name, alone in the
  // tree and deep inside it, decides.
  auto negated_sum = [](ast::ExprPtr operand) {
    return ast::make<ast::BinaryExpression>(ast::BinaryOperator::plus, lit(1),
                                            ast::make<ast::UnaryExpression>(ast::UnaryOperator::negate, operand));
  };
  auto in_argument = [&](ast::ExprPtr q) -> ast::StmtPtr {
    auto g = gate("rx", {id("r")});
    g->arguments.push_back(negated_sum(negated_sum(q)));
    return g;
  };
  auto in_set_index = [](ast::ExprPtr q) -> ast::StmtPtr {
    auto set = ast::make<ast::DiscreteSet>(std::vector<ast::ExprPtr>{q});
    return gate("h", {ast::make<ast::IndexedIdentifier>(id("r"), std::vector<ast::IndexElement>{set})});
  };
  auto in_case_label = [](ast::ExprPtr q) -> ast::StmtPtr {
    return ast::make<ast::SwitchStatement>(id("i"), std::vector<ast::SwitchCase>{{{q}, block({})}}, nullptr);
  };
  for (const auto& place :
       std::vector<std::function<ast::StmtPtr(ast::ExprPtr)>>{in_argument, in_set_index, in_case_label}) {
    auto hardware = id("$6");
    auto root = program({gate_on("h", {"r"}), place(hardware), gate_on("x", {"r"})});
    resolve(root);
    EXPECT_EQ(hardware.use_count(), 1) << "the identifier is replaced";
  }
}

TEST(HwQubitResolver, SwitchCasesAreWalkedLabelsAndBlocks) {
  // switch ($9) { case $5 { h $1; switch (i) { case 0 { h $2; } } } default { h $4; } }
  auto in_case = gate_on("h", {"$1"});
  auto in_nested = gate_on("h", {"$2"});
  auto nested = ast::make<ast::SwitchStatement>(
      id("i"), std::vector<ast::SwitchCase>{{{lit(0)}, block({in_nested})}}, nullptr);
  auto in_default = gate_on("h", {"$4"});
  auto case_block = block({in_case, nested});
  auto switch_ = ast::make<ast::SwitchStatement>(
      id("$9"), std::vector<ast::SwitchCase>{{{id("$5")}, case_block}}, block({in_default}));
  resolve(program({switch_}));

  expect_hw_qubit(switch_->target, "$9", 9);
  expect_hw_qubit(switch_->cases[0].values[0], "$5", 5);
  expect_hw_qubit(in_case->qubits[0], "$1", 1);
  expect_hw_qubit(in_nested->qubits[0], "$2", 2);
  expect_hw_qubit(in_default->qubits[0], "$4", 4);
  EXPECT_EQ(switch_->cases[0].block, case_block);
  EXPECT_EQ(switch_->cases[0].block->statements, (std::vector<ast::StmtPtr>{in_case, nested}));
}

TEST(HwQubitResolver, ExistingHardwareQubitsStayAndASecondRunChangesNothing) {
  auto existing = configurations::create_hw_qubit(3);
  auto g = gate("cx", {existing, id("$4")});
  auto root = resolve(program({g}));
  EXPECT_EQ(g->qubits[0], existing);
  auto resolved = g->qubits[1];
  auto after_first = ast::deep_copy(root);
  resolve(root);
  EXPECT_TRUE(ast::equal(root, after_first));
  EXPECT_EQ(g->qubits[1], resolved);
}

TEST(HwQubitResolver, RefusesOtherProgramFormsAndIsNamed) {
  HwQubitResolver step;
  EXPECT_EQ(step.name, "HwQubitResolver");
  EXPECT_EQ(HwQubitResolver("hw").name, "hw");
  EXPECT_THROW(step(std::make_shared<programs::TextualProgram>("h $0;")), AssertionError);
  EXPECT_THROW(step(nullptr), AssertionError);
}

}  // namespace
}  // namespace vell_qasm::passes::parsing
