#include "vell_qasm/configurations/op_registry.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "vell_test/tavo.hpp"

using namespace vell_qasm::configurations;
using vell::tavo::Expr;
using vell::tavo::Value;
using K = ParameterKind;
using Qubits = std::vector<HwQubitIndex>;

namespace {

TavoFunc fn(std::vector<Parameter> parameters, std::string name = "f") {
  return TavoFunc(std::move(name), std::move(parameters), [](std::span<const Value>) { return TavoResult{}; });
}
Parameter p(K kind, bool has_default = false) { return {"p", kind, has_default}; }

std::string message_of(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no exception>";
}

// ---- target functions

TEST(TavoFunc, DeducedFromLambdaConvertsArguments) {
  double seen_theta = 0;
  std::int64_t seen_qubit = -1;
  auto rx = make_tavo_func("rx", [&](double theta, std::int64_t q) {
    seen_theta = theta;
    seen_qubit = q;
  });
  EXPECT_EQ(rx.name(), "rx");
  ASSERT_EQ(rx.parameters().size(), 2u);
  for (const auto& param : rx.parameters()) {
    EXPECT_EQ(param.kind, K::POSITIONAL_ONLY);
    EXPECT_FALSE(param.has_default);
  }
  EXPECT_FALSE(rx(TavoArgs{0.5, std::int64_t{3}}).has_value());
  EXPECT_EQ(seen_theta, 0.5);
  EXPECT_EQ(seen_qubit, 3);
  rx(TavoArgs{std::int64_t{2}, std::int64_t{1}});  // an int fills a floating parameter
  EXPECT_EQ(seen_theta, 2.0);

  EXPECT_EQ(message_of([&] {
              rx(TavoArgs{vell_test::fresh_variable(), std::int64_t{1}});
            }),
            "rx() argument 1 must be float, not Expr");
  EXPECT_EQ(message_of([&] { rx(TavoArgs{0.5, 1.0}); }), "rx() argument 2 must be int, not float");
  EXPECT_EQ(message_of([&] { rx(TavoArgs{0.5, true}); }), "rx() argument 2 must be int, not bool");
  EXPECT_THROW(make_tavo_func("b", [](bool) {})(TavoArgs{std::int64_t{1}}), vell_qasm::TypeError);
  EXPECT_THROW(make_tavo_func("n", [](int) {})(TavoArgs{std::int64_t{1} << 40}), vell_qasm::OverflowError);
}

TEST(TavoFunc, DeducedResultsAndPlainFunctions) {
  Expr e = vell_test::fresh_variable();
  auto measure = make_tavo_func("measure", [e](std::int64_t) { return e; });
  auto result = measure(TavoArgs{std::int64_t{0}});
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(std::get<Expr>(*result).node(), e.node());

  auto count = make_tavo_func("count", [](Value v) -> int { return std::holds_alternative<Expr>(v) ? 1 : 2; });
  EXPECT_EQ(std::get<std::int64_t>(*count(TavoArgs{0.5})), 2);
  auto maybe = make_tavo_func("maybe", []() -> TavoResult { return std::nullopt; });
  EXPECT_FALSE(maybe(TavoArgs{}).has_value());

  static bool called = false;
  TavoResult (*plain)(const Value&) = [](const Value&) -> TavoResult {
    called = true;
    return Value(true);
  };
  auto from_pointer = make_tavo_func("plain", plain);
  EXPECT_EQ(from_pointer.parameters().size(), 1u);
  EXPECT_TRUE(std::get<bool>(*from_pointer(TavoArgs{1.0})));
  EXPECT_TRUE(called);
}

TEST(TavoFunc, VariadicTakesAllFurtherArguments) {
  std::vector<std::int64_t> got;
  double angle = 0;
  auto rot = make_tavo_func("rot", [&](double theta, std::span<const Value> qubits) {
    angle = theta;
    got.clear();
    for (const auto& q : qubits) got.push_back(std::get<std::int64_t>(q));
  });
  ASSERT_EQ(rot.parameters().size(), 2u);
  EXPECT_EQ(rot.parameters()[0].kind, K::POSITIONAL_ONLY);
  EXPECT_EQ(rot.parameters()[1].kind, K::VAR_POSITIONAL);
  rot(TavoArgs{1.5, std::int64_t{4}, std::int64_t{2}, std::int64_t{4}});
  EXPECT_EQ(angle, 1.5);
  EXPECT_EQ(got, (std::vector<std::int64_t>{4, 2, 4}));
  rot(TavoArgs{1.0});
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(message_of([&] { rot(TavoArgs{}); }), "rot() missing 1 required positional argument: 'arg0'");

  std::size_t n = 0;
  auto all = make_tavo_func("all", [&](std::vector<Value> args) { n = args.size(); });
  ASSERT_EQ(all.parameters().size(), 1u);
  EXPECT_EQ(all.parameters()[0].kind, K::VAR_POSITIONAL);
  all(TavoArgs{std::int64_t{1}, std::int64_t{2}});
  EXPECT_EQ(n, 2u);
}

TEST(TavoFunc, CallRefusesArgumentCountsTheParametersCannotTake) {
  EXPECT_EQ(message_of([] {
              make_tavo_func("rx", [](double, std::int64_t) {})(TavoArgs{1.0, std::int64_t{0}, 2.0});
            }),
            "rx() takes 2 positional arguments but 3 were given");
  EXPECT_EQ(message_of([] { make_tavo_func("x", [](std::int64_t) {})(TavoArgs{}); }),
            "x() missing 1 required positional argument: 'arg0'");
  EXPECT_EQ(message_of([] { make_tavo_func("x", [] {})(TavoArgs{1.0}); }),
            "x() takes 0 positional arguments but 1 was given");

  // By hand: defaults widen the accepted range; the callable sees exactly what was passed.
  std::size_t passed = 99;
  TavoFunc hand("h",
                {{"a", K::POSITIONAL_ONLY, false},
                 {"b", K::POSITIONAL_OR_KEYWORD, true},
                 {"k", K::KEYWORD_ONLY, true},
                 {"kw", K::VAR_KEYWORD, false}},
                [&](std::span<const Value> args) {
                  passed = args.size();
                  return TavoResult{};
                });
  hand(TavoArgs{1.0});
  EXPECT_EQ(passed, 1u);
  hand(TavoArgs{1.0, 2.0});
  EXPECT_EQ(passed, 2u);
  EXPECT_EQ(message_of([&] {
              hand(TavoArgs{1.0, 2.0, 3.0});
            }),
            "h() takes from 1 to 2 positional arguments but 3 were given");
  EXPECT_EQ(
      message_of([&] {
        fn({{"a", K::POSITIONAL_ONLY}, {"b", K::POSITIONAL_OR_KEYWORD}, {"c", K::POSITIONAL_OR_KEYWORD}})(TavoArgs{});
      }),
      "f() missing 3 required positional arguments: 'a', 'b', and 'c'");
  EXPECT_EQ(message_of([&] {
              fn({{"k", K::KEYWORD_ONLY}, {"j", K::KEYWORD_ONLY}})(TavoArgs{});
            }),
            "f() missing 2 required keyword-only arguments: 'k' and 'j'");
  EXPECT_EQ(passed, 2u);
}

TEST(TavoFunc, IdentityAndEmptyCallable) {
  auto a = make_tavo_func("x", [](std::int64_t) {});
  auto copy = a;
  EXPECT_TRUE(a == copy);
  EXPECT_FALSE(a == make_tavo_func("x", [](std::int64_t) {}));
  EXPECT_EQ(message_of([] { TavoFunc("nothing", {}, nullptr); }), "The tavo-function nothing has no callable");
}

// ---- validation of a target function against its identifier

enum class Outcome { Fits, KeywordNoDefault, NonVarLast, UnexpectedVar, Mismatch };

struct ValidationCase {
  const char* identifier;
  std::vector<Parameter> parameters;
  Outcome outcome;
  std::size_t expected_args = 0;
};

TEST(Validation, EveryParameterKindWithAndWithoutDefault) {
  const ValidationCase cases[] = {
      // fixed qubits: one parameter, two parametric qubits -> 3
      {"g(1) ?, ?",
       {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD)},
       Outcome::Fits},
      {"g(1) ?, ?",
       {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD),
        p(K::POSITIONAL_OR_KEYWORD, true)},
       Outcome::Fits},
      {"g(1) ?, ?",
       {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD),
        p(K::KEYWORD_ONLY, true)},
       Outcome::Fits},
      {"g(1) ?, ?",
       {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::VAR_KEYWORD)},
       Outcome::Fits},
      {"g(1) ?, ?",
       {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD),
        p(K::POSITIONAL_OR_KEYWORD)},
       Outcome::Mismatch,
       3},
      {"g(1) ?, ?",
       {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD, true)},
       Outcome::Mismatch,
       3},
      {"g(1) ?, ?", {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD)}, Outcome::Mismatch, 3},
      // positional-only parameters count even with a default
      {"g(1) ?, ?", {p(K::POSITIONAL_ONLY), p(K::POSITIONAL_ONLY), p(K::POSITIONAL_ONLY, true)}, Outcome::Fits},
      {"h(2)", {p(K::POSITIONAL_ONLY), p(K::POSITIONAL_ONLY), p(K::POSITIONAL_ONLY, true)}, Outcome::Mismatch, 2},
      // exact qubits are not passed
      {"cx $0, $1", {}, Outcome::Fits},
      {"cx $0, $1", {p(K::POSITIONAL_ONLY)}, Outcome::Mismatch, 0},
      {"cz(1) $0, ?", {p(K::POSITIONAL_ONLY), p(K::POSITIONAL_ONLY)}, Outcome::Fits},
      // a keyword-only parameter without default is refused first, whatever else is wrong
      {"g(1) ?, ?", {p(K::POSITIONAL_OR_KEYWORD), p(K::KEYWORD_ONLY)}, Outcome::KeywordNoDefault},
      {"v ...", {p(K::KEYWORD_ONLY)}, Outcome::KeywordNoDefault},
      {"v ...", {p(K::VAR_POSITIONAL), p(K::KEYWORD_ONLY)}, Outcome::KeywordNoDefault},
      {"cx $0, $1", {p(K::VAR_POSITIONAL), p(K::KEYWORD_ONLY)}, Outcome::KeywordNoDefault},
      // varying qubits
      {"v(2) ...", {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::VAR_POSITIONAL)}, Outcome::Fits},
      {"v(2) ...", {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD)}, Outcome::NonVarLast},
      {"v(2) ...", {}, Outcome::NonVarLast},
      {"v(2) ...", {p(K::POSITIONAL_OR_KEYWORD), p(K::VAR_POSITIONAL)}, Outcome::Mismatch, 3},
      {"v ...", {p(K::VAR_POSITIONAL)}, Outcome::Fits},
      {"v ...", {p(K::VAR_POSITIONAL), p(K::POSITIONAL_ONLY)}, Outcome::NonVarLast},
      {"v ...", {p(K::VAR_POSITIONAL), p(K::KEYWORD_ONLY, true), p(K::VAR_KEYWORD)}, Outcome::Fits},
      {"v ...", {p(K::POSITIONAL_OR_KEYWORD, true), p(K::VAR_POSITIONAL)}, Outcome::Fits},
      {"v ...", {p(K::POSITIONAL_ONLY, true), p(K::VAR_POSITIONAL)}, Outcome::Mismatch, 1},
      {"v $1, ?, ...", {p(K::VAR_POSITIONAL)}, Outcome::Fits},  // all parametric qubits go to *args
      // fixed qubits refuse *args, whatever the count
      {"g(1) ?, ?",
       {p(K::POSITIONAL_OR_KEYWORD), p(K::POSITIONAL_OR_KEYWORD), p(K::VAR_POSITIONAL)},
       Outcome::UnexpectedVar},
      {"cx $0, $1", {p(K::VAR_POSITIONAL)}, Outcome::UnexpectedVar},
      {"x ?", {p(K::POSITIONAL_ONLY), p(K::VAR_POSITIONAL), p(K::POSITIONAL_ONLY)}, Outcome::UnexpectedVar},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE("case " + std::to_string(i) + ": " + c.identifier);
    auto identifier = OperationIdentifier::create_from_string(c.identifier);
    auto func = fn(c.parameters);
    try {
      validate_identifier_operation_match(identifier, func);
      EXPECT_EQ(c.outcome, Outcome::Fits);
    } catch (const KeywordArgumentWithNoDefault& e) {
      EXPECT_EQ(c.outcome, Outcome::KeywordNoDefault);
      EXPECT_EQ(e._identifier, identifier);
      EXPECT_TRUE(e._operation == func);
    } catch (const NonVarPositionalLastArgument&) {
      EXPECT_EQ(c.outcome, Outcome::NonVarLast);
    } catch (const UnexpectedVarPositionalArgument&) {
      EXPECT_EQ(c.outcome, Outcome::UnexpectedVar);
    } catch (const NumberOfParametersMismatch& e) {
      EXPECT_EQ(c.outcome, Outcome::Mismatch);
      EXPECT_EQ(e._expected_args, c.expected_args);
    }
  }
}

