#include "vell_qasm/passes/init_splitting.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "front_tree_builders.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {
namespace {

using namespace vell_qasm::testing;

TEST(InitSplitting, SplitsInPlaceKeepingTheVeryNodes) {
  auto with_value = int_decl("x", lit(5));
  auto measured = bit_measured("b", "q");
  auto bare = int_decl("y");
  auto second = int_decl("z", lit(7));
  auto constant = const_decl("c", 1);
  auto output = io_decl(ast::IOKeyword::output, "o");
  auto root = program({with_value, measured, bare, second, constant, output});

  ClassicalDeclarationInitSplitting splitter;
  ast::Rewrite result = splitter.visit(root);
  ASSERT_TRUE(result.is_node());
  EXPECT_EQ(result.node(), root);

  auto& s = root->statements;
  ASSERT_EQ(class_names(s), (std::vector<std::string>{"ClassicalDeclaration", "ClassicalAssignment",
                                                       "ClassicalDeclaration", "QuantumMeasurementStatement",
                                                       "ClassicalDeclaration", "ClassicalDeclaration",
                                                       "ClassicalAssignment", "ConstantDeclaration", "IODeclaration"}));

  // int x = 5;  ->  int x;  x = 5;
  auto x = as<ast::ClassicalDeclaration>(s[0]);
  EXPECT_NE(x, with_value);
  EXPECT_EQ(x->type, with_value->type);
  EXPECT_EQ(x->identifier, with_value->identifier);
  EXPECT_EQ(x->init_expression, nullptr);
  auto assign = as<ast::ClassicalAssignment>(s[1]);
  EXPECT_EQ(assign->lvalue, with_value->identifier);
  EXPECT_EQ(assign->op, ast::AssignmentOperator::assign);
  EXPECT_EQ(assign->rvalue, with_value->init_expression);

  // bit b = measure q;  ->  bit b;  b = measure q;
  auto b = as<ast::ClassicalDeclaration>(s[2]);
  EXPECT_EQ(b->identifier, measured->identifier);
  EXPECT_EQ(b->init_expression, nullptr);
  auto measurement = as<ast::QuantumMeasurementStatement>(s[3]);
  EXPECT_EQ(measurement->target, measured->identifier);
  EXPECT_EQ(measurement->measure, measured->init_expression);

  // A bare declaration is still replaced, by a fresh node of the same type and identifier.
  auto y = as<ast::ClassicalDeclaration>(s[4]);
  EXPECT_NE(y, bare);
  EXPECT_EQ(y->type, bare->type);
  EXPECT_EQ(y->identifier, bare->identifier);

  EXPECT_EQ(s[7], constant);
  EXPECT_NE(constant->init_expression, nullptr);
  EXPECT_EQ(s[8], output);
}

TEST(InitSplitting, NestedBlocksAreSplitButSwitchCaseBlocksAreNot) {
  auto in_if = int_decl("a", lit(1));
  auto in_loop = int_decl("b", lit(2));
  auto in_case = int_decl("c", lit(3));
  auto in_default = int_decl("d", lit(4));
  auto branch = ast::make<ast::BranchingStatement>(ast::make<ast::BooleanLiteral>(true),
                                                   std::vector<ast::StmtPtr>{in_if}, std::vector<ast::StmtPtr>{});
  auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(false), std::vector<ast::StmtPtr>{in_loop});
  auto case_block = block({in_case});
  auto default_block = block({in_default});
  auto switch_ = ast::make<ast::SwitchStatement>(
      id("i"), std::vector<ast::SwitchCase>{{{lit(0)}, case_block}}, default_block);
  auto root = program({branch, loop, switch_});

  ClassicalDeclarationInitSplitting().visit(root);

