#include "vell_qasm/passes/parsing/ast_tidy.hpp"

#include <gtest/gtest.h>

#include "../front_tree_builders.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/logging.hpp"

namespace vell_qasm::passes::parsing {
namespace {

using namespace vell_qasm::testing;
using programs::OpenQasmProgram;

const std::string kLogger = "vell_qasm.passes.parsing.ast_tidy";

std::shared_ptr<OpenQasmProgram> wrap(const ast::Ptr<ast::Program>& root) {
  return std::make_shared<OpenQasmProgram>(root);
}

ast::Ptr<ast::Program> tidy(const ast::Ptr<ast::Program>& root) {
  auto given = wrap(root);
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(AstTidy()(given));
  EXPECT_NE(result, nullptr);
  EXPECT_NE(result, given);
  EXPECT_EQ(result->ast(), root);
  return result->ast();
}

std::vector<std::string> texts(const std::vector<logging::Record>& records) {
  std::vector<std::string> out;
  for (auto& r : records) {
    EXPECT_EQ(r.level, spdlog::level::debug);
    out.push_back(r.text);
  }
  return out;
}

TEST(AstTidy, ProgramWithInputsOrOutputsKeepsItsTree) {
  auto x = int_decl("x", lit(5));
  auto root = program({io_decl(ast::IOKeyword::input, "a"), x, io_decl(ast::IOKeyword::output, "b")}, "3.0");
  auto before = ast::deep_copy(root);
  logging::Capture capture;
  tidy(root);
  EXPECT_TRUE(ast::equal(root, before));
  EXPECT_EQ(root->statements[1], x);
  EXPECT_EQ(texts(capture.records(kLogger)), (std::vector<std::string>{"Encountered existing (2) I/O variables."}));
}

TEST(AstTidy, AnInputOrOutputAnywhereTheCountReachesKeepsTheTree) {
  // The search for a declaration ends at the first one, from any depth; every place it may
  // stand in, behind declarations that would otherwise be split, leaves the whole tree alone.
  auto in_index = [](ast::NodePtr item) {
    return ast::make<ast::QuantumReset>(ast::make<ast::IndexedIdentifier>(
        id("q"), std::vector<ast::IndexElement>{ast::IndexList{lit(0)}, ast::IndexList{std::move(item)}}));
  };
  auto in_switch = [](std::vector<ast::ExprPtr> labels, std::vector<ast::StmtPtr> body) {
    return ast::make<ast::SwitchStatement>(id("i"), std::vector<ast::SwitchCase>{{std::move(labels), block(body)}},
                                           nullptr);
  };
  auto input = [] { return io_decl(ast::IOKeyword::input, "a"); };
  auto while_loop = [](std::vector<ast::StmtPtr> body) {
    return ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true), std::move(body));
  };
  const std::vector<std::pair<std::string, ast::StmtPtr>> places = {
      {"top level", input()},
      {"loop body in a loop body", while_loop({int_decl("w", lit(1)), while_loop({input()})})},
      {"switch case block", in_switch({lit(0)}, {int_decl("k", lit(2)), input()})},
      {"inner index list", in_index(input())},
      {"inner index list of a switch case", in_switch({lit(1)}, {in_index(input())})},
  };
  for (const auto& [place, statement] : places) {
    auto declaration = int_decl("x", lit(5));
    auto root = program({declaration, int_decl("y", lit(6)), statement, int_decl("z", lit(7))});
    auto before = ast::deep_copy(root);
    tidy(root);
    EXPECT_TRUE(ast::equal(root, before)) << place;
    EXPECT_EQ(root->statements[0], declaration) << place;
  }
}

