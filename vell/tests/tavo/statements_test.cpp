#include <cmath>
#include <thread>
#include <vector>

#include "vell_test/tavo.hpp"

namespace tavo = vell::tavo;
using tavo::DType;
using tavo::Expr;
using tavo::TavoProgramError;
using tavo::TavoScopeError;
using tavo::TavoTypeError;
using tavo::TavoValueError;
using tavo::Value;
using vell_test::expect_refusal;

namespace {

// An entered program with v0: int, v1: fixed, v2: bool, v3: int[3] and the stream s0.
class Statements : public ::testing::Test {
 protected:
  void SetUp() override {
    i = tavo::declare(DType::Int, 0);
    f = tavo::declare(tavo::fixed, 0.0);
    b = tavo::declare(DType::Bool, false);
    arr = tavo::declare(DType::Int, std::vector<Value>{0, 0, 0});
    out = tavo::declare_stream();
  }
  tavo::ProgramScope scope = tavo::program();
  tavo::ScopeGuard entered = scope.enter();
  Expr i, f, b, arr;
  tavo::ResultStreamSource out;
};

}  // namespace

TEST(StatementsOutsideAScope, AreRefusedAndRecordNothing) {
  auto scope = tavo::program();
  Expr x;
  {
    auto entered = scope.enter();
    x = tavo::declare(DType::Int, 0);
  }
  const std::string none = "no program scope is entered on this thread";
  expect_refusal<TavoScopeError>(scope, [] { tavo::declare(DType::Int, 0); }, "declare: " + none);
  expect_refusal<TavoScopeError>(scope, [&] { tavo::assign(x, 1); }, "assign: " + none);
  expect_refusal<TavoScopeError>(scope, [] { tavo::declare_stream(); }, "declare_stream: " + none);
  expect_refusal<TavoScopeError>(scope, [&] { (void)tavo::if_(x > 0); }, "if_: " + none);
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::else_(); }, "else_: " + none);
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::stream_processing(); }, "stream_processing: " + none);
  expect_refusal<TavoScopeError>(scope, [] { tavo::align({"a", "b"}); }, "align: " + none);
  expect_refusal<TavoScopeError>(scope, [] { tavo::play("x180", "q0.xy"); }, "play: " + none);
  expect_refusal<TavoScopeError>(scope, [] { tavo::play("x180", "q0.xy", 0.5); }, "play: " + none);
  expect_refusal<TavoScopeError>(scope, [] { tavo::wait(4, {"q0.xy"}); }, "wait: " + none);
  expect_refusal<TavoScopeError>(scope, [] { tavo::frame_rotation(0.5, "q0.xy"); }, "frame_rotation: " + none);
  expect_refusal<TavoScopeError>(scope, [&] { tavo::measure("readout", "q0.rr", x); }, "measure: " + none);
}

TEST_F(Statements, ElseOnlyRightAfterItsClosedIf) {
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::else_(); }, "else_: must follow right after a closed if_ block");
  {
    auto block = tavo::if_(b);
    // Inside the if_ block its own else_ cannot open yet.
    expect_refusal<TavoScopeError>(scope, [] { (void)tavo::else_(); },
                                   "else_: must follow right after a closed if_ block");
  }
  tavo::assign(i, 1);
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::else_(); }, "else_: must follow right after a closed if_ block");
  {
    auto block = tavo::if_(b);
  }
  {
    auto otherwise = tavo::else_();
  }
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::else_(); },
                                 "else_: the if_ block before it already has an else_");
  {
    auto loop = tavo::while_(b);
  }
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::else_(); }, "else_: must follow right after a closed if_ block");
}