TEST(Validation, DeducedTargetFunctionsFitTheirIdentifiers) {
  auto check = [](const char* text, const TavoFunc& f) {
    validate_identifier_operation_match(OperationIdentifier::create_from_string(text), f);
  };
  EXPECT_NO_THROW(check("rx(1) ?", make_tavo_func("rx", [](Value, std::int64_t) {})));
  EXPECT_NO_THROW(check("cx $0, $1", make_tavo_func("cx", [] {})));
  EXPECT_NO_THROW(check("measure ...", make_tavo_func("measure", [](std::span<const Value>) {})));
  EXPECT_NO_THROW(check("delay(1) ...", make_tavo_func("delay", [](Value, std::span<const Value>) {})));
  EXPECT_THROW(check("measure ?", make_tavo_func("measure", [](std::span<const Value>) {})),
               UnexpectedVarPositionalArgument);
  EXPECT_THROW(check("rx(1) ?", make_tavo_func("rx", [](Value) {})), NumberOfParametersMismatch);
}

TEST(Validation, MessagesOfTheDefinitionErrors) {
  auto id = [](const char* text) { return OperationIdentifier::create_from_string(text); };
  auto f = fn({}, "my_rx");
  EXPECT_STREQ(KeywordArgumentWithNoDefault(id("rx(1) ?"), f).what(),
               "The tavo-function my_rx has a keyword argument with no default value, so it cannot be set when beign "
               "called.");
  EXPECT_STREQ(NonVarPositionalLastArgument(id("measure ..."), f).what(),
               "Operation 'measure' is said to have a varying number of qubit inputs, so the given tavo-function "
               "(my_rx) should have *args as its last parameter (The name 'args' is not mandatory).");
  EXPECT_STREQ(UnexpectedVarPositionalArgument(id("cx $0, ?"), f).what(),
               "Operation 'cx' should not have a varying number of qubit inputs,but the given tavo-function (my_rx) "
               "have an *args in its signature.");
  EXPECT_STREQ(NumberOfParametersMismatch(id("g(1) ?, ?"), f, 3).what(),
               "Operation 'g' is said to have 1 parameters and 2 parametric qubits,so the given tavo-function "
               "(my_rx) should have 3 arguments.");
  EXPECT_STREQ(NumberOfParametersMismatch(id("v(2) ..."), f, 3).what(),
               "Operation 'v' is said to have 2 parameters and a varying number of parametric qubits,so the given "
               "tavo-function (my_rx) should have 3 arguments.");
  // All of them are value errors of one family.
  try {
    validate_identifier_operation_match(id("x ?"), fn({}));
    ADD_FAILURE();
  } catch (const OperationDefinitionException& e) {
    EXPECT_EQ(e._identifier, id("x ?"));
    const vell_qasm::ValueError& as_value_error = e;
    EXPECT_THAT(as_value_error.what(), testing::HasSubstr("should have 1 arguments."));
  }
}

