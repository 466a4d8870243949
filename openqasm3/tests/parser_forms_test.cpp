// Parser: every source form against a tree built by hand, and the spans of a few forms.
// GCC 12 at -O3 reports a false -Wrestrict in std::string concatenation inlined from the
// node classes' repr (GCC bug 105651).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "tree_builders.hpp"

namespace {

using namespace qasm_test;
using openqasm3::dumps;
using openqasm3::parse;

using Exprs = std::vector<ExprPtr>;
using Nodes = std::vector<NodePtr>;
using Stmts = std::vector<StmtPtr>;
using Mods = std::vector<Ptr<QuantumGateModifier>>;

struct Case {
  std::string source;
  NodePtr expected;
};

// Parses `source` and compares its only statement with `expected`.
void expect_statement(const std::string& source, const NodePtr& expected) {
  auto program = parse(source);
  ASSERT_EQ(program->statements.size(), 1u) << source;
  EXPECT_TRUE(equal(program->statements[0], expected))
      << source << "\n got: " << repr(program->statements[0]) << "\nwant: " << repr(expected);
}

void expect_all(const std::vector<Case>& cases) {
  for (const auto& c : cases) expect_statement(c.source, c.expected);
}

// The expression of `x = <expr>;`.
ExprPtr expr_of(const std::string& text) {
  auto program = parse("x = " + text + ";");
  auto assign = dyn_cast<ClassicalAssignment>(program->statements.at(0));
  if (!assign) throw std::runtime_error("not an assignment: " + text);
  return assign->rvalue;
}

void expect_expr(const std::string& text, const ExprPtr& expected) {
  ExprPtr got = expr_of(text);
  EXPECT_TRUE(equal(got, expected)) << text << "\n got: " << repr(got) << "\nwant: " << repr(expected);
}

Ptr<Identifier> hw(int n) { return id("$" + std::to_string(n)); }
Ptr<IndexedIdentifier> el(std::string name, std::int64_t i) { return indexed(std::move(name), {IndexList{num(i)}}); }
Ptr<QuantumGate> gate_d(std::string name, Exprs args, Nodes qubits, ExprPtr duration, Mods mods = {}) {
  return make<QuantumGate>(std::move(mods), id(std::move(name)), std::move(args), std::move(qubits), std::move(duration));
}
Ptr<QuantumGateModifier> mod(GateModifierName m, ExprPtr arg = nullptr) { return make<QuantumGateModifier>(m, std::move(arg)); }
Ptr<ClassicalDeclaration> decl(TypePtr type, std::string name, NodePtr init = nullptr) {
  return make<ClassicalDeclaration>(std::move(type), id(std::move(name)), std::move(init));
}
Ptr<QuantumMeasurement> meas(NodePtr q) { return make<QuantumMeasurement>(std::move(q)); }
Ptr<DurationLiteral> dur(double v, TimeUnit u) { return make<DurationLiteral>(v, u); }
Ptr<CompoundStatement> block(Stmts s) { return make<CompoundStatement>(std::move(s)); }
Ptr<DiscreteSet> set(Exprs v) { return make<DiscreteSet>(std::move(v)); }
Ptr<ExpressionStatement> call_stmt(std::string name, Exprs args) {
  return stmt(make<FunctionCall>(id(std::move(name)), std::move(args)));
}
template <class T> Ptr<T> sized(std::int64_t n) { return make<T>(num(n)); }

// ---------------------------------------------------------------------------------------------

TEST(ParserForms, ProgramVersionCommentsAndEmptySources) {
  auto p = parse("// lead\n/* block */ OPENQASM 3;\nqubit q;");
  EXPECT_EQ(p->version, std::optional<std::string>("3"));
  EXPECT_EQ(parse("OPENQASM 3.0;")->version, std::optional<std::string>("3.0"));
  EXPECT_EQ(parse("OPENQASM\n  3.1 ;")->version, std::optional<std::string>("3.1"));
  EXPECT_EQ(parse("qubit q;")->version, std::nullopt);
  for (std::string empty : {"", "   \n\t\r\n", "// only a comment", "/* a */ // b\n"}) {
    auto e = parse(empty);
    EXPECT_TRUE(equal(*e, Program({}, std::nullopt))) << repr(*e);
  }
  // The reference's version pre-check accepts `OPENQASM3`, which the lexer reads as a name.
  expect_statement("OPENQASM3;", stmt(id("OPENQASM3")));
}

TEST(ParserForms, Declarations) {
  expect_all({
      {"qubit q;", make<QubitDeclaration>(id("q"), nullptr)},
      {"qubit[4] q;", make<QubitDeclaration>(id("q"), num(4))},
      {"qreg q;", make<QubitDeclaration>(id("q"), nullptr)},
      {"qreg q[2];", make<QubitDeclaration>(id("q"), num(2))},
      {"creg c;", decl(make<BitType>(nullptr), "c")},
      {"creg c[3];", decl(sized<BitType>(3), "c")},
      {"int[32] x = 5;", decl(sized<IntType>(32), "x", num(5))},
      {"bit b;", decl(make<BitType>(nullptr), "b")},
      {"array[int[8], 2] a = {1, 2};",
       decl(make<ArrayType>(sized<IntType>(8), Exprs{num(2)}), "a", make<ArrayLiteral>(Exprs{num(1), num(2)}))},
      {"array[float, 2, 3] m = {{1.0}, {}};",
       decl(make<ArrayType>(make<FloatType>(nullptr), Exprs{num(2), num(3)}), "m",
            make<ArrayLiteral>(Exprs{make<ArrayLiteral>(Exprs{real(1.0)}), make<ArrayLiteral>(Exprs{})}))},
      {"int x = {1,};", decl(make<IntType>(nullptr), "x", make<ArrayLiteral>(Exprs{num(1)}))},
      {"bit c = measure q;", decl(make<BitType>(nullptr), "c", meas(id("q")))},
      {"bit c = mname(1) q, r;",
       decl(make<BitType>(nullptr), "c", make<QuantumCallExpression>(id("mname"), Exprs{num(1)}, Nodes{id("q"), id("r")}))},
      {"bit c = mq $0;", decl(make<BitType>(nullptr), "c", make<QuantumCallExpression>(id("mq"), Exprs{}, Nodes{hw(0)}))},
      {"int y = f(1);", decl(make<IntType>(nullptr), "y", make<FunctionCall>(id("f"), Exprs{num(1)}))},
      {"const float c = 1.5;", make<ConstantDeclaration>(make<FloatType>(nullptr), id("c"), real(1.5))},
      {"input angle[16] a;", make<IODeclaration>(IOKeyword::input, sized<AngleType>(16), id("a"))},
      {"output array[bit, 4] o;",
       make<IODeclaration>(IOKeyword::output, make<ArrayType>(make<BitType>(nullptr), Exprs{num(4)}), id("o"))},
  });
}

TEST(ParserForms, Types) {
  auto type_of = [](const std::string& t) {
    auto p = parse(t + " v;");
    return dyn_cast<ClassicalDeclaration>(p->statements.at(0))->type;
  };
  std::vector<std::pair<std::string, TypePtr>> cases = {
      {"int", make<IntType>(nullptr)},
      {"int[n + 1]", make<IntType>(bin("+", id("n"), num(1)))},
      {"uint[8]", sized<UintType>(8)},
      {"float[64]", sized<FloatType>(64)},
      {"angle", make<AngleType>(nullptr)},
      {"bit[2]", sized<BitType>(2)},
      {"bool", make<BoolType>()},
      {"duration", make<DurationType>()},
      {"stretch", make<StretchType>()},
      {"complex", make<ComplexType>(nullptr)},
      {"complex[float]", make<ComplexType>(make<FloatType>(nullptr))},
      {"complex[float[64]]", make<ComplexType>(sized<FloatType>(64))},
      {"array[complex[float], 2]", make<ArrayType>(make<ComplexType>(make<FloatType>(nullptr)), Exprs{num(2)})},
  };
  for (auto& [text, want] : cases) EXPECT_TRUE(equal(type_of(text), want)) << text << ": " << repr(type_of(text));
  // Zero-size bit and float types and qubit registers are accepted (only int/uint/angle are checked).
  EXPECT_NO_THROW(parse("bit[0] b; float[0] f; qubit[0] q;"));
}

TEST(ParserForms, GateCallsAndQuantumStatements) {
  expect_all({
      {"h q;", gate("h", {}, {id("q")})},
      {"h() q;", gate("h", {}, {id("q")})},
      {"rx(pi/2) q[0];", gate("rx", {bin("/", id("pi"), num(2))}, {el("q", 0)})},
      {"cx q[0], $1;", gate("cx", {}, {el("q", 0), hw(1)})},
      {"cx a, b,;", gate("cx", {}, {id("a"), id("b")})},
      {"cx[100ns] a, b;", gate_d("cx", {}, {id("a"), id("b")}, dur(100, TimeUnit::ns))},
      {"rx(t)[d] q;", gate_d("rx", {id("t")}, {id("q")}, id("d"))},
      {"ctrl @ inv @ pow(2) @ negctrl(2) @ x a, b;",
       gate_d("x", {}, {id("a"), id("b")}, nullptr,
              {mod(GateModifierName::ctrl), mod(GateModifierName::inv), mod(GateModifierName::pow, num(2)),
               mod(GateModifierName::negctrl, num(2))})},
      {"inv@ x q;", gate_d("x", {}, {id("q")}, nullptr, {mod(GateModifierName::inv)})},
      {"f(a) q;", gate("f", {id("a")}, {id("q")})},
      {"mname q;", gate("mname", {}, {id("q")})},
      {"gphase(pi);", make<QuantumPhase>(Mods{}, id("pi"), Nodes{})},
      {"ctrl @ gphase(a) q;", make<QuantumPhase>(Mods{mod(GateModifierName::ctrl)}, id("a"), Nodes{id("q")})},
      {"gphase(a)[d] q;", make<QuantumPhase>(Mods{}, id("a"), Nodes{id("q")})},
      {"reset q[0];", make<QuantumReset>(el("q", 0))},
      {"reset $3;", make<QuantumReset>(hw(3))},
      {"barrier;", make<QuantumBarrier>(Nodes{})},
      {"barrier q, $2;", make<QuantumBarrier>(Nodes{id("q"), hw(2)})},
      {"delay[d] q, r;", make<DelayInstruction>(id("d"), Nodes{id("q"), id("r")})},
      {"delay[2 * g];", make<DelayInstruction>(bin("*", num(2), id("g")), Nodes{})},
      {"nop;", make<QuantumNop>(Nodes{})},
      {"nop $0, q[1];", make<QuantumNop>(Nodes{hw(0), el("q", 1)})},
      {"box { x q; }", make<Box>(nullptr, Stmts{gate("x", {}, {id("q")})})},
      {"box[100ns] { }", make<Box>(dur(100, TimeUnit::ns), Stmts{})},
  });
}

TEST(ParserForms, MeasurementsAllGiveOneTree) {
  auto arrow = make<QuantumMeasurementStatement>(meas(id("q")), id("c"));
  expect_statement("measure q -> c;", arrow);
  expect_statement("c = measure q;", arrow);
  expect_statement("measure q;", make<QuantumMeasurementStatement>(meas(id("q")), nullptr));
  // The compound operator is dropped, as in the reference.
  expect_statement("c[0] += measure q[0];", make<QuantumMeasurementStatement>(meas(el("q", 0)), el("c", 0)));
  auto call = make<QuantumMeasurementStatement>(
      make<QuantumCallExpression>(id("mname"), Exprs{id("a")}, Nodes{id("q")}), id("c"));
  expect_statement("mname(a) q -> c;", call);
  expect_statement("c = mname(a) q;", call);
  expect_statement("c = mname q, r;", make<QuantumMeasurementStatement>(
                                          make<QuantumCallExpression>(id("mname"), Exprs{}, Nodes{id("q"), id("r")}),
                                          id("c")));
  expect_statement("measure b[0:3] -> ans[0:3];",
                   make<QuantumMeasurementStatement>(meas(indexed("b", {IndexList{range(num(0), num(3))}})),
                                                     indexed("ans", {IndexList{range(num(0), num(3))}})));
}

TEST(ParserForms, AssignmentsAliasesAndExpressionStatements) {
  expect_all({
      {"x = 1;", make<ClassicalAssignment>(id("x"), AssignmentOperator::assign, num(1))},
      {"c = f(x);", make<ClassicalAssignment>(id("c"), AssignmentOperator::assign, make<FunctionCall>(id("f"), Exprs{id("x")}))},
      {"c = name;", make<ClassicalAssignment>(id("c"), AssignmentOperator::assign, id("name"))},
      {"a[i] += e;", make<ClassicalAssignment>(indexed("a", {IndexList{id("i")}}), AssignmentOperator::plus_assign, id("e"))},
      {"a[0][1:2] = b;",
       make<ClassicalAssignment>(indexed("a", {IndexList{num(0)}, IndexList{range(num(1), num(2))}}),
                                 AssignmentOperator::assign, id("b"))},
      {"a[{1, 2}] = b;", make<ClassicalAssignment>(indexed("a", {set({num(1), num(2)})}), AssignmentOperator::assign, id("b"))},
      {"a[1, 2:3] = b;",
       make<ClassicalAssignment>(indexed("a", {IndexList{num(1), range(num(2), num(3))}}), AssignmentOperator::assign, id("b"))},
      {"let a = q[0:2] ++ r ++ s;",
       make<AliasStatement>(id("a"), make<Concatenation>(make<Concatenation>(at(id("q"), {range(num(0), num(2))}), id("r")), id("s")))},
      {"let io = input_qubit;", make<AliasStatement>(id("io"), id("input_qubit"))},
      {"f(1);", call_stmt("f", {num(1)})},
      {"f();", call_stmt("f", {})},
      {"x;", stmt(id("x"))},
      {"$0;", stmt(hw(0))},
      {"f(x)[1] + 2;", stmt(bin("+", at(make<FunctionCall>(id("f"), Exprs{id("x")}), {num(1)}), num(2)))},
      {"a[0] * 2;", stmt(bin("*", at(id("a"), {num(0)}), num(2)))},
      {"int[8](y);", stmt(make<Cast>(sized<IntType>(8), id("y")))},
      {"(a + b)[0];", stmt(at(bin("+", id("a"), id("b")), {num(0)}))},
  });
  const std::pair<const char*, AssignmentOperator> ops[] = {
      {"+=", AssignmentOperator::plus_assign},   {"-=", AssignmentOperator::minus_assign},
      {"*=", AssignmentOperator::times_assign},  {"/=", AssignmentOperator::divide_assign},
      {"&=", AssignmentOperator::bitand_assign}, {"|=", AssignmentOperator::bitor_assign},
      {"^=", AssignmentOperator::bitxor_assign}, {"<<=", AssignmentOperator::shl_assign},
      {">>=", AssignmentOperator::shr_assign},   {"%=", AssignmentOperator::modulo_assign},
      {"**=", AssignmentOperator::power_assign}, {"~=", AssignmentOperator::bitnot_assign},
  };
  for (auto& [text, op] : ops) {
    expect_statement(std::string("x ") + text + " 2;", make<ClassicalAssignment>(id("x"), op, num(2)));
    // Also written without blanks, and printed back as written.
    expect_statement(std::string("x") + text + "2;", make<ClassicalAssignment>(id("x"), op, num(2)));
    EXPECT_EQ(dumps(*make<ClassicalAssignment>(id("x"), op, num(2))), std::string("x ") + text + " 2;\n");
  }
}

TEST(ParserForms, ControlFlow) {
  auto xq = gate("x", {}, {id("q")});
  auto hq = gate("h", {}, {id("q")});
  expect_all({
      {"if (c) x q;", make<BranchingStatement>(id("c"), Stmts{xq}, Stmts{})},
      {"if (c) { x q; h q; } else h q;", make<BranchingStatement>(id("c"), Stmts{xq, hq}, Stmts{hq})},
      {"if (a) x q; else if (b) h q;",
       make<BranchingStatement>(id("a"), Stmts{xq}, Stmts{make<BranchingStatement>(id("b"), Stmts{hq}, Stmts{})})},
      {"if (c) { { x q; } }", make<BranchingStatement>(id("c"), Stmts{block({xq})}, Stmts{})},
      {"while (i < 3) i += 1;",
       make<WhileLoop>(bin("<", id("i"), num(3)), Stmts{make<ClassicalAssignment>(id("i"), AssignmentOperator::plus_assign, num(1))})},
      {"for int i in [0:10] x q;", make<ForInLoop>(make<IntType>(nullptr), id("i"), range(num(0), num(10)), Stmts{xq})},
      {"for uint i in [2:-1:0] {}",
       make<ForInLoop>(make<UintType>(nullptr), id("i"), range(num(2), num(0), un("-", num(1))), Stmts{})},
      {"for int[8] i in {1, 2, 3} {}", make<ForInLoop>(sized<IntType>(8), id("i"), set({num(1), num(2), num(3)}), Stmts{})},
      {"for int i in arr {}", make<ForInLoop>(make<IntType>(nullptr), id("i"), id("arr"), Stmts{})},
      {"for int i in a[0:2] {}", make<ForInLoop>(make<IntType>(nullptr), id("i"), at(id("a"), {range(num(0), num(2))}), Stmts{})},
      {"while (true) { break; continue; }",
       make<WhileLoop>(make<BooleanLiteral>(true), Stmts{make<BreakStatement>(), make<ContinueStatement>()})},
      {"end;", make<EndStatement>()},
      {"{ x q; }", block({xq})},
  });
  expect_statement("switch (x) { case 1, 2, { x q; } case e { } default { h q; } }",
                   make<SwitchStatement>(id("x"),
                                         std::vector<SwitchCase>{{Exprs{num(1), num(2)}, block({xq})}, {Exprs{id("e")}, block({})}},
                                         block({hq})));
  expect_statement("switch (x) { case 0 {} }",
                   make<SwitchStatement>(id("x"), std::vector<SwitchCase>{{Exprs{num(0)}, block({})}}, nullptr));
  expect_statement("switch (x) { default {} }", make<SwitchStatement>(id("x"), std::vector<SwitchCase>{}, block({})));
}

TEST(ParserForms, DefinitionsAndCalibration) {
  expect_all({
      {"gate g(a, b) q, r { U(a, b, 0) q; }",
       make<QuantumGateDefinition>(id("g"), std::vector<Ptr<Identifier>>{id("a"), id("b")},
                                   std::vector<Ptr<Identifier>>{id("q"), id("r")}, Stmts{gate("U", {id("a"), id("b"), num(0)}, {id("q")})})},
      {"gate g() q, { }", make<QuantumGateDefinition>(id("g"), std::vector<Ptr<Identifier>>{},
                                                      std::vector<Ptr<Identifier>>{id("q")}, Stmts{})},
      {"def f() {}", make<SubroutineDefinition>(id("f"), Nodes{}, Stmts{}, nullptr)},
      {"extern e(int[8], readonly array[int, 2], creg[4], creg) -> bit[2];",
       make<ExternDeclaration>(id("e"),
                               std::vector<Ptr<ExternArgument>>{
                                   make<ExternArgument>(sized<IntType>(8), std::nullopt),
                                   make<ExternArgument>(make<ArrayReferenceType>(make<IntType>(nullptr), Exprs{num(2)}), AccessControl::readonly),
                                   make<ExternArgument>(sized<BitType>(4), std::nullopt),
                                   make<ExternArgument>(make<BitType>(nullptr), std::nullopt)},
                               sized<BitType>(2))},
      {"extern v();", make<ExternDeclaration>(id("v"), std::vector<Ptr<ExternArgument>>{}, nullptr)},
      {"include \"stdgates.inc\";", make<Include>("stdgates.inc")},
      {"include 'x.inc';", make<Include>("x.inc")},
      {"defcalgrammar \"openpulse\";", make<CalibrationGrammarDeclaration>("openpulse")},
      {"cal { raw { nested } // c\n}", make<CalibrationStatement>(" raw { nested } // c\n")},
      {"cal {}", make<CalibrationStatement>("")},
      {"defcal rz(angle[20] th) $0 -> bit { raw }",
       make<CalibrationDefinition>(id("rz"), Nodes{make<ClassicalArgument>(sized<AngleType>(20), id("th"), std::nullopt)},
                                   std::vector<Ptr<Identifier>>{hw(0)}, make<BitType>(nullptr), " raw ")},
      {"defcal rx(pi/2, 1.0, int x, qubit[2] s) $1, q {}",
       make<CalibrationDefinition>(id("rx"),
                                   Nodes{bin("/", id("pi"), num(2)), real(1.0),
                                         make<ClassicalArgument>(make<IntType>(nullptr), id("x"), std::nullopt),
                                         make<QuantumArgument>(id("s"), num(2))},
                                   std::vector<Ptr<Identifier>>{hw(1), id("q")}, nullptr, "")},
      {"defcal measure $0 -> bit {}",
       make<CalibrationDefinition>(id("measure"), Nodes{}, std::vector<Ptr<Identifier>>{hw(0)}, make<BitType>(nullptr), "")},
  });
  // A full def: every kind of parameter, including `creg c[2]`, which the reference fails on.
  auto def = make<SubroutineDefinition>(
      id("f"),
      Nodes{make<ClassicalArgument>(sized<IntType>(8), id("a"), std::nullopt), make<QuantumArgument>(id("q"), nullptr),
            make<QuantumArgument>(id("r"), num(2)), make<QuantumArgument>(id("s"), num(3)),
            make<ClassicalArgument>(make<BitType>(nullptr), id("d"), std::nullopt),
            make<ClassicalArgument>(sized<BitType>(2), id("e"), std::nullopt),
            make<ClassicalArgument>(make<ArrayReferenceType>(make<IntType>(nullptr), Exprs{num(2)}), id("m"), AccessControl::readonly),
            make<ClassicalArgument>(make<ArrayReferenceType>(make<UintType>(nullptr), ExprPtr(num(2))), id("n"), AccessControl::mutable_)},
      Stmts{make<ReturnStatement>(meas(id("q")))}, make<BitType>(nullptr));
  expect_statement(
      "def f(int[8] a, qubit q, qubit[2] r, qreg s[3], creg d, creg e[2], readonly array[int,2] m, "
      "mutable array[uint,#dim=2] n) -> bit { return measure q; }",
      def);
  expect_statement("def g() { return; }", make<SubroutineDefinition>(id("g"), Nodes{}, Stmts{make<ReturnStatement>(nullptr)}, nullptr));
  expect_statement("def g(qubit q) -> bit { return mq q; }",
                   make<SubroutineDefinition>(id("g"), Nodes{make<QuantumArgument>(id("q"), nullptr)},
                                              Stmts{make<ReturnStatement>(make<QuantumCallExpression>(id("mq"), Exprs{}, Nodes{id("q")}))},
                                              make<BitType>(nullptr)));
}

TEST(ParserForms, PragmasAndAnnotations) {
  auto p = parse("pragma   keep  trailing  \n#pragma other\n@ns.key rest of line\n@bare\nx q;\n");
  ASSERT_EQ(p->statements.size(), 3u);
  EXPECT_TRUE(equal(p->statements[0], make<Pragma>("keep  trailing  ")));
  EXPECT_TRUE(equal(p->statements[1], make<Pragma>("other")));
  auto want = annotate(annotate(gate("x", {}, {id("q")}), "ns.key", "rest of line"), "bare");
  EXPECT_TRUE(equal(p->statements[2], want)) << repr(p->statements[2]);
  // `pragmatic` is a name, `#pragmatic` a pragma.
  EXPECT_TRUE(equal(parse("pragmatic;")->statements[0], stmt(id("pragmatic"))));
  EXPECT_TRUE(equal(parse("#pragmatic")->statements[0], make<Pragma>("tic")));
}

TEST(ParserForms, Literals) {
  std::vector<std::pair<std::string, ExprPtr>> cases = {
      {"0b1010", num(10)}, {"0B1_1", num(3)}, {"0o17", num(15)}, {"0x1F", num(31)}, {"0XaB", num(171)},
      {"1_000", num(1000)}, {"007", num(7)}, {"9223372036854775807", num(INT64_MAX)},
      {"1.5", real(1.5)}, {".5", real(0.5)}, {"1.", real(1.0)}, {"1e3", real(1000.0)}, {"1.e5", real(100000.0)},
      {"1_0.2_5e-1_0", real(1.025e-9)}, {"1E+2", real(100.0)}, {"1e999", real(HUGE_VAL)}, {"1e-999", real(0.0)},
      {"2im", make<ImaginaryLiteral>(2.0)}, {"1.5 im", make<ImaginaryLiteral>(1.5)}, {"3.0e2im", make<ImaginaryLiteral>(300.0)},
      {"100ns", dur(100, TimeUnit::ns)}, {"1.5 ns", dur(1.5, TimeUnit::ns)}, {"2e3us", dur(2000, TimeUnit::us)},
      {"4\xC2\xB5s", dur(4, TimeUnit::us)}, {"5ms", dur(5, TimeUnit::ms)}, {"6s", dur(6, TimeUnit::s)},
      {"1dt", dur(1, TimeUnit::dt)}, {"1e3s", dur(1000, TimeUnit::s)}, {"2\ts", dur(2, TimeUnit::s)},
      {"\"0101\"", make<BitstringLiteral>(5, 4)}, {"\"0_1\"", make<BitstringLiteral>(1, 2)},
      {"\"0000000000000000000000000000000000000000000000000000000000000000000001\"", make<BitstringLiteral>(1, 70)},
      {"true", make<BooleanLiteral>(true)}, {"false", make<BooleanLiteral>(false)},
      {"θ", id("θ")}, {"αβγ_1", id("αβγ_1")}, {"ⅷ", id("ⅷ")}, {"$12", hw(12)}, {"_x9", id("_x9")},
  };
  for (auto& [text, want] : cases) expect_expr(text, want);
}

TEST(ParserForms, LongestMatchLexing) {
  expect_expr("a--1", bin("-", id("a"), un("-", num(1))));
  expect_expr("a<=b", bin("<=", id("a"), id("b")));
  expect_statement("a<<=b;", make<ClassicalAssignment>(id("a"), AssignmentOperator::shl_assign, id("b")));
  expect_statement("a**=b;", make<ClassicalAssignment>(id("a"), AssignmentOperator::power_assign, id("b")));
  expect_statement("ctrl(2)@ x a,b,c;", gate_d("x", {}, {id("a"), id("b"), id("c")}, nullptr,
                                              {mod(GateModifierName::ctrl, num(2))}));
}

TEST(ParserForms, CallsCastsAndSpecialForms) {
  std::vector<std::pair<std::string, ExprPtr>> cases = {
      {"f(a, b,)", make<FunctionCall>(id("f"), Exprs{id("a"), id("b")})},
      {"sizeof(a)", make<SizeOf>(id("a"), nullptr)},
      {"sizeof(a, 1)", make<SizeOf>(id("a"), num(1))},
      {"float(z)", make<Cast>(make<FloatType>(nullptr), id("z"))},
      {"bit[4](w)", make<Cast>(sized<BitType>(4), id("w"))},
      {"complex[float](v)", make<Cast>(make<ComplexType>(make<FloatType>(nullptr)), id("v"))},
      {"duration(x)", make<Cast>(make<DurationType>(), id("x"))},
      {"array[int[8], 2](v)", make<Cast>(make<ArrayType>(sized<IntType>(8), Exprs{num(2)}), id("v"))},
      {"durationof({ x $0; y $1; })",
       make<DurationOf>(Stmts{gate("x", {}, {hw(0)}), gate("y", {}, {hw(1)})})},
      {"$0[1]", at(hw(0), {num(1)})},
  };
  for (auto& [text, want] : cases) expect_expr(text, want);
}

TEST(ParserForms, IndexForms) {
  std::vector<std::pair<std::string, ExprPtr>> cases = {
      {"q[0]", at(id("q"), {num(0)})},
      {"q[0:2]", at(id("q"), {range(num(0), num(2))})},
      {"q[0:2:10]", at(id("q"), {range(num(0), num(10), num(2))})},
      {"q[:]", at(id("q"), {range(nullptr, nullptr)})},
      {"q[1:]", at(id("q"), {range(num(1), nullptr)})},
      {"q[:3]", at(id("q"), {range(nullptr, num(3))})},
      {"q[::3]", at(id("q"), {range(nullptr, num(3))})},
      {"q[1::3]", at(id("q"), {range(num(1), num(3))})},
      {"q[:2:3]", at(id("q"), {range(nullptr, num(3), num(2))})},
      {"q[{0, 1}]", make<IndexExpression>(id("q"), IndexElement(set({num(0), num(1)})))},
      {"a[1][2]", at(at(id("a"), {num(1)}), {num(2)})},
      {"a[1, 2]", at(id("a"), {num(1), num(2)})},
      {"a[0:1, 2]", at(id("a"), {range(num(0), num(1)), num(2)})},
      {"a[1,]", at(id("a"), {num(1)})},
  };
  for (auto& [text, want] : cases) expect_expr(text, want);
  expect_statement("x q[0][1:2];", gate("x", {}, {indexed("q", {IndexList{num(0)}, IndexList{range(num(1), num(2))}})}));
}

TEST(ParserForms, OperatorPrecedenceAndAssociativity) {
  auto a = id("a"), b = id("b"), c = id("c"), d = id("d");
  std::vector<std::pair<std::string, ExprPtr>> cases = {
      {"-a ** b", un("-", bin("**", a, b))},
      {"2 ** -3", bin("**", num(2), un("-", num(3)))},
      {"-a * b", bin("*", un("-", a), b)},
      {"!a && ~b || c", bin("||", bin("&&", un("!", a), un("~", b)), c)},
      {"a << 1 + 2", bin("<<", a, bin("+", num(1), num(2)))},
      {"a == b < c", bin("==", a, bin("<", b, c))},
      {"a & b ^ c | d", bin("|", bin("^", bin("&", a, b), c), d)},
      {"-a[0]", un("-", at(a, {num(0)}))},
      {"a ** b ** c", bin("**", a, bin("**", b, c))},
      {"a < b < c", bin("<", bin("<", a, b), c)},
      {"a - b - c", bin("-", bin("-", a, b), c)},
      {"a / b % c * d", bin("*", bin("%", bin("/", a, b), c), d)},
      {"a >= b != c <= d", bin("!=", bin(">=", a, b), bin("<=", c, d))},
      {"a >> b > c", bin(">", bin(">>", a, b), c)},
      {"(a + b) * c", bin("*", bin("+", a, b), c)},
      {"- - a", un("-", un("-", a))},
      {"2 ** -3 * 4", bin("*", bin("**", num(2), un("-", num(3))), num(4))},
      {"a * -b + c", bin("+", bin("*", a, un("-", b)), c)},
      {"a ** b[0]", bin("**", a, at(b, {num(0)}))},
  };
  for (auto& [text, want] : cases) expect_expr(text, want);
}

TEST(ParserForms, SpansFollowTheReference) {
  auto span_is = [](const QASMNode& n, int l0, int c0, int l1, int c1) {
    ASSERT_TRUE(n.span.has_value()) << repr(n);
    EXPECT_EQ(*n.span, (Span{l0, c0, l1, c1})) << repr(n);
  };
  {
    auto p = parse("qubit[2] q;");
    auto q = dyn_cast<QubitDeclaration>(p->statements[0]);
    span_is(*q, 1, 0, 1, 10);
    span_is(*q->size, 1, 5, 1, 7);  // the designator, brackets included
    span_is(*q->qubit, 1, 9, 1, 9);
    span_is(*p, 1, 0, 1, 10);
  }
  {
    auto p = parse("qubit myqubit;");
    span_is(*dyn_cast<QubitDeclaration>(p->statements[0])->qubit, 1, 6, 1, 12);
  }
  {
    // A statement's span starts at its first annotation; parentheses widen an expression's span.
    auto p = parse("\n@a x\n  y = (1 + bb) * 3;");
    auto s = dyn_cast<ClassicalAssignment>(p->statements[0]);
    span_is(*s, 2, 0, 3, 18);
    span_is(*s->annotations[0], 2, 0, 2, 3);
    span_is(*s->lvalue, 3, 2, 3, 2);
    auto mul = dyn_cast<BinaryExpression>(s->rvalue);
    span_is(*mul, 3, 6, 3, 17);
    span_is(*mul->lhs, 3, 6, 3, 13);
    span_is(*dyn_cast<BinaryExpression>(mul->lhs)->rhs, 3, 11, 3, 11);
  }
  {
    // Columns count code points, not bytes.
    auto p = parse("θθ = π;");
    auto s = dyn_cast<ClassicalAssignment>(p->statements[0]);
    span_is(*s, 1, 0, 1, 6);
    span_is(*s->rvalue, 1, 5, 1, 5);
  }
  {
    auto p = parse("x q[0];\ncreg c[3];");
    auto g = dyn_cast<QuantumGate>(p->statements[0]);
    span_is(*g->name, 1, 0, 1, 0);
    span_is(*g->qubits[0], 1, 2, 1, 5);
    span_is(*dyn_cast<IndexedIdentifier>(g->qubits[0])->name, 1, 2, 1, 2);
    auto d = dyn_cast<ClassicalDeclaration>(p->statements[1]);
    span_is(*d->type, 2, 0, 2, 8);  // from `creg` to the designator
  }
  {
    auto p = parse("extern e(creg[2]);");
    auto e = dyn_cast<ExternDeclaration>(p->statements[0]);
    EXPECT_FALSE(e->arguments[0]->type->span.has_value());
    span_is(*e->arguments[0], 1, 9, 1, 15);
  }
}

}  // namespace
