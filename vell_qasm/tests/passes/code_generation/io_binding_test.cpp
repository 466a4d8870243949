#include "vell_qasm/passes/code_generation/io_binding.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../front_tree_builders.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

using namespace vell_qasm::testing;
using programs::OpenQasmProgram;
using tavo_var::DType;
using tavo_var::TavoArr;

ast::Ptr<ast::Program> resolve(const ast::Ptr<ast::Program>& root) {
  DeclarationResolvingStep step;
  return run_step(step, root);
}

ast::Ptr<TavoDeclaration> decl_at(const std::vector<ast::StmtPtr>& statements, std::size_t i) {
  auto d = std::dynamic_pointer_cast<TavoDeclaration>(statements.at(i));
  EXPECT_NE(d, nullptr) << ast::repr(statements.at(i));
  return d;
}
ast::Ptr<TavoDeclaration> decl_at(const std::vector<ast::NodePtr>& statements, std::size_t i) {
  return decl_at(std::vector<ast::StmtPtr>{ast::dyn_cast<ast::Statement>(statements.at(i))}, 0);
}

// ---- the node ----

TEST(TavoDeclarationNode, HoldsFlagsAndAFreshWrapper) {
  TavoDeclaration plain("x", ast::make<ast::IntType>(nullptr));
  EXPECT_FALSE(plain.is_input);
  EXPECT_FALSE(plain.is_output);
  EXPECT_EQ(plain.var->name(), "x");
  EXPECT_EQ(plain.var->dtype, DType::Int);
  EXPECT_FALSE(plain.span.has_value());
  EXPECT_TRUE(plain.annotations.empty());

  TavoDeclaration both("c", ast::make<ast::BitType>(lit(2)), true, true);
  EXPECT_TRUE(both.is_input);
  EXPECT_TRUE(both.is_output);
  ASSERT_NE(std::dynamic_pointer_cast<TavoArr>(both.var), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<TavoArr>(both.var)->size, 2);

  // A refused type leaves the constructor: no node.
  EXPECT_THROW(TavoDeclaration("t", ast::make<ast::AngleType>(nullptr)), UnsupportedTypeException);
}

TEST(TavoDeclarationNode, IsItsOwnClassForDispatchAndHasNoChildNode) {
  auto node = ast::make<TavoDeclaration>("x", ast::make<ast::IntType>(nullptr), true);
  EXPECT_EQ(node->class_name(), "TavoDeclaration");
  EXPECT_EQ(node->node_class().text(), "<class 'vell_qasm.passes.code_generation.io_binding.TavoDeclaration'>");
  EXPECT_EQ(node->library_kind(), ast::NodeKind::Statement);

  struct Seen : ast::QASMVisitor, TavoDeclarationVisit {
    int declarations = 0;
    int statements = 0;
    int others = 0;
    void visit_TavoDeclaration(TavoDeclaration&) override { ++declarations; }
    void visit_Statement(ast::Statement&) override { ++statements; }
    void generic_visit(ast::QASMNode& n) override {
      ++others;
      ast::QASMVisitor::generic_visit(n);
    }
  };
  Seen seen;
  auto root = program({node, node});
  seen.visit(*root);
  EXPECT_EQ(seen.declarations, 2);
  EXPECT_EQ(seen.statements, 0);  // never its base's handler
  EXPECT_EQ(seen.others, 1);      // the root only

  // Without the mixin the generic walk finds nothing below it.
  struct Counter : ast::QASMVisitor {
    int nodes = 0;
    void generic_visit(ast::QASMNode& n) override {
      ++nodes;
      ast::QASMVisitor::generic_visit(n);
    }
  };
  Counter counter;
  counter.visit(*root);
  EXPECT_EQ(counter.nodes, 3);

  // A transformer that mixes in the handler can replace it.
  struct Dropper : ast::QASMTransformer, TavoDeclarationTransform {
    ast::Rewrite visit_TavoDeclaration(const ast::Ptr<TavoDeclaration>&) override { return nullptr; }
  };
  Dropper dropper;
  dropper.visit(root);
  EXPECT_TRUE(root->statements.empty());
}

