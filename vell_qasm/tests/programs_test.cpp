#include "vell_qasm/programs.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <iterator>
#include <unordered_set>
#include <vector>

#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::programs {
namespace {

namespace tavo = vell::tavo;
namespace ast = openqasm3::ast;
using passes::utils::is_inside_scope;
using vell::tavo::Value;
using tavo_var::ScalarList;
using tavo_var::TavoArr;
using tavo_var::TavoVar;

std::shared_ptr<TavoVar> int_var(const std::string& name) { return std::make_shared<TavoVar>(name, tavo::DType::Int); }

// ---- program forms ----

TEST(ProgramForms, EachFormIsRecognisedThroughTheBase) {
  const ProgramPtr text = std::make_shared<TextualProgram>("");
  const ProgramPtr tree = std::make_shared<OpenQasmProgram>(ast::make<ast::Program>());
  const ProgramPtr tavo_program = std::make_shared<Tavo1Program>();
  EXPECT_EQ(std::dynamic_pointer_cast<TextualProgram>(text)->source_code(), "");
  EXPECT_EQ(std::dynamic_pointer_cast<OpenQasmProgram>(text), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<TextualProgram>(tree), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<OpenQasmProgram>(tree), nullptr);
  EXPECT_EQ(std::dynamic_pointer_cast<OpenQasmProgram>(tavo_program), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<Tavo1Program>(tavo_program), nullptr);
}

TEST(ProgramForms, OpenQasmProgramsAroundOneTreeShareIt) {
  auto root = ast::make<ast::Program>();
  OpenQasmProgram first(root);
  OpenQasmProgram second(root);
  EXPECT_EQ(first.ast(), root);
  first.ast()->statements.push_back(ast::make<ast::ExpressionStatement>(ast::make<ast::IntegerLiteral>(1)));
  ASSERT_EQ(second.ast()->statements.size(), 1u);
  EXPECT_EQ(second.ast()->statements[0], first.ast()->statements[0]);
}

// ---- variable table ----

TEST(VariablesDB, MissingNameRaisesWithTheKeysTextWhileLookupsWithDefaultsDoNot) {
  VariablesDB db;
  const VariableSignature x{"x"};
  EXPECT_EQ(x.text(), "VariableSignature(name='x')");
  EXPECT_FALSE(db.contains(x));
  EXPECT_EQ(db.get(x), nullptr);
  try {
    (void)db[x];
    ADD_FAILURE() << "a missing name was found";
  } catch (const UndeclaredVariableReferenceException& e) {
    EXPECT_EQ(e.name, "VariableSignature(name='x')");
    EXPECT_STREQ(e.what(), "The variable VariableSignature(name='x') does not exit.");
  }
}

TEST(VariablesDB, ReplacingAnEntryKeepsItsPlace) {
  VariablesDB db;
  auto first = int_var("a");
  auto second = int_var("a");
  db.insert_or_assign({"a"}, first);
  db.insert_or_assign({"b"}, int_var("b"));
  db.insert_or_assign({"a"}, second);
  EXPECT_EQ(db.size(), 2u);
  EXPECT_EQ(db[{"a"}], second);
  std::string order;
  for (const auto& [signature, var] : db) order += signature.name;
  EXPECT_EQ(order, "ab");
  EXPECT_THROW(db.insert_or_assign({"c"}, nullptr), AssertionError);
  // Signatures are values.
  std::unordered_set<VariableSignature> set{{"a"}, {"a"}, {"b"}};
  EXPECT_EQ(set.size(), 2u);
}

// The index grows as names arrive: every name stays found through the growths, under every way
// of asking, names that share a prefix or differ in length only are told apart, and replacing
// a name in a grown table still keeps its place.
TEST(VariablesDB, NamesStayFoundAcrossGrowthAndLookalikesStayApart) {
  VariablesDB db;
  std::vector<std::shared_ptr<TavoVar>> vars;
  for (int i = 0; i < 1000; ++i) {
    vars.push_back(int_var("v" + std::to_string(i)));
    db.insert_or_assign({vars.back()->name()}, vars.back());
  }
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "v" + std::to_string(i);
    ASSERT_EQ(db.at(name), vars[static_cast<std::size_t>(i)]) << name;
    ASSERT_EQ(db.get({name}), vars[static_cast<std::size_t>(i)]) << name;
  }
  for (const std::string absent : {"", "v", "v1000", "v01", "v1 ", "V1", "v9999"}) {
    EXPECT_EQ(db.find(absent), nullptr) << absent;
    EXPECT_FALSE(db.contains({absent})) << absent;
    EXPECT_THROW((void)db.at(absent), UndeclaredVariableReferenceException) << absent;
  }
  auto replacement = int_var("v500");
  db.insert_or_assign({"v500"}, replacement);
  EXPECT_EQ(db.size(), 1000u);
  EXPECT_EQ(db.at("v500"), replacement);
  EXPECT_EQ(std::next(db.begin(), 500)->second, replacement);
  EXPECT_EQ(std::prev(db.end())->first.name, "v999");
}