TEST(AstTidy, WithoutInputsAndOutputsDeclarationsBecomeOutputsWithTheirValuesSplitOff) {
  auto x = int_decl("x", lit(5));
  auto b = bit_measured("b", "q");
  auto bare = int_decl("y");
  auto constant = const_decl("c", 2);
  auto in_loop = int_decl("l", lit(1));
  auto in_case = int_decl("k", lit(1));
  auto in_default = int_decl("d", lit(1));
  auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(false), std::vector<ast::StmtPtr>{in_loop});
  auto switch_ = ast::make<ast::SwitchStatement>(
      id("i"), std::vector<ast::SwitchCase>{{{lit(0)}, block({in_case})}}, block({in_default}));
  auto root = program({x, b, bare, constant, loop, switch_});

  logging::Capture capture;
  tidy(root);

  auto& s = root->statements;
  ASSERT_EQ(class_names(s),
            (std::vector<std::string>{"IODeclaration", "ClassicalAssignment", "IODeclaration",
                                      "QuantumMeasurementStatement", "IODeclaration", "ConstantDeclaration",
                                      "WhileLoop", "SwitchStatement"}));
  auto out_x = as<ast::IODeclaration>(s[0]);
  EXPECT_EQ(out_x->io_identifier, ast::IOKeyword::output);
  EXPECT_EQ(out_x->type, x->type);
  EXPECT_EQ(out_x->identifier, x->identifier);
  EXPECT_EQ(as<ast::ClassicalAssignment>(s[1])->rvalue, x->init_expression);
  EXPECT_EQ(as<ast::QuantumMeasurementStatement>(s[3])->measure, b->init_expression);
  EXPECT_EQ(as<ast::IODeclaration>(s[4])->identifier, bare->identifier);
  EXPECT_EQ(s[5], constant);

  EXPECT_EQ(class_names(loop->block), (std::vector<std::string>{"IODeclaration", "ClassicalAssignment"}));
  EXPECT_EQ(class_names(switch_->default_->statements),
            (std::vector<std::string>{"IODeclaration", "ClassicalAssignment"}));
  EXPECT_EQ(switch_->cases[0].block->statements, (std::vector<ast::StmtPtr>{in_case}));
  EXPECT_NE(in_case->init_expression, nullptr);

  EXPECT_EQ(texts(capture.records(kLogger)),
            (std::vector<std::string>{"No pre existing I/O variables, modified all variables."}));
}

TEST(AstTidy, AFailingDeclarationLeavesTheListAsTheGenericWalkDoes) {
  // The rewrite enters only the statements that hold a declaration; a failure among them keeps
  // what was rewritten before it and leaves the rest of the list, in order, as it stands.
  auto before_gate = gate_on("h", {"q"});
  auto nested = int_decl("n", lit(1));
  auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true), std::vector<ast::StmtPtr>{nested});
  auto odd = int_decl("s", ast::make<ast::DiscreteSet>(std::vector<ast::ExprPtr>{lit(1)}));
  odd->span = ast::Span{4, 2, 4, 20};
  auto after = int_decl("z", lit(3));
  auto root = program({int_decl("a", lit(2)), before_gate, loop, odd, gate_on("x", {"q"}), after});
  try {
    AstTidy()(wrap(root));
    FAIL() << "no error";
  } catch (const NotImplementedError& e) {
    EXPECT_STREQ(e.what(), "Unsupported init type - <class 'openqasm3.ast.DiscreteSet'>");
    ASSERT_TRUE(e.location().has_value());
    EXPECT_EQ(e.location()->line, 4);
  }
  EXPECT_EQ(class_names(root->statements),
            (std::vector<std::string>{"IODeclaration", "ClassicalAssignment", "QuantumGate", "WhileLoop",
                                      "ClassicalDeclaration", "QuantumGate", "ClassicalDeclaration"}));
  EXPECT_EQ(root->statements[2], before_gate);
  EXPECT_EQ(class_names(loop->block), (std::vector<std::string>{"IODeclaration", "ClassicalAssignment"}));
  EXPECT_EQ(root->statements[4], odd);
  EXPECT_EQ(root->statements[6], after);
  EXPECT_NE(after->init_expression, nullptr);
}

TEST(AstTidy, ATransformerDerivedFromTheRewriteStillWalksEveryStatement) {
  // The rewrite itself enters only the statements holding a declaration; a derived class, which
  // may handle other nodes, gets the whole generic walk.
  struct CountingGates : IOVariablesTransformer {
    int gates = 0;
    ast::Rewrite visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) override {
      ++gates;
      return node;
    }
  };
  auto loop = ast::make<ast::WhileLoop>(ast::make<ast::BooleanLiteral>(true),
                                        std::vector<ast::StmtPtr>{gate_on("h", {"q"})});
  auto root = program({gate_on("x", {"q"}), int_decl("a", lit(1)), loop});
  CountingGates counting;
  counting.visit(root);
  EXPECT_EQ(counting.gates, 2);
  EXPECT_EQ(class_names(root->statements),
            (std::vector<std::string>{"QuantumGate", "IODeclaration", "ClassicalAssignment", "WhileLoop"}));
}