TEST(TavoDeclarationNode, ComparesAndPrintsItsFields) {
  auto type = ast::make<ast::IntType>(nullptr);
  auto a = ast::make<TavoDeclaration>("x", type, true);
  EXPECT_TRUE(ast::equal(*a, *a));
  // Each node has its own wrapper, and wrappers compare by identity.
  EXPECT_FALSE(ast::equal(*a, *ast::make<TavoDeclaration>("x", type, true)));
  EXPECT_FALSE(ast::equal(*a, *int_decl("x")));
  EXPECT_EQ(ast::repr(*a),
            "TavoDeclaration(span=None, annotations=[], is_input=True, is_output=False, var=TavoVar(name='x', "
            "dtype=int))");
  auto c = ast::make<TavoDeclaration>("c", ast::make<ast::BitType>(lit(2)), false, true);
  EXPECT_EQ(ast::repr(*c),
            "TavoDeclaration(span=None, annotations=[], is_input=False, is_output=True, var=TavoArr(name='c', "
            "dtype=bool, size=2))");
  c->var = nullptr;
  EXPECT_EQ(ast::repr(*c), "TavoDeclaration(span=None, annotations=[], is_input=False, is_output=True, var=None)");
  EXPECT_EQ(c->text(), "declare None;");

  // A copy is a new node, equal to the original, sharing the wrapper.
  auto copy = ast::deep_copy(a);
  EXPECT_NE(copy, a);
  EXPECT_EQ(copy->var, a->var);
  EXPECT_TRUE(ast::equal(*copy, *a));
  EXPECT_EQ(ast::deep_copy_unshared(a)->var, a->var);

  // Printed as one line in its place.
  auto theta = ast::make<TavoDeclaration>("theta", ast::make<ast::FloatType>(nullptr), true);
  auto both = ast::make<TavoDeclaration>("io", ast::make<ast::BoolType>(), true, true);
  auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true),
                                        std::vector<ast::StmtPtr>{ast::make<TavoDeclaration>("f", type)});
  EXPECT_EQ(openqasm3::dumps(*program({a, theta, both, loop})),
            "declare x: int (input);\n"
            "declare theta: fixed (input);\n"
            "declare io: bool (input, output);\n"
            "while (true) {\n"
            "  declare f: int;\n"
            "}\n");
}

// ---- the resolver ----

TEST(DeclarationResolving, InputOutputAndClassicalDeclarationsBecomeTavoDeclarations) {
  auto root = openqasm3::parse(
      "input float[64] theta;\n"
      "output bit[2] c;\n"
      "int x;\n"
      "const int k = 3;\n"
      "qubit[2] q;\n"
      "x = k;\n");
  resolve(root);
  ASSERT_EQ(root->statements.size(), 6U);
  auto theta = decl_at(root->statements, 0);
  EXPECT_TRUE(theta->is_input);
  EXPECT_FALSE(theta->is_output);
  EXPECT_EQ(theta->var->name(), "theta");
  EXPECT_EQ(theta->var->dtype, vell::tavo::fixed);
  EXPECT_EQ(std::dynamic_pointer_cast<TavoArr>(theta->var), nullptr);

  auto c = decl_at(root->statements, 1);
  EXPECT_FALSE(c->is_input);
  EXPECT_TRUE(c->is_output);
  ASSERT_NE(std::dynamic_pointer_cast<TavoArr>(c->var), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<TavoArr>(c->var)->size, 2);
  EXPECT_EQ(c->var->dtype, DType::Bool);

  auto x = decl_at(root->statements, 2);
  EXPECT_FALSE(x->is_input || x->is_output);
  EXPECT_EQ(x->var->name(), "x");
  EXPECT_EQ(class_names(root->statements),
            (std::vector<std::string>{"TavoDeclaration", "TavoDeclaration", "TavoDeclaration", "ConstantDeclaration",
                                      "QubitDeclaration", "ClassicalAssignment"}));

  // A second run has nothing left to replace.
  std::vector<ast::NodePtr> before = root->statements;
  resolve(root);
  EXPECT_EQ(root->statements, before);
}

TEST(DeclarationResolving, NestedBlocksAndSwitchCasesAreReplacedInPlace) {
  auto root = openqasm3::parse(
      "int n;\n"
      "for int i in [0:2] { int a; if (true) { bool f; } else { float g; } }\n"
      "while (false) { bit[3] w; }\n"
      "switch (n) { case 0, 1 { int s; } case 2 { array[int, 2] t; } default { uint d; } }\n"
      "box { bool inbox; }\n");
  resolve(root);
  auto loop = as<ast::ForInLoop>(root->statements[1]);
  EXPECT_EQ(decl_at(loop->block, 0)->var->name(), "a");
  auto branch = as<ast::BranchingStatement>(loop->block[1]);
  EXPECT_EQ(decl_at(branch->if_block, 0)->var->name(), "f");
  EXPECT_EQ(decl_at(branch->else_block, 0)->var->name(), "g");
  EXPECT_EQ(decl_at(as<ast::WhileLoop>(root->statements[2])->block, 0)->var->name(), "w");
  auto sw = as<ast::SwitchStatement>(root->statements[3]);
  EXPECT_EQ(decl_at(sw->cases[0].block->statements, 0)->var->name(), "s");
  EXPECT_EQ(decl_at(sw->cases[1].block->statements, 0)->var->name(), "t");
  EXPECT_EQ(sw->cases[0].values.size(), 2U);
  EXPECT_EQ(decl_at(sw->default_->statements, 0)->var->name(), "d");
  EXPECT_EQ(decl_at(as<ast::Box>(root->statements[4])->body, 0)->var->name(), "inbox");
  // The loop's own variable is no declaration statement: code generation makes its node.
  EXPECT_EQ(loop->identifier->name, "i");
}