// ---- the program under construction ----

class Tavo1ProgramTest : public ::testing::Test {
 protected:
  std::string listing() const { return scope_.program().listing(); }

  tavo::ProgramScope scope_ = tavo::program();
  Tavo1Program program_{scope_};
};

using Tavo1ProgramDeclare = Tavo1ProgramTest;

TEST_F(Tavo1ProgramDeclare, FlagsDecideStreamsAndLists) {
  auto plain = int_var("plain");
  auto unstreamed_input = int_var("in");
  auto streamed_output = int_var("out");
  auto both = int_var("both");
  EXPECT_EQ(program_.declare_variable(plain, false, false, true), "plain");
  EXPECT_EQ(program_.declare_variable(unstreamed_input, true, false, false), "in");
  EXPECT_EQ(program_.declare_variable(streamed_output, false, true, true), "out");
  EXPECT_EQ(program_.declare_variable(both, true, true, true), "both");
  EXPECT_EQ(listing(),
            "declare v0: int = 0\n"
            "declare v1: int = 0\n"
            "declare_stream s0\n"
            "declare v2: int = 0\n"
            "declare_stream s1\n"
            "declare_input_stream v3: int = 0 from \"both\"\n"
            "advance_input_stream v3\n");
  EXPECT_EQ(program_.inputs(), (std::vector<std::string>{"in", "both"}));
  EXPECT_EQ(program_.outputs(), (std::vector<std::string>{"out", "both"}));
  EXPECT_EQ(program_.variables_db().size(), 4u);
  EXPECT_EQ(program_.variables_db()[{"in"}], unstreamed_input);
  EXPECT_EQ(program_["out"].text(), "v2");
}

TEST_F(Tavo1ProgramDeclare, RedeclarationReplacesTheEntryAndDoublesTheOutput) {
  auto first = int_var("x");
  auto second = int_var("x");
  program_.declare_variable(first, false, true, true);
  program_.declare_variable(second, false, true, true);
  EXPECT_EQ(program_._get_var("x"), second);
  EXPECT_EQ(program_.outputs(), (std::vector<std::string>{"x", "x"}));
  const std::string declarations = listing();
  EXPECT_EQ(declarations,
            "declare_stream s0\n"
            "declare v0: int = 0\n"
            "declare_stream s1\n"
            "declare v1: int = 0\n");
  program_.save_all_outputs();
  EXPECT_EQ(listing().substr(declarations.size()),
            "save v1 -> s1\n"
            "stream_processing:\n"
            "  save_all s1 \"x\"\n"
            "save v1 -> s1\n"
            "stream_processing:\n"
            "  save_all s1 \"x\"\n");
}

TEST_F(Tavo1ProgramDeclare, FailedDeclarationRecordsNothing) {
  auto nameless = int_var("");  // the SDK refuses an input stream without a name
  EXPECT_THROW(program_.declare_variable(nameless, true, true, true), tavo::TavoValueError);
  EXPECT_TRUE(program_.variables_db().empty());
  EXPECT_TRUE(program_.inputs().empty());
  EXPECT_TRUE(program_.outputs().empty());
  EXPECT_THROW(program_.declare_variable(nullptr, false, false, false), AssertionError);
}

using Tavo1ProgramAssign = Tavo1ProgramTest;