TEST_F(Statements, CaseAndDefaultOnlyDirectlyInsideSwitch) {
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::case_(1); }, "case_: allowed only directly inside switch_");
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::default_(); }, "default_: allowed only directly inside switch_");
  auto sw = tavo::switch_(i, false);
  expect_refusal<TavoScopeError>(scope, [&] { tavo::assign(i, 1); },
                                 "assign: only case_ and default_ may stand directly inside switch_");
  expect_refusal<TavoScopeError>(scope, [&] { (void)tavo::if_(b); },
                                 "if_: only case_ and default_ may stand directly inside switch_");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::case_(i); },
                                "case_: a case value must be a plain value, got int expression v0");
  expect_refusal<TavoTypeError>(scope, [] { (void)tavo::case_(1.5); },
                                "case_: 1.5 of type fixed does not fit the switch value of type int");
  {
    auto first = tavo::case_(true);  // a bool fits an int switch, as 1
    expect_refusal<TavoScopeError>(scope, [] { (void)tavo::case_(2); }, "case_: allowed only directly inside switch_");
  }
  {
    auto rest = tavo::default_();
  }
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::case_(2); },
                                 "case_: must come before the default_ of its switch_");
  expect_refusal<TavoScopeError>(scope, [] { (void)tavo::default_(); }, "default_: a switch_ has at most one default_");
  sw.close();
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::switch_(f, true); },
                                "switch_: switches on an int or bool value, got fixed expression v1");
  EXPECT_NE(scope.program().listing().find("switch v0:\n  case 1:\n    pass\n  default:\n    pass\n"),
            std::string::npos);
}

TEST_F(Statements, ValuesMustFitWhereTheyGo) {
  expect_refusal<TavoTypeError>(scope, [&] { tavo::assign(i, 1.5); }, "assign: 1.5 of type fixed does not fit v0 of type int");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::assign(b, 1); }, "assign: 1 of type int does not fit v2 of type bool");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::assign(arr[0], f * 2); },
                                "assign: (v1 * 2) of type fixed does not fit v3[0] of type int");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::assign(i + 1, 2); },
                                "assign: the target must be a scalar variable or an array cell, got int expression (v0 + 1)");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::assign(arr, 1); },
                                "assign: the target must be a scalar variable or an array cell, got array variable v3");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::assign(i, arr); }, "assign: the value must be a scalar, got array variable v3");
  expect_refusal<TavoValueError>(scope, [&] { tavo::assign(Expr(), 1); }, "assign: the target is an empty expression handle");
  expect_refusal<TavoTypeError>(scope, [] { tavo::declare(DType::Int, 1.5); },
                                "declare: 1.5 of type fixed does not fit the declared variable of type int");
  expect_refusal<TavoTypeError>(scope, [] { tavo::declare(DType::Bool, std::vector<Value>{true, 0}); },
                                "declare: 0 of type int does not fit the declared variable of type bool");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::declare(DType::Int, i); },
                                "declare: an initial value must be a plain value, got int expression v0");
  expect_refusal<TavoTypeError>(scope, [] { tavo::declare(DType::Bool); },
                                "declare: only an int variable may be declared without an initial value, got bool");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::if_(i); }, "if_: the condition must be bool, got int expression v0");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::while_(1); }, "while_: the condition must be bool, got int value 1");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::for_(i, 0.5, i < 3, i + 1); },
                                "for_: 0.5 of type fixed does not fit v0 of type int");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::for_(i, 0, i < 3, i + 0.5); },
                                "for_: (v0 + 0.5) of type fixed does not fit v0 of type int");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::for_(arr[0], 0, i < 3, i + 1); },
                                "for_: the loop variable must be a scalar variable, got int expression v3[0]");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::for_each_(i, std::vector<Value>{1, 2.5}); },
                                "for_each_: 2.5 of type fixed does not fit v0 of type int");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::for_each_(b, arr); },
                                "for_each_: elements of v3 of type int do not fit v2 of type bool");
  expect_refusal<TavoTypeError>(scope, [&] { (void)tavo::for_each_(i, i); },
                                "for_each_: needs an array variable or a list of plain values, got int expression v0");
  // Widening is implicit; the declared values are held in the variable's type.
  tavo::assign(f, i);
  tavo::assign(i, b);
  tavo::declare(tavo::fixed, std::vector<Value>{1, true, 0.5});
  EXPECT_NE(scope.program().listing().find("assign v1 = v0\nassign v0 = v2\ndeclare v4: fixed[3] = [1.0, 1.0, 0.5]\n"),
            std::string::npos);
}