  EXPECT_EQ(class_names(branch->if_block), (std::vector<std::string>{"ClassicalDeclaration", "ClassicalAssignment"}));
  EXPECT_EQ(class_names(loop->block), (std::vector<std::string>{"ClassicalDeclaration", "ClassicalAssignment"}));
  EXPECT_EQ(class_names(default_block->statements),
            (std::vector<std::string>{"ClassicalDeclaration", "ClassicalAssignment"}));
  ASSERT_EQ(switch_->cases[0].block->statements.size(), 1u);
  EXPECT_EQ(switch_->cases[0].block->statements[0], in_case);
  EXPECT_NE(in_case->init_expression, nullptr);
}

TEST(InitSplitting, UnsupportedInitialValueFailsAndEarlierRewritesStay) {
  auto nested = int_decl("x", lit(5));
  auto branch = ast::make<ast::BranchingStatement>(ast::make<ast::BooleanLiteral>(true),
                                                   std::vector<ast::StmtPtr>{nested}, std::vector<ast::StmtPtr>{});
  auto odd = int_decl("s", ast::make<ast::DiscreteSet>(std::vector<ast::ExprPtr>{lit(1)}));
  auto root = program({branch, odd});
  try {
    ClassicalDeclarationInitSplitting().visit(root);
    FAIL() << "no error";
  } catch (const NotImplementedError& e) {
    EXPECT_STREQ(e.what(), "Unsupported init type - <class 'openqasm3.ast.DiscreteSet'>");
  }
  // The branch was done before the failure and keeps its split declaration; nothing is put back.
  EXPECT_EQ(class_names(branch->if_block), (std::vector<std::string>{"ClassicalDeclaration", "ClassicalAssignment"}));
  EXPECT_EQ(root->statements[1], odd);
}

// A program's own declarations split by rewrite_statements, without the walk: the list ends as
// the generic walk leaves it, failures included.
class DirectSplitting : public DeclarationInitSplitting<DirectSplitting> {
 public:
  ast::Rewrite visit_Program(const ast::Ptr<ast::Program>& node) override {
    rewrite_statements(node->statements, nullptr);
    return node;
  }
};

TEST(InitSplitting, TheProgramListIsSplitAsTheWalkSplitsIt) {
  auto odd = [] {
    auto declaration = int_decl("s", ast::make<ast::DiscreteSet>(std::vector<ast::ExprPtr>{lit(1)}));
    declaration->span = ast::Span{3, 1, 3, 9};
    return declaration;
  };
  auto loop = [] {
    return ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true), std::vector<ast::StmtPtr>{int_decl("w", lit(2))});
  };
  const std::vector<std::function<std::vector<ast::NodePtr>()>> lists = {
      [] { return std::vector<ast::NodePtr>{}; },
      [&] { return std::vector<ast::NodePtr>{int_decl("x", lit(1)), nullptr, bit_measured("b", "q"), int_decl("y")}; },
      [&] { return std::vector<ast::NodePtr>{gate_on("h", {"q"}), loop(), const_decl("c", 1), int_decl("z", lit(3))}; },
      [&] { return std::vector<ast::NodePtr>{int_decl("x", lit(1)), loop(), odd(), int_decl("z", lit(3)), nullptr}; },
      [&] { return std::vector<ast::NodePtr>{odd()}; },
  };
  // The list's classes (null: "-") after a run, and the failure's line (0: none).
  auto run = [](auto&& splitter, std::vector<ast::NodePtr> statements) {
    auto root = ast::make<ast::Program>(std::move(statements));
    int line = 0;
    try {
      splitter.visit(root);
    } catch (const NotImplementedError& e) {
      line = e.location() ? e.location()->line : -1;
    }
    std::vector<std::string> names;
    for (const auto& statement : root->statements) names.emplace_back(statement ? statement->class_name() : std::string_view("-"));
    return std::make_pair(names, line);
  };
  for (std::size_t k = 0; k < lists.size(); ++k) {
    const auto direct = run(DirectSplitting(), lists[k]());
    EXPECT_EQ(direct, run(ClassicalDeclarationInitSplitting(), lists[k]())) << k;
    EXPECT_EQ(direct.second, k >= 3 ? 3 : 0) << k;
  }
}

}  // namespace
}  // namespace vell_qasm::passes