TEST_F(Tavo1ProgramAssign, AssignsWholeVariablesAndSingleCells) {
  program_.declare_variable(int_var("n"), false, false, false);
  program_.declare_variable(std::make_shared<TavoArr>("a", tavo::DType::Int, 2), false, false, false);
  const std::string declarations = listing();
  program_.assign("n", Value(std::int64_t{3}));
  program_.assign("a", ScalarList{std::int64_t{4}, std::int64_t{5}});
  program_.assign("a", program_["n"]);
  program_.assign_at_index("a", program_["n"], Value(std::int64_t{6}));
  EXPECT_EQ(listing().substr(declarations.size()),
            "assign v0 = 3\n"
            "assign v1[0] = 4\n"
            "assign v1[1] = 5\n"
            "declare v2: int\n"
            "for v2 = 0; (v2 < 2); v2 = (v2 + 1):\n"
            "  assign v1[v2] = v0\n"
            "assign v1[v0] = 6\n");
}

TEST_F(Tavo1ProgramAssign, UnknownNamesAndScalarIndexingAreRefusedBeforeEmitting) {
  program_.declare_variable(int_var("n"), false, false, false);
  const std::string declarations = listing();
  try {
    program_.assign("x", Value(std::int64_t{1}));
    ADD_FAILURE() << "an undeclared name was assigned";
  } catch (const UndeclaredVariableReferenceException& e) {
    EXPECT_STREQ(e.what(), "The variable VariableSignature(name='x') does not exit.");
  }
  EXPECT_THROW(program_.assign_at_index("x", std::int64_t{0}, std::int64_t{1}), UndeclaredVariableReferenceException);
  EXPECT_THROW((void)program_["x"], UndeclaredVariableReferenceException);
  try {
    program_.assign_at_index("n", std::int64_t{0}, std::int64_t{1});
    ADD_FAILURE() << "a scalar was indexed";
  } catch (const tavo_var::IndexingVariableException& e) {
    EXPECT_EQ(e.name, "n");
    EXPECT_STREQ(e.what(), "The variable \"n\" is not an array, and hence cannot be indexed");
  }
  EXPECT_EQ(listing(), declarations);
  // A wrapper entered in the table without an SDK variable.
  program_.variables_db().insert_or_assign({"ghost"}, int_var("ghost"));
  EXPECT_THROW((void)program_["ghost"], tavo_var::FetchingUndeclaredVariableException);
}

using Tavo1ProgramSave = Tavo1ProgramTest;

TEST(Tavo1ProgramSaveMany, EveryOutputIsSavedInOrderUpToTheFirstThatCannotBe) {
  // Saving looks a few outputs ahead while it saves: lists shorter and longer than that reach,
  // with an output the table does not hold or one never declared anywhere along them.
  struct Case {
    std::size_t outputs;
    std::size_t bad_at;  // == outputs: none
    bool missing;        // the bad one: absent from the table, else entered but never declared
  };
  for (const Case& c : std::vector<Case>{{0, 0, false},  {1, 1, false},  {3, 3, false},  {4, 4, false},
                                         {5, 5, false},  {13, 13, false}, {40, 40, false}, {40, 0, true},
                                         {40, 3, false}, {40, 12, true},  {40, 39, false}, {9, 8, true}}) {
    SCOPED_TRACE(testing::Message() << c.outputs << " outputs, bad at " << c.bad_at);
    tavo::ProgramScope scope = tavo::program();
    Tavo1Program program{scope};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < c.outputs; ++i) {
      const std::string name = "o" + std::to_string(i);
      if (i != c.bad_at) {
        program.declare_variable(int_var(name), false, true, true);
      } else if (!c.missing) {
        program.variables_db().insert_or_assign({name}, int_var(name));
      }
      names.push_back(name);
    }
    program.outputs() = names;
    const std::string declarations = scope.program().listing();
    std::string expected;
    for (std::size_t i = 0; i < c.bad_at; ++i) {
      const std::string n = std::to_string(i);
      expected += "save v" + n + " -> s" + n + "\nstream_processing:\n  save_all s" + n + " \"o" + n + "\"\n";
    }
    if (c.bad_at == c.outputs) {
      program.save_all_outputs();
    } else if (c.missing) {
      EXPECT_THROW(program.save_all_outputs(), UndeclaredVariableReferenceException);
    } else {
      EXPECT_THROW(program.save_all_outputs(), tavo_var::FetchingUndeclaredVariableException);
    }
    EXPECT_EQ(scope.program().listing().substr(declarations.size()), expected);
  }
}