TEST_F(Statements, StreamsAlignmentAndInputs) {
  expect_refusal<TavoScopeError>(scope, [&] { out.save_all("x"); }, "save_all: allowed only inside stream_processing");
  {
    auto processing = tavo::stream_processing();
    expect_refusal<TavoScopeError>(scope, [&] { tavo::save(i, out); },
                                   "save: only save_all may stand inside stream_processing");
    expect_refusal<TavoScopeError>(scope, [] { (void)tavo::stream_processing(); },
                                   "stream_processing: only save_all may stand inside stream_processing");
    expect_refusal<TavoValueError>(scope, [&] { out.save_all(""); }, "save_all: the tag must not be empty");
    expect_refusal<TavoValueError>(scope, [] { tavo::ResultStreamSource().save_all("x"); },
                                   "save_all: empty result stream handle");
    out.save_all("x");
    out.save_all("x");  // the same stream under the same tag twice is allowed
  }
  expect_refusal<TavoTypeError>(scope, [&] { tavo::save(i + 1, out); },
                                "save: the source must be a scalar variable or an array cell, got int expression (v0 + 1)");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::save(arr, out); },
                                "save: the source must be a scalar variable or an array cell, got array variable v3");
  expect_refusal<TavoValueError>(scope, [&] { tavo::align({"q0"}); }, "align: needs at least two elements, got 1");
  expect_refusal<TavoValueError>(scope, [&] { tavo::align({"q0", ""}); }, "align: an element name must not be empty");
  expect_refusal<TavoValueError>(scope, [] { tavo::declare_input_stream(DType::Int, "", 0); },
                                 "declare_input_stream: the input stream's name must not be empty");
  expect_refusal<TavoTypeError>(scope, [&] { tavo::advance_input_stream(i); },
                                "advance_input_stream: v0 is not a variable fed by an input stream");
  auto fed = tavo::declare_input_stream(DType::Int, "n", std::vector<Value>{1, 2});
  expect_refusal<TavoTypeError>(scope, [&] { tavo::advance_input_stream(fed[0]); },
                                "advance_input_stream: v4[0] is not a variable fed by an input stream");
  tavo::advance_input_stream(fed);
  EXPECT_NE(scope.program().listing().find("declare_input_stream v4: int[2] = [1, 2] from \"n\"\nadvance_input_stream v4\n"),
            std::string::npos);
}

TEST_F(Statements, VariablesAndStreamsOfAnotherProgramAreRefused) {
  auto first = scope;
  entered.close();
  auto second = tavo::program();
  auto in_second = second.enter();
  auto j = tavo::declare(DType::Int, 0);
  auto own = tavo::declare_stream();
  expect_refusal<TavoProgramError>(second, [&] { tavo::assign(i, 1); }, "assign: v0 is a variable of another program");
  expect_refusal<TavoProgramError>(second, [&] { tavo::assign(j, arr[1] + 1); },
                                   "assign: v3 is a variable of another program");
  expect_refusal<TavoProgramError>(second, [&] { tavo::save(j, out); }, "save: s0 is a stream of another program");
  expect_refusal<TavoProgramError>(second, [&] { tavo::save(i, own); }, "save: v0 is a variable of another program");
  expect_refusal<TavoProgramError>(second, [&] { (void)tavo::if_(b); }, "if_: v2 is a variable of another program");
  expect_refusal<TavoProgramError>(second, [&] { (void)tavo::for_each_(j, arr); },
                                   "for_each_: v3 is a variable of another program");
  expect_refusal<TavoProgramError>(second, [&] { (void)tavo::for_(i, 0, i < 1, i + 1); },
                                   "for_: v0 is a variable of another program");
  {
    auto processing = tavo::stream_processing();
    expect_refusal<TavoProgramError>(second, [&] { out.save_all("x"); }, "save_all: s0 is a stream of another program");
  }
  EXPECT_EQ(first.program().listing(),
            "declare v0: int = 0\ndeclare v1: fixed = 0.0\ndeclare v2: bool = false\ndeclare v3: int[3] = [0, 0, 0]\n"
            "declare_stream s0\n");
}