TEST(DeclarationResolving, Refusals) {
  // An initial value left on a declaration would be lost.
  try {
    resolve(program({int_decl("x", lit(3))}));
    ADD_FAILURE();
  } catch (const AssertionError& e) {
    EXPECT_STREQ(e.what(), "In this step, the we should receive no init expression.");
  }
  // In a switch case too.
  auto in_case = openqasm3::parse("int n; switch (n) { case 0 { int x = 1; } }");
  EXPECT_THROW(resolve(in_case), AssertionError);

  // The first refused type in tree order leaves the step; what was resolved before it stays so.
  auto root = openqasm3::parse("if (true) { int a; } int b; angle[8] t; complex[float[64]] z;");
  EXPECT_THROW(resolve(root), UnsupportedTypeException);
  EXPECT_EQ(class_names(as<ast::BranchingStatement>(root->statements[0])->if_block),
            (std::vector<std::string>{"TavoDeclaration"}));
  EXPECT_EQ(class_names(root->statements), (std::vector<std::string>{"BranchingStatement", "TavoDeclaration",
                                                                      "ClassicalDeclaration", "ClassicalDeclaration"}));
  EXPECT_THROW(resolve(openqasm3::parse("output array[int, 2, 2] m;")), UnsupportedDeclarationException);
  EXPECT_THROW(resolve(openqasm3::parse("input bit[n] c;")), InvalidArraySizeException);

  // An array literal longer than the array it is assigned to, which only a split declaration
  // assigns; other targets, shorter literals and other values pass.
  struct Assigned {
    const char* declared;  // a declaration of the target, or nothing
    const char* target;
    std::size_t values;
    bool refused;
  };
  for (const Assigned& c : std::vector<Assigned>{{"array[int, 2] a;", "a", 3, true},
                                                 {"array[int, 2] a;", "a", 2, false},
                                                 {"bit[1] a;", "a", 2, true},
                                                 {"array[int, 2] a;", "b", 3, false},
                                                 {"int a;", "a", 3, false},
                                                 {"", "a", 3, false}}) {
    SCOPED_TRACE(std::string(c.declared) + " " + c.target + " = " + std::to_string(c.values) + " values");
    auto tree = openqasm3::parse(c.declared);
    std::vector<ast::ExprPtr> values;
    for (std::size_t i = 0; i < c.values; ++i) values.push_back(lit(static_cast<std::int64_t>(i)));
    tree->statements.push_back(ast::make<ast::ClassicalAssignment>(id(c.target), ast::AssignmentOperator::assign,
                                                                   ast::make<ast::ArrayLiteral>(values)));
    if (c.refused) {
      EXPECT_THROW(resolve(tree), ArrayInitializerException);
    } else {
      EXPECT_NO_THROW(resolve(tree));
    }
  }
  // Not an array literal: nothing to count.
  auto scalar = openqasm3::parse("array[int, 2] a;");
  scalar->statements.push_back(ast::make<ast::ClassicalAssignment>(id("a"), ast::AssignmentOperator::assign, lit(1)));
  EXPECT_NO_THROW(resolve(scalar));

  // A keyword that is neither input nor output (only a hand-made node has one).
  auto odd = ast::make<ast::IODeclaration>(static_cast<ast::IOKeyword>(3), ast::make<ast::IntType>(nullptr), id("y"));
  try {
    resolve(program({odd}));
    ADD_FAILURE();
  } catch (const UnsupportedTypeError& e) {
    EXPECT_STREQ(e.what(), "Unknown IO identifier - IOKeyword.?");
    EXPECT_EQ(e.node, odd);
  }
  EXPECT_STREQ(UnsupportedTypeError(io_decl(ast::IOKeyword::output, "o")).what(),
               "Unknown IO identifier - IOKeyword.output");

  // Only an OpenQasmProgram.
  EXPECT_THROW(DeclarationResolvingStep()(std::make_shared<programs::TextualProgram>("int x;")), AssertionError);
  EXPECT_EQ(DeclarationResolvingStep().name, "DeclarationResolvingStep");
  EXPECT_EQ(DeclarationResolvingStep("mine").name, "mine");
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