// ---- the database

TEST(OperationsDatabase, EmptyMappingResolvesNothing) {
  OperationsDatabase db({});
  EXPECT_TRUE(db.available_identifiers().empty());
  EXPECT_EQ(message_of([&] { db.resolve_operation("rx", Qubits{0}, {0.5}); }),
            "Not found relevant operation for rx(1) $0");
  EXPECT_THROW(db.resolve_operation("rx", Qubits{0}, {0.5}), UnresolvableOperation);
}

TEST(OperationsDatabase, UnresolvableWhenNoIdentifierOfTheNameAccepts) {
  OperationsDatabase db(
      {{"rx(1) ?", make_tavo_func("rx", [](Value, std::int64_t) {})}, {"cx $0, $1", make_tavo_func("cx", [] {})}});
  EXPECT_EQ(message_of([&] {
              db.resolve_operation("rx", Qubits{0}, {0.5, 1.0});
            }),
            "Not found relevant operation for rx(2) $0");
  EXPECT_EQ(message_of([&] {
              db.resolve_operation("cx", Qubits{1, 0});
            }),
            "Not found relevant operation for cx $1, $0");
  EXPECT_EQ(message_of([&] { db.resolve_operation("ry", Qubits{}, {}); }), "Not found relevant operation for ry");
}