TEST_F(Statements, PulseStatementsCheckNamesAndValues) {
  expect_refusal<TavoValueError>(
      scope, [] { tavo::play("", "q0.xy"); }, "play: the pulse name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::play("x180", ""); }, "play: the element name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::play("x180", "", 0.5); }, "play: the element name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::play("x180", "q0.xy", std::nan("")); }, "play: a fixed value must be finite, got nan");
  expect_refusal<TavoTypeError>(
      scope, [&] { tavo::play("x180", "q0.xy", arr); }, "play: the amplitude must be a scalar, got array variable v3");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::play("x180", "q0.xy", Expr()); }, "play: the amplitude is an empty expression handle");

  expect_refusal<TavoTypeError>(
      scope, [&] { tavo::wait(f, {"q0.xy"}); }, "wait: v1 of type fixed does not fit the cycle count of type int");
  expect_refusal<TavoTypeError>(
      scope, [] { tavo::wait(2.0, {"q0.xy"}); }, "wait: 2.0 of type fixed does not fit the cycle count of type int");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::wait(-1, {"q0.xy"}); }, "wait: the cycle count must not be negative, got -1");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::wait(4, {}); }, "wait: needs at least one element");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::wait(4, {"q0.xy", ""}); }, "wait: the element name must not be empty");

  expect_refusal<TavoValueError>(
      scope, [] { tavo::frame_rotation(INFINITY, "q0.xy"); }, "frame_rotation: a fixed value must be finite, got inf");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::frame_rotation(0.5, ""); }, "frame_rotation: the element name must not be empty");
  expect_refusal<TavoTypeError>(
      scope, [&] { tavo::frame_rotation(arr, "q0.xy"); },
      "frame_rotation: the angle must be a scalar, got array variable v3");

  expect_refusal<TavoValueError>(
      scope, [&] { tavo::measure("", "q0.rr", f); }, "measure: the pulse name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::measure("readout", "", f); }, "measure: the element name must not be empty");
  expect_refusal<TavoTypeError>(
      scope, [&] { tavo::measure("readout", "q0.rr", i); },
      "measure: the target must be a fixed scalar variable or array cell, got int expression v0");
  expect_refusal<TavoTypeError>(
      scope, [&] { tavo::measure("readout", "q0.rr", f + 1); },
      "measure: the target must be a fixed scalar variable or array cell, got fixed expression (v1 + 1)");
  expect_refusal<TavoValueError>(
      scope, [] { tavo::measure("readout", "q0.rr", Expr()); }, "measure: the target is an empty expression handle");
  {
    auto sw = tavo::switch_(i, false);
    expect_refusal<TavoScopeError>(
        scope, [] { tavo::play("x180", "q0.xy"); }, "play: only case_ and default_ may stand directly inside switch_");
  }

  // Plain values are held in the statement's type; a zero wait and expressions of either sign pass.
  const std::string before = scope.program().listing();
  tavo::play("x180", "q0.xy", 1);
  tavo::wait(true, {"q0.xy"});
  tavo::wait(0, {"q0.xy", "q0.rr"});
  tavo::wait(-i, {"q0.xy"});
  tavo::frame_rotation(b, "q0.xy");
  EXPECT_EQ(scope.program().listing().substr(before.size()),
            "play \"x180\" * 1.0 on \"q0.xy\"\nwait 1 on \"q0.xy\"\nwait 0 on \"q0.xy\", \"q0.rr\"\n"
            "wait -v0 on \"q0.xy\"\nframe_rotation v2 on \"q0.xy\"\n");
}