TEST_F(Tavo1ProgramSave, SavesInOrderAndStopsAtTheFirstOutputWithoutAStream) {
  program_.declare_variable(int_var("a"), false, true, true);
  program_.declare_variable(int_var("b"), false, true, false);
  program_.declare_variable(int_var("c"), false, true, true);
  const std::string declarations = listing();
  EXPECT_THROW(program_.save_all_outputs(), tavo_var::NoStreamVariableException);
  EXPECT_EQ(listing().substr(declarations.size()),
            "save v0 -> s0\n"
            "stream_processing:\n"
            "  save_all s0 \"a\"\n");
  // The list handed out is the one that is saved.
  program_.outputs() = {"c", "a"};
  const std::string before = listing();
  program_.save_all_outputs();
  EXPECT_EQ(listing().substr(before.size()),
            "save v2 -> s1\n"
            "stream_processing:\n"
            "  save_all s1 \"c\"\n"
            "save v0 -> s0\n"
            "stream_processing:\n"
            "  save_all s0 \"a\"\n");
}

// ---- the scope guard ----

using Tavo1ProgramScopeGuard = Tavo1ProgramTest;

TEST_F(Tavo1ProgramScopeGuard, CallWithNoScopeOpenEntersAndLeavesTheOwnScopeOnce) {
  program_.declare_variable(int_var("n"), false, false, false);
  EXPECT_EQ(scope_.entry_count(), 1u);
  program_.assign("n", Value(std::int64_t{1}));
  EXPECT_EQ(scope_.entry_count(), 2u);
  EXPECT_FALSE(is_inside_scope());
  // Nested wrapped calls run in the one entry of the outer call.
  const bool inside = with_program_scope(program_, [&] {
    program_.assign("n", Value(std::int64_t{2}));
    program_.assign("n", Value(std::int64_t{3}));
    return is_inside_scope();
  });
  EXPECT_TRUE(inside);
  EXPECT_EQ(scope_.entry_count(), 3u);
  EXPECT_EQ(listing(), "declare v0: int = 0\nassign v0 = 1\nassign v0 = 2\nassign v0 = 3\n");
  EXPECT_EQ(program_.dsl_program().listing(), listing());
}

TEST_F(Tavo1ProgramScopeGuard, CallInsideAnOpenScopeEntersNoneAndEmitsThere) {
  auto callers = tavo::program();
  {
    auto entered = callers.enter();
    program_.declare_variable(int_var("n"), false, false, false);
    program_.assign("n", Value(std::int64_t{1}));
  }
  EXPECT_EQ(scope_.entry_count(), 0u);
  EXPECT_TRUE(program_.dsl_program().empty());
  EXPECT_EQ(callers.program().listing(), "declare v0: int = 0\nassign v0 = 1\n");
}

TEST_F(Tavo1ProgramScopeGuard, FailureLeavesTheScopeAndPropagates) {
  EXPECT_THROW(program_.assign("x", Value(std::int64_t{1})), UndeclaredVariableReferenceException);
  EXPECT_EQ(scope_.entry_count(), 1u);
  EXPECT_FALSE(is_inside_scope());
  EXPECT_FALSE(scope_.is_entered());
  EXPECT_TRUE(listing().empty());
  // The scope can be entered again afterwards.
  program_.declare_variable(int_var("x"), false, false, false);
  EXPECT_EQ(scope_.entry_count(), 2u);
}

TEST(Tavo1ProgramWithoutScope, NeedsTheCallersScopeAndHandsOutNoProgram) {
  Tavo1Program program;
  EXPECT_TRUE(program.variables_db().empty());
  EXPECT_TRUE(program.inputs().empty());
  EXPECT_TRUE(program.outputs().empty());
  EXPECT_FALSE(program._program.has_value());
  try {
    (void)program.dsl_program();
    ADD_FAILURE() << "a program was handed out";
  } catch (const AttributeError& e) {
    EXPECT_STREQ(e.what(), "Still within program scope, cannot return the full program");
  }
  auto var = int_var("n");
  EXPECT_THROW(program.declare_variable(var, false, false, false), AssertionError);
  EXPECT_THROW((void)var->tavo_value_exp(), tavo_var::FetchingUndeclaredVariableException);
  EXPECT_TRUE(program.variables_db().empty());

  auto callers = tavo::program();
  auto entered = callers.enter();
  program.declare_variable(var, false, false, false);
  EXPECT_EQ(callers.program().listing(), "declare v0: int = 0\n");
  EXPECT_THROW((void)program.dsl_program(), AttributeError);
}

}  // namespace
}  // namespace vell_qasm::programs