TEST(AstTidy, EmptyProgramIsRecordedAndGetsNoVersion) {
  auto root = program({});
  logging::Capture capture;
  tidy(root);
  EXPECT_FALSE(root->version.has_value());
  EXPECT_EQ(texts(capture.records(kLogger)),
            (std::vector<std::string>{"No pre existing I/O variables, modified all variables."}));
}

TEST(AstTidy, VersionsLowerThanThreePointZeroAreRaisedByTupleComparison) {
  EXPECT_EQ(AstTidy::target_version_str, "3.0");
  const std::vector<std::pair<std::string, std::string>> table = {
      {"2", "3.0"},     {"2.0", "3.0"},   {"2.10", "3.0"}, {"3", "3.0"},
      {"3.0", "3.0"},   {"03.00", "03.00"}, {"3.1", "3.1"}, {"4", "4"},
      {"3.0.0", "3.0.0"}, {"0.9.9", "3.0"},
      // Pieces beyond any integer type still compare as the numbers they write.
      {"2.99999999999999999999999", "3.0"}, {"3.00000000000000000000001", "3.00000000000000000000001"},
      {"100000000000000000000000", "100000000000000000000000"}};
  for (const auto& [given, expected] : table) {
    auto root = program({}, given);
    tidy(root);
    EXPECT_EQ(root->version, expected) << "version " << given;
  }
}

TEST(AstTidy, GateParametersOfAProgramBelowVersionThreeAreReal) {
  const std::string body =
      "qreg q[2];\ncreg c[2];\ngate g(t) a { U(t / 2, 0, -t) a; }\nrz(-3 / 10) q[1];\ng(1) q[0];\n"
      "if (c == 1) rz(angles[1] ** 2) q[0];\n";
  auto tidied = [&](const std::string& header) {
    auto root = openqasm3::parse(header + body);
    tidy(root);
    return openqasm3::dumps(*root);
  };
  const std::string v2 = tidied("OPENQASM 2.0;\n");
  // Literals of gate arguments become real, in calls and in definitions; indices, sizes and the
  // comparison stay integers.
  for (const char* part : {"rz(-3.0 / 10.0) q[1];", "g(1.0) q[0];", "U(t / 2.0, 0.0, -t) a;", "qubit[2] q;",
                           "c == 1", "rz(angles[1] ** 2.0) q[0];"})
    EXPECT_NE(v2.find(part), std::string::npos) << part << "\n" << v2;
  // Version 3 (raised to 3.0 or not) has integers: nothing changes but the version.
  EXPECT_EQ(tidied("OPENQASM 3;\n"), tidied("OPENQASM 3.0;\n"));
  EXPECT_NE(tidied("OPENQASM 3.0;\n").find("rz(-3 / 10) q[1];"), std::string::npos);
}

TEST(AstTidy, NonNumericVersionPieceIsAValueErrorAfterTheRewrite) {
  for (std::string version : {"3.", "", "3.x", ".3", "3..0", "3.-1", "3.0 "}) {
    auto root = program({int_decl("x", lit(1))}, version);
    EXPECT_THROW(AstTidy()(wrap(root)), ValueError) << "version '" << version << "'";
    EXPECT_EQ(root->version, version);
    EXPECT_EQ(root->statements[0]->class_name(), "IODeclaration");
  }
  try {
    AstTidy()(wrap(program({}, "2.x")));
  } catch (const ValueError& e) {
    EXPECT_STREQ(e.what(), "The version 2.x is not made of decimal integers: 'x' is not one");
  }
}

TEST(AstTidy, RefusesOtherProgramFormsAndIsNamed) {
  AstTidy step;
  EXPECT_EQ(step.name, "AstTidy");
  EXPECT_EQ(AstTidy("tidy").name, "tidy");
  EXPECT_THROW(step(std::make_shared<programs::TextualProgram>("OPENQASM 3;")), AssertionError);
  EXPECT_THROW(step(nullptr), AssertionError);
  EXPECT_THROW(step(std::make_shared<OpenQasmProgram>(nullptr)), AssertionError);
}

}  // namespace
}  // namespace vell_qasm::passes::parsing