TEST(OperationsDatabase, FirstRegisteredIdentifierThatAcceptsWins) {
  auto special = make_tavo_func("cz_0", [](std::int64_t) {});
  auto general = make_tavo_func("cz", [](std::int64_t, std::int64_t) {});
  OperationsDatabase db({{"cz $0, ?", special}, {"cz ?, ?", general}});
  EXPECT_TRUE(db.resolve_operation("cz", Qubits{0, 1}).first == special);
  EXPECT_TRUE(db.resolve_operation("cz", Qubits{2, 1}).first == general);

  OperationsDatabase reversed({{"cz ?, ?", general}, {"cz $0, ?", special}});
  EXPECT_TRUE(reversed.resolve_operation("cz", Qubits{0, 1}).first == general);
}

TEST(OperationsDatabase, LaterEqualIdentifierReplacesFunctionAndKeepsPlace) {
  auto first = make_tavo_func("first", [](std::int64_t, std::int64_t) {});
  auto narrow = make_tavo_func("narrow", [](std::int64_t) {});
  auto last = make_tavo_func("last", [](std::int64_t, std::int64_t) {});
  OperationsDatabase db(
      {{"cz ?, ?", first}, {"cz $0, ?", narrow}, {OperationIdentifier("cz", 0, {std::nullopt, std::nullopt}), last}});
  EXPECT_TRUE(db.resolve_operation("cz", Qubits{0, 1}).first == last);
  auto ids = db.available_identifiers();
  EXPECT_EQ(ids.size(), 2u);
  EXPECT_TRUE(ids.contains(OperationIdentifier::create_from_string("cz ?, ?")));
  EXPECT_TRUE(ids.contains(OperationIdentifier::create_from_string("cz $0, ?")));
  ids.clear();  // a copy: the database keeps its identifiers
  EXPECT_EQ(db.available_identifiers().size(), 2u);
}