TEST(Names, RecordWhatTheirTextsRecord) {
  EXPECT_EQ(tavo::Name("q0.xy"), tavo::Name(std::string("q0.xy")));
  EXPECT_FALSE(tavo::Name("q0.xy") == tavo::Name("q1.xy"));
  EXPECT_TRUE(tavo::Name().empty());
  EXPECT_EQ(tavo::Name("x180").text(), "x180");

  // The same pulses, once by texts and once by Names, into two programs; the element lists run
  // through many more distinct lists than programs remember lately, in an order that returns
  // to each of them.
  std::vector<std::vector<std::string>> texts;
  for (int a = 0; a < 40; ++a)
    for (int b = 0; b < 12; ++b)
      texts.push_back({"q" + std::to_string(a) + ".xy", "q" + std::to_string(b) + ".rr"});
  auto record = [&](bool by_name) {
    auto scope = tavo::program();
    {
      auto entered = scope.enter();
      auto level = tavo::declare(tavo::fixed, 0.0);
      for (int pass = 0; pass < 3; ++pass) {
        for (std::size_t i = pass; i < texts.size(); i += 1 + pass) {
          const auto& list = texts[i];
          if (by_name) {
            const std::vector<tavo::Name> names{tavo::Name(list[0]), tavo::Name(list[1])};
            tavo::align(names);
            tavo::wait(4, names);
            tavo::play(tavo::Name("x180"), names[0]);
            tavo::play(tavo::Name("x90"), names[0], level);
            tavo::frame_rotation(0.5, names[1]);
            tavo::measure(tavo::Name("readout"), names[1], level);
          } else {
            tavo::align(list);
            tavo::wait(4, list);
            tavo::play("x180", list[0]);
            tavo::play("x90", list[0], level);
            tavo::frame_rotation(0.5, list[1]);
            tavo::measure("readout", list[1], level);
          }
        }
      }
    }
    return scope.program().listing();
  };
  EXPECT_EQ(record(true), record(false));
}

TEST_F(Statements, NamesAreRefusedAsTheirTextsAre) {
  const tavo::Name empty, element("q0.xy"), pulse("x180");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::play(empty, element); }, "play: the pulse name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::play(pulse, empty, 0.5); }, "play: the element name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::frame_rotation(0.5, empty); }, "frame_rotation: the element name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::measure(pulse, empty, f); }, "measure: the element name must not be empty");
  const tavo::Name one[] = {element};
  const tavo::Name with_empty[] = {element, empty};
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::align(one); }, "align: needs at least two elements, got 1");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::align(with_empty); }, "align: an element name must not be empty");
  expect_refusal<TavoValueError>(
      scope, [&] { tavo::wait(4, std::vector<tavo::Name>{}); }, "wait: needs at least one element");
  expect_refusal<TavoTypeError>(
      scope, [&] { tavo::wait(f, one); }, "wait: v1 of type fixed does not fit the cycle count of type int");
}

TEST(ExpressionRecords, OutliveTheThreadsThatMadeOrDroppedThem) {
  // Expression records come from per-thread pools: records made on one thread and released on
  // another, by threads that end in between, stay whole and are reused whole.
  std::vector<Expr> made;
  std::thread([&] {
    Expr v = vell_test::fresh_variable(DType::Int);
    for (int i = 0; i < 5000; ++i) made.push_back(v + i);
  }).join();
  EXPECT_EQ(made[4999].text(), "(v0 + 4999)");
  std::thread([&] { made.resize(100); }).join();
  std::vector<Expr> again;
  std::thread([&] {
    Expr v = vell_test::fresh_variable(DType::Fixed);
    for (int i = 0; i < 5000; ++i) again.push_back(v * i);
  }).join();
  EXPECT_EQ(made[99].text(), "(v0 + 99)");
  EXPECT_EQ(again[4999].text(), "(v0 * 4999)");
}

TEST_F(Statements, PulseStatementsRefuseVariablesOfAnotherProgram) {
  auto levels = tavo::declare(tavo::fixed, std::vector<Value>{0.0, 0.0});
  entered.close();
  auto other = tavo::program();
  auto in_other = other.enter();
  expect_refusal<TavoProgramError>(
      other, [&] { tavo::measure("readout", "q0.rr", levels[1]); }, "measure: v4 is a variable of another program");
  expect_refusal<TavoProgramError>(
      other, [&] { tavo::play("x180", "q0.xy", f); }, "play: v1 is a variable of another program");
  expect_refusal<TavoProgramError>(
      other, [&] { tavo::wait(i, {"q0.xy"}); }, "wait: v0 is a variable of another program");
}
