#include "vell_qasm/tavo_var.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

namespace vell_qasm::tavo_var {
namespace {

namespace tavo = vell::tavo;
using tavo::DType;

// Every test records into a fresh program whose scope is open for the whole test.
class TavoWrapperTest : public ::testing::Test {
 protected:
  std::string listing() const { return scope_.program().listing(); }

  // Runs `call`, which must fail with an `E` whose message is `message`, without recording.
  template <class E, class F>
  void expect_failure_emitting_nothing(F&& call, const std::string& message) {
    const std::string before = listing();
    try {
      call();
      ADD_FAILURE() << "no failure; expected: " << message;
    } catch (const E& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_EQ(listing(), before);
  }

  tavo::ProgramScope scope_ = tavo::program();
  std::optional<tavo::ScopeGuard> entered_{scope_.enter()};
};

// ---- declaration ----

using TavoVarDeclare = TavoWrapperTest;

TEST_F(TavoVarDeclare, UndeclaredWrapperHasNoVariableOrStream) {
  TavoVar x("x", DType::Int);
  expect_failure_emitting_nothing<FetchingUndeclaredVariableException>([&] { (void)x.tavo_value_exp(); },
                                                                     "Tried to operate on the variable 'x'.");
  expect_failure_emitting_nothing<FetchingUndeclaredVariableException>([&] { x.assign(Value(std::int64_t{1})); },
                                                                     "Tried to operate on the variable 'x'.");
  expect_failure_emitting_nothing<FetchingUndeclaredVariableException>([&] { x.save(); },
                                                                     "Tried to operate on the variable 'x'.");
  expect_failure_emitting_nothing<NoStreamVariableException>([&] { (void)x.stream_var(); },
                                                           "No stream variable was declared for x.");
  // Both failures are the same family, which callers catch as one.
  EXPECT_THROW((void)x.stream_var(), OperatingOnUndeclaredVariableException);
  EXPECT_STREQ(OperatingOnUndeclaredVariableException("x").what(), "");
}

TEST_F(TavoVarDeclare, StreamThenVariableThenFirstReadForEveryStreamCombination) {
  struct Case {
    bool input, output;
    const char* expected;
  };
  const Case cases[] = {
      {false, false, "declare v0: int = 0\n"},
      {false, true, "declare_stream s0\ndeclare v0: int = 0\n"},
      {true, false, "declare_input_stream v0: int = 0 from \"x\"\nadvance_input_stream v0\n"},
      {true, true, "declare_stream s0\ndeclare_input_stream v0: int = 0 from \"x\"\nadvance_input_stream v0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("input ") + (c.input ? "on" : "off") + ", output " + (c.output ? "on" : "off"));
    auto scope = tavo::program();
    entered_.reset();
    entered_.emplace(scope.enter());
    TavoVar x("x", DType::Int);
    x.declare(c.input, c.output);
    EXPECT_EQ(scope.program().listing(), c.expected);
    EXPECT_EQ(x.tavo_value_exp().text(), "v0");
    if (c.output) {
      EXPECT_EQ(x.stream_var().text(), "s0");
    } else {
      EXPECT_THROW((void)x.stream_var(), NoStreamVariableException);
    }
  }
}

TEST_F(TavoVarDeclare, InitialValueIsTheZeroOfTheElementTypeOnePerArrayElement) {
  TavoVar b("b", DType::Bool);
  TavoVar f("f", tavo::fixed);
  TavoArr a("a", DType::Int, 3);
  TavoArr streamed("s", tavo::fixed, 2);
  TavoArr empty("e", DType::Int, 0);
  TavoArr negative("n", DType::Bool, -4);
  b.declare(false, false);
  f.declare(false, false);
  a.declare(false, false);
  streamed.declare(true, false);
  empty.declare(false, false);
  negative.declare(false, false);
  EXPECT_EQ(listing(),
            "declare v0: bool = false\n"
            "declare v1: fixed = 0.0\n"
            "declare v2: int[3] = [0, 0, 0]\n"
            "declare_input_stream v3: fixed[2] = [0.0, 0.0] from \"s\"\n"
            "advance_input_stream v3\n"
            "declare v4: int[0] = []\n"
            "declare v5: bool[0] = []\n");
}

TEST_F(TavoVarDeclare, SecondDeclarationReplacesTheVariableAndKeepsTheFirstStream) {
  TavoVar x("x", DType::Int);
  x.declare(false, true);
  x.declare(false, false);
  EXPECT_EQ(x.tavo_value_exp().text(), "v1");
  EXPECT_EQ(x.stream_var().text(), "s0");
  x.save();
  EXPECT_EQ(listing(),
            "declare_stream s0\n"
            "declare v0: int = 0\n"
            "declare v1: int = 0\n"
            "save v1 -> s0\n"
            "stream_processing:\n"
            "  save_all s0 \"x\"\n");
}

TEST_F(TavoVarDeclare, FailedDeclarationKeepsTheStreamAlreadyDeclared) {
  TavoVar nameless("", DType::Int);  // the SDK refuses an input stream without a name
  EXPECT_THROW(nameless.declare(true, true), tavo::TavoValueError);
  EXPECT_EQ(nameless.stream_var().text(), "s0");
  EXPECT_THROW((void)nameless.tavo_value_exp(), FetchingUndeclaredVariableException);
}

// ---- scalar assignment and saving ----

using TavoVarScalar = TavoWrapperTest;

TEST_F(TavoVarScalar, AssignsPlainValuesAndExpressions) {
  TavoVar x("x", DType::Int);
  TavoVar f("f", tavo::fixed);
  x.declare(false, false);
  f.declare(false, false);
  x.assign(Value(std::int64_t{5}));
  x.assign(Value(true));  // a bool fits an int
  x.assign(x.tavo_value_exp() + std::int64_t{1});
  f.assign(Value(2.5));
  EXPECT_EQ(listing(),
            "declare v0: int = 0\n"
            "declare v1: fixed = 0.0\n"
            "assign v0 = 5\n"
            "assign v0 = true\n"
            "assign v0 = (v0 + 1)\n"
            "assign v1 = 2.5\n");
}

TEST_F(TavoVarScalar, RefusedAssignmentNamesTheVariableAndKeepsTheCause) {
  TavoVar x("x", DType::Int);
  TavoVar f("f", tavo::fixed);
  x.declare(false, false);
  f.declare(false, false);
  expect_failure_emitting_nothing<TavoAssignmentException>([&] { x.assign(Value(1.5)); },
                                                           "Tavo failed to assign 1.5 into x");
  expect_failure_emitting_nothing<TavoAssignmentException>(
      [&] { x.assign(f.tavo_value_exp() * 0.5); }, "Tavo failed to assign (v1 * 0.5) into x");
  try {
    x.assign(Value(1.5));
  } catch (const TavoAssignmentException& e) {
    EXPECT_EQ(e.target_name, "x");
    EXPECT_EQ(std::get<double>(std::get<Value>(e.value)), 1.5);
    ASSERT_TRUE(e.cause());
    EXPECT_THROW(std::rethrow_exception(e.cause()), tavo::TavoTypeError);
  }
  // A list never fits a scalar; there is no SDK refusal to keep.
  try {
    x.assign(ScalarList{std::int64_t{1}, true, 2.0});
    ADD_FAILURE() << "a list was assigned to a scalar";
  } catch (const TavoAssignmentException& e) {
    EXPECT_STREQ(e.what(), "Tavo failed to assign [1, True, 2.0] into x");
    EXPECT_FALSE(e.cause());
  }
}

TEST_F(TavoVarScalar, SaveSendsTheValueThenSavesTheStreamUnderTheName) {
  TavoVar x("x", DType::Int);
  x.declare(false, true);
  x.save();
  EXPECT_EQ(listing(),
            "declare_stream s0\n"
            "declare v0: int = 0\n"
            "save v0 -> s0\n"
            "stream_processing:\n"
            "  save_all s0 \"x\"\n");
  TavoVar quiet("quiet", DType::Int);
  quiet.declare(false, false);
  expect_failure_emitting_nothing<NoStreamVariableException>([&] { quiet.save(); },
                                                           "No stream variable was declared for quiet.");
}

// ---- arrays: loops ----

using TavoArrLoops = TavoWrapperTest;

TEST_F(TavoArrLoops, OneValueFillsTheArrayInOneLoopWhateverTheSize) {
  TavoArr small("small", DType::Int, 3);
  TavoArr large("large", DType::Int, 1000);
  small.declare(false, false);
  large.declare(false, false);
  const std::string declarations = listing();
  small.assign(Value(std::int64_t{7}));
  large.assign(Value(std::int64_t{7}));
  EXPECT_EQ(listing().substr(declarations.size()),
            "declare v2: int\n"
            "for v2 = 0; (v2 < 3); v2 = (v2 + 1):\n"
            "  assign v0[v2] = 7\n"
            "declare v3: int\n"
            "for v3 = 0; (v3 < 1000); v3 = (v3 + 1):\n"
            "  assign v1[v3] = 7\n");
}

TEST_F(TavoArrLoops, RangeBoundsAndStepGoIntoTheLoop) {
  TavoArr a("a", DType::Int, 5);
  TavoVar n("n", DType::Int);
  a.declare(false, false);
  n.declare(false, false);
  a.assign_range(Value(std::int64_t{9}), std::int64_t{1}, std::nullopt, std::int64_t{2});
  a.assign_range(n.tavo_value_exp(), n.tavo_value_exp(), Value(n.tavo_value_exp() + std::int64_t{2}),
                 n.tavo_value_exp());
  // A plain negative step counts down.
  a.assign_range(Value(std::int64_t{4}), std::int64_t{4}, Value(std::int64_t{-1}),
                 std::int64_t{-2});
  EXPECT_EQ(listing(),
            "declare v0: int[5] = [0, 0, 0, 0, 0]\n"
            "declare v1: int = 0\n"
            "declare v2: int\n"
            "for v2 = 1; (v2 < 5); v2 = (v2 + 2):\n"
            "  assign v0[v2] = 9\n"
            "declare v3: int\n"
            "for v3 = v1; (v3 < (v1 + 2)); v3 = (v3 + v1):\n"
            "  assign v0[v3] = v1\n"
            "declare v4: int\n"
            "for v4 = 4; (v4 > -1); v4 = (v4 + -2):\n"
            "  assign v0[v4] = 4\n");
}

TEST_F(TavoArrLoops, SaveSendsEveryCellInOneLoopThenSavesTheStream) {
  TavoArr a("a", tavo::fixed, 4);
  a.declare(false, true);
  a.save();
  EXPECT_EQ(listing(),
            "declare_stream s0\n"
            "declare v0: fixed[4] = [0.0, 0.0, 0.0, 0.0]\n"
            "declare v1: int\n"
            "for v1 = 0; (v1 < 4); v1 = (v1 + 1):\n"
            "  save v0[v1] -> s0\n"
            "stream_processing:\n"
            "  save_all s0 \"a\"\n");
}

TEST_F(TavoArrLoops, MissingVariableOrStreamFailsInsideTheLoop) {
  TavoArr undeclared("u", DType::Int, 2);
  EXPECT_THROW(undeclared.assign(Value(std::int64_t{1})), FetchingUndeclaredVariableException);
  TavoArr unstreamed("w", DType::Int, 2);
  unstreamed.declare(false, false);
  EXPECT_THROW(unstreamed.save(), NoStreamVariableException);
  // The loops were opened and left empty; no stream processing follows the failed save.
  EXPECT_EQ(listing(),
            "declare v0: int\n"
            "for v0 = 0; (v0 < 2); v0 = (v0 + 1):\n"
            "  pass\n"
            "declare v1: int[2] = [0, 0]\n"
            "declare v2: int\n"
            "for v2 = 0; (v2 < 2); v2 = (v2 + 1):\n"
            "  pass\n");
}

TEST_F(TavoArrLoops, RefusedCellAssignmentNamesTheArray) {
  TavoArr a("a", DType::Bool, 2);
  a.declare(false, false);
  try {
    a.assign(Value(std::int64_t{3}));
    ADD_FAILURE() << "an int was assigned to a bool cell";
  } catch (const TavoAssignmentException& e) {
    EXPECT_STREQ(e.what(), "Tavo failed to assign 3 into a");
    EXPECT_TRUE(e.cause());
  }
  try {
    a.assign_single(std::int64_t{1}, 0.5);
    ADD_FAILURE() << "a fixed was assigned to a bool cell";
  } catch (const TavoAssignmentException& e) {
    EXPECT_EQ(e.target_name, "a");
  }
}

// ---- arrays: compile-time walk of a list ----

using TavoArrWalk = TavoWrapperTest;

TEST_F(TavoArrWalk, WalkStopsAtTheShorterOfListAndRange) {
  TavoArr a("a", DType::Int, 3);
  a.declare(false, false);
  const std::string declaration = listing();
  a.assign(ScalarList{std::int64_t{1}, std::int64_t{2}});
  EXPECT_EQ(listing().substr(declaration.size()), "assign v0[0] = 1\nassign v0[1] = 2\n");
  const std::string before = listing();
  a.assign(ScalarList{std::int64_t{5}, std::int64_t{6}, std::int64_t{7}, std::int64_t{8}, std::int64_t{9}});
  EXPECT_EQ(listing().substr(before.size()), "assign v0[0] = 5\nassign v0[1] = 6\nassign v0[2] = 7\n");
}

TEST_F(TavoArrWalk, StartStopAndStepSelectTheCells) {
  TavoArr a("a", DType::Int, 4);
  TavoVar n("n", DType::Int);
  a.declare(false, false);
  n.declare(false, false);
  const std::string declarations = listing();
  const ScalarList values{std::int64_t{10}, std::int64_t{20}, n.tavo_value_exp()};
  a.assign_range(values, std::int64_t{2}, Value(std::int64_t{0}), std::int64_t{-1});  // counts down
  a.assign_range(values, std::int64_t{1});                                            // stop: the size
  a.assign_range(values, true, Value(std::int64_t{4}), std::int64_t{2});              // true is 1
  EXPECT_EQ(listing().substr(declarations.size()),
            "assign v0[2] = 10\n"
            "assign v0[1] = 20\n"
            "assign v0[1] = 10\n"
            "assign v0[2] = 20\n"
            "assign v0[3] = v1\n"
            "assign v0[1] = 10\n"
            "assign v0[3] = 20\n");
}

TEST_F(TavoArrWalk, BoundsThatAreNotPlainIntegersAreRefusedBeforeEmitting) {
  TavoArr a("a", DType::Int, 3);
  TavoVar n("n", DType::Int);
  a.declare(false, false);
  n.declare(false, false);
  const ScalarList values{std::int64_t{1}};
  const std::string message = "Cannot dynamically assign values from pythonic list";
  const Value expression = n.tavo_value_exp();
  expect_failure_emitting_nothing<TypeError>([&] { a.assign_range(values, expression); }, message);
  expect_failure_emitting_nothing<TypeError>([&] { a.assign_range(values, std::int64_t{0}, expression); }, message);
  expect_failure_emitting_nothing<TypeError>(
      [&] { a.assign_range(values, std::int64_t{0}, std::nullopt, expression); }, message);
  expect_failure_emitting_nothing<TypeError>([&] { a.assign_range(values, 0.0); }, message);
}

TEST_F(TavoArrWalk, ZeroStepIsRefusedBeforeEmittingInBothForms) {
  TavoArr a("a", DType::Int, 3);
  a.declare(false, false);
  const std::string message = "assign_range() step must not be zero";
  expect_failure_emitting_nothing<ValueError>(
      [&] { a.assign_range(ScalarList{std::int64_t{1}}, std::int64_t{0}, std::nullopt, std::int64_t{0}); }, message);
  expect_failure_emitting_nothing<ValueError>(
      [&] { a.assign_range(Value(std::int64_t{1}), std::int64_t{0}, std::nullopt, std::int64_t{0}); }, message);
  expect_failure_emitting_nothing<ValueError>(
      [&] { a.assign_range(Value(std::int64_t{1}), std::int64_t{0}, std::nullopt, false); }, message);
}

TEST_F(TavoArrWalk, RefusedElementStopsTheWalkKeepingEarlierCells) {
  TavoArr a("a", DType::Bool, 3);
  a.declare(false, false);
  EXPECT_THROW(a.assign(ScalarList{true, 1.5, false}), TavoAssignmentException);
  EXPECT_EQ(listing(), "declare v0: bool[3] = [false, false, false]\nassign v0[0] = true\n");
}

TEST_F(TavoArrWalk, HugeStepEndsTheWalkInsteadOfWrappingAround) {
  TavoArr a("a", DType::Int, 3);
  a.declare(false, false);
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  a.assign_range(ScalarList{std::int64_t{1}, std::int64_t{2}}, std::int64_t{1}, std::nullopt, kMax);
  EXPECT_EQ(listing(), "declare v0: int[3] = [0, 0, 0]\nassign v0[1] = 1\n");
}

TEST_F(TavoArrWalk, CellIndicesGoToTheSdkAsGiven) {
  TavoArr a("a", DType::Int, 3);
  TavoVar n("n", DType::Int);
  a.declare(false, false);
  n.declare(false, false);
  EXPECT_EQ(a.get_single_index(n.tavo_value_exp() + std::int64_t{7}).text(), "v0[(v1 + 7)]");
  EXPECT_EQ(a.get_single_index(std::int64_t{2}).text(), "v0[2]");
  // The SDK itself refuses a plain index outside the array; that refusal is not an assignment's.
  EXPECT_THROW((void)a.get_single_index(std::int64_t{7}), tavo::TavoValueError);
  EXPECT_THROW(a.assign_single(std::int64_t{7}, std::int64_t{1}), tavo::TavoValueError);
}

}  // namespace
}  // namespace vell_qasm::tavo_var