TEST(OperationsDatabase, ArgumentsAreParametersThenParametricQubits) {
  Expr x = vell_test::fresh_variable();
  OperationsDatabase db({
      {"rx(2) ?", make_tavo_func("rx", [](Value, Value, std::int64_t) {})},
      {"h ?", make_tavo_func("h", [](std::int64_t) {})},
      {"cphase(1) $0, $1", make_tavo_func("cphase", [](Value) {})},
      {"measure ...", make_tavo_func("measure", [](std::span<const Value>) {})},
      {"cz $1, ?", make_tavo_func("cz", [](std::int64_t) {})},
  });
  auto [rx, rx_args] = db.resolve_operation("rx", Qubits{3}, {0.5, x});
  ASSERT_EQ(rx_args.size(), 3u);
  EXPECT_EQ(std::get<double>(rx_args[0]), 0.5);
  EXPECT_EQ(std::get<Expr>(rx_args[1]).node(), x.node());
  EXPECT_EQ(std::get<std::int64_t>(rx_args[2]), 3);
  EXPECT_EQ(rx.name(), "rx");
  EXPECT_NO_THROW(rx(rx_args));

  auto as_ints = [](const TavoArgs& args) {
    std::vector<std::int64_t> out;
    for (const auto& v : args) out.push_back(std::get<std::int64_t>(v));
    return out;
  };
  EXPECT_EQ(as_ints(db.resolve_operation("h", Qubits{7}).second), (std::vector<std::int64_t>{7}));
  auto cphase = db.resolve_operation("cphase", Qubits{0, 1}, {1.25}).second;
  ASSERT_EQ(cphase.size(), 1u);
  EXPECT_EQ(std::get<double>(cphase[0]), 1.25);
  EXPECT_EQ(as_ints(db.resolve_operation("measure", Qubits{2, 0, 2}).second), (std::vector<std::int64_t>{2, 0, 2}));
  EXPECT_TRUE(db.resolve_operation("measure", Qubits{}).second.empty());
  EXPECT_EQ(as_ints(db.resolve_operation("cz", Qubits{1, 4}).second), (std::vector<std::int64_t>{4}));
}

TEST(OperationsDatabase, ConstructionStopsAtTheFirstBadEntry) {
  auto fits = make_tavo_func("x", [](std::int64_t) {});
  auto no_args = make_tavo_func("bad", [] {});
  EXPECT_THROW(OperationsDatabase({{"x ?", fits}, {"x ?,", fits}, {"y ?", no_args}}), vell_qasm::ValueError);
  try {
    OperationsDatabase({{"x ?", fits}, {"y ?", no_args}, {"x ?,", fits}});
    ADD_FAILURE();
  } catch (const NumberOfParametersMismatch& e) {
    EXPECT_EQ(e._identifier.name(), "y");
    EXPECT_TRUE(e._operation == no_args);
  }
}

}  // namespace
