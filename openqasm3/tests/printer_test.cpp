// Printer tests. The full-program layouts are golden files under tests/golden/printer/; after a
// deliberate change of layout, refresh them with
//   VELL_UPDATE_GOLDEN=1 <build>/openqasm3_tests --gtest_filter='PrinterGolden.*'
// and review the diff.
#include "openqasm3/printer.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tree_builders.hpp"
#include "vell_test/golden.hpp"

namespace {

using namespace qasm_test;
using openqasm3::dumps;
using openqasm3::PrinterOptions;

using Mods = std::vector<Ptr<QuantumGateModifier>>;
using Stmts = std::vector<StmtPtr>;
using Exprs = std::vector<ExprPtr>;
using Nodes = std::vector<NodePtr>;

Ptr<QuantumGateModifier> mod(GateModifierName m, ExprPtr arg = nullptr) { return make<QuantumGateModifier>(m, std::move(arg)); }
Ptr<QuantumGate> gate_on(std::string name, std::string qubit) { return gate(std::move(name), {}, {id(std::move(qubit))}); }
Ptr<IndexedIdentifier> element(std::string name, std::int64_t i) { return indexed(std::move(name), {IndexList{num(i)}}); }
Ptr<CompoundStatement> compound(Stmts s) { return make<CompoundStatement>(std::move(s)); }
Ptr<DurationLiteral> duration(double v, TimeUnit u) { return make<DurationLiteral>(v, u); }
Ptr<ClassicalDeclaration> declare(TypePtr type, std::string name, NodePtr init = nullptr) {
  return make<ClassicalDeclaration>(std::move(type), id(std::move(name)), std::move(init));
}
Ptr<DiscreteSet> set_of(Exprs values) { return make<DiscreteSet>(std::move(values)); }

// One program with every statement kind, nested blocks, annotations and the optional parts both
// present and absent.
Ptr<Program> every_statement() {
  Nodes s;
  s.push_back(make<Include>("stdgates.inc"));
  s.push_back(make<Pragma>("verbatim  "));
  s.push_back(make<CalibrationGrammarDeclaration>("openpulse"));
  s.push_back(make<QubitDeclaration>(id("q"), num(4)));
  s.push_back(make<QubitDeclaration>(id("r")));
  s.push_back(declare(make<BitType>(num(4)), "c"));
  s.push_back(annotate(annotate(declare(make<IntType>(num(32)), "i", num(5)), "bind", "reg 7"), "volatile"));
  s.push_back(declare(make<ArrayType>(make<FloatType>(num(64)), Exprs{num(2), num(2)}), "a",
                      make<ArrayLiteral>(Exprs{make<ArrayLiteral>(Exprs{real(1.0), real(-2.1e-2)}),
                                               make<ArrayLiteral>(Exprs{real(3.0), real(4.0)})})));
  s.push_back(declare(make<BitType>(), "m", make<QuantumMeasurement>(element("q", 0))));
  s.push_back(declare(make<BitType>(), "n",
                      make<QuantumCallExpression>(id("measure_iq"), Exprs{num(1)}, Nodes{id("q"), id("r")})));
  s.push_back(make<IODeclaration>(IOKeyword::input, make<AngleType>(num(16)), id("theta")));
  s.push_back(make<IODeclaration>(IOKeyword::output, make<BitType>(), id("result")));
  s.push_back(make<ConstantDeclaration>(make<UintType>(), id("count"), num(3)));
  s.push_back(make<QuantumGateDefinition>(
      id("cphase"), std::vector<Ptr<Identifier>>{id("θ")}, std::vector<Ptr<Identifier>>{id("a"), id("b")},
      Stmts{gate("U", {num(0), num(0), bin("/", id("θ"), num(2))}, {id("a")}),
            make<QuantumGate>(Mods{mod(GateModifierName::ctrl)}, id("U"), Exprs{num(0), num(0), id("θ")},
                              Nodes{id("a"), id("b")}),
            make<ForInLoop>(make<UintType>(), id("k"), range(num(0), num(1)), Stmts{gate_on("x", "a")})}));
  s.push_back(make<QuantumGateDefinition>(id("post"), std::vector<Ptr<Identifier>>{},
                                          std::vector<Ptr<Identifier>>{id("q")}, Stmts{}));
  s.push_back(make<ExternDeclaration>(
      id("vote"),
      std::vector<Ptr<ExternArgument>>{
          make<ExternArgument>(make<BitType>(num(4))),
          make<ExternArgument>(make<ArrayReferenceType>(make<IntType>(), ArrayDimensions(Exprs{num(2)})),
                               AccessControl::readonly)},
      make<BitType>()));
  s.push_back(make<ExternDeclaration>(id("tick"), std::vector<Ptr<ExternArgument>>{}));
  s.push_back(make<SubroutineDefinition>(
      id("parity"),
      Nodes{make<ClassicalArgument>(
                make<ArrayReferenceType>(make<IntType>(num(8)), ArrayDimensions(Exprs{num(2), num(3)})), id("x"),
                AccessControl::readonly),
            make<ClassicalArgument>(make<ArrayReferenceType>(make<UintType>(), ArrayDimensions(ExprPtr(num(2)))),
                                    id("y"), AccessControl::mutable_),
            make<QuantumArgument>(id("p"), num(2)), make<QuantumArgument>(id("s")),
            make<ClassicalArgument>(make<BitType>(), id("b"))},
      Stmts{make<ReturnStatement>(make<QuantumMeasurement>(id("s")))}, make<BitType>()));
  s.push_back(make<SubroutineDefinition>(id("nothing"), Nodes{}, Stmts{make<ReturnStatement>()}));
  s.push_back(make<QuantumGate>(
      Mods{mod(GateModifierName::ctrl, num(2)), mod(GateModifierName::negctrl), mod(GateModifierName::inv),
           mod(GateModifierName::pow, real(0.5))},
      id("rx"), Exprs{bin("/", id("pi"), num(2))},
      Nodes{element("q", 0), indexed("q", {IndexList{range(num(1), num(3))}}), id("$0")},
      duration(100, TimeUnit::ns)));
  s.push_back(gate_on("h", "q"));
  s.push_back(make<QuantumPhase>(Mods{}, id("pi"), Nodes{}));
  s.push_back(make<QuantumPhase>(Mods{mod(GateModifierName::ctrl)}, bin("/", id("π"), num(2)), Nodes{element("q", 0)},
                                 id("d")));
  s.push_back(make<QuantumNop>(Nodes{}));
  s.push_back(annotate(make<QuantumNop>(Nodes{element("q", 0), id("$1")}), "keep"));
  s.push_back(make<QuantumReset>(id("q")));
  s.push_back(make<QuantumBarrier>(Nodes{}));
  s.push_back(make<QuantumBarrier>(Nodes{id("q"), id("$2")}));
  s.push_back(make<QuantumMeasurementStatement>(make<QuantumMeasurement>(element("q", 0)), nullptr));
  s.push_back(make<QuantumMeasurementStatement>(make<QuantumMeasurement>(element("q", 0)), element("c", 0)));
  s.push_back(make<QuantumMeasurementStatement>(make<QuantumCallExpression>(id("measure_iq"), Exprs{}, Nodes{id("q")}),
                                                id("c")));
  s.push_back(make<ClassicalAssignment>(id("i"), AssignmentOperator::plus_assign, num(1)));
  s.push_back(make<ClassicalAssignment>(indexed("a", {IndexList{num(0)}, IndexList{num(1)}}),
                                        AssignmentOperator::assign, real(2.5)));
  s.push_back(make<AliasStatement>(
      id("pair"),
      make<Concatenation>(make<Concatenation>(at(id("q"), {range(num(0), num(1))}), id("r")),
                          make<IndexExpression>(id("q"), IndexElement(set_of(Exprs{num(2), num(3)}))))));
  s.push_back(make<WhileLoop>(
      bin("<", id("i"), num(10)),
      Stmts{make<BranchingStatement>(bin("==", id("i"), num(5)), Stmts{make<BreakStatement>()},
                                     Stmts{make<ContinueStatement>()})}));
  s.push_back(make<BranchingStatement>(
      bin("==", id("c"), num(1)), Stmts{gate_on("x", "q")},
      Stmts{make<BranchingStatement>(bin("==", id("c"), num(2)), Stmts{gate_on("y", "q")},
                                     Stmts{gate_on("z", "q")})}));
  s.push_back(make<BranchingStatement>(
      id("flag"), Stmts{},
      Stmts{annotate(make<BranchingStatement>(id("other"), Stmts{make<EndStatement>()}, Stmts{}), "tag")}));
  s.push_back(make<ForInLoop>(make<IntType>(), id("j"), set_of(Exprs{num(1), num(2), num(3)}),
                              Stmts{make<ForInLoop>(make<UintType>(num(32)), id("k"), range(num(0), num(10), num(2)),
                                                    Stmts{gate_on("x", "q")})}));
  s.push_back(make<ForInLoop>(make<FloatType>(), id("v"), id("values"), Stmts{}));
  s.push_back(make<SwitchStatement>(
      id("i"),
      std::vector<SwitchCase>{{{num(1), num(2)}, compound(Stmts{gate_on("x", "q")})}, {{num(3)}, compound(Stmts{})}},
      compound(Stmts{make<SwitchStatement>(id("j"), std::vector<SwitchCase>{{{num(0)}, compound(Stmts{})}},
                                           nullptr)})));
  s.push_back(make<DelayInstruction>(duration(100, TimeUnit::ns), Nodes{id("q")}));
  s.push_back(make<DelayInstruction>(bin("*", num(2), id("d")), Nodes{}));
  s.push_back(make<Box>(nullptr, Stmts{gate_on("x", "q")}));
  s.push_back(make<Box>(
      duration(1, TimeUnit::us),
      Stmts{declare(make<DurationType>(), "t",
                    make<DurationOf>(Stmts{gate("x", {}, {id("$0")}), gate("y", {}, {id("$1")})}))}));
  s.push_back(compound(Stmts{gate_on("x", "q"), compound(Stmts{})}));
  s.push_back(make<CalibrationStatement>("\n  play(d0, w);\n"));
  s.push_back(make<CalibrationDefinition>(
      id("rz"), Nodes{make<ClassicalArgument>(make<AngleType>(num(20)), id("theta"))},
      std::vector<Ptr<Identifier>>{id("$0")}, make<BitType>(), " raw { nested } "));
  s.push_back(make<CalibrationDefinition>(id("x"), Nodes{}, std::vector<Ptr<Identifier>>{id("$0"), id("q")}, nullptr, ""));
  s.push_back(stmt(make<FunctionCall>(id("f"), Exprs{num(1), make<SizeOf>(id("a"), num(1))})));
  s.push_back(declare(make<StretchType>(), "st"));
  s.push_back(declare(make<ComplexType>(make<FloatType>(num(64))), "z",
                      bin("+", real(1.0), make<ImaginaryLiteral>(2.0))));
  s.push_back(declare(make<BoolType>(), "yes", make<BooleanLiteral>(true)));
  s.push_back(declare(make<BitType>(num(4)), "bits", make<BitstringLiteral>(5, 4)));
  s.push_back(make<EndStatement>());
  return make<Program>(std::move(s), "3.0");
}

void check_golden(const std::string& name, const std::string& actual) {
  vell_test::expect_golden("printer/" + name, actual);
}

TEST(PrinterGolden, EveryStatementKind) { check_golden("every_statement.qasm", dumps(*every_statement())); }

TEST(PrinterGolden, EveryStatementKindWithOtherOptions) {
  PrinterOptions options;
  options.indent = "    ";
  options.chain_else_if = false;
  options.old_measurement = true;
  check_golden("every_statement_options.qasm", dumps(*every_statement(), options));
}

TEST(PrinterLayout, StatementsAtAnyDepthAndNonStatementsInline) {
  EXPECT_EQ(dumps(*id("a")), "a");
  EXPECT_EQ(dumps(*gate_on("h", "q")), "h q;\n");
  EXPECT_EQ(dumps(*make<Program>(Nodes{})), "");
  EXPECT_EQ(dumps(*make<Program>(Nodes{make<BreakStatement>()}, "")), "break;\n");  // empty version: no line
  EXPECT_EQ(dumps(*make<Annotation>("a.b", "rest")), "@a.b rest\n");
  EXPECT_EQ(dumps(*make<WhileLoop>(id("c"), Stmts{})), "while (c) {\n}\n");
  EXPECT_EQ(dumps(*make<QuantumArgument>(id("p"), num(2))), "qubit[2] p");
  EXPECT_EQ(dumps(*make<ExternArgument>(make<BitType>(), AccessControl::readonly)), "readonly bit");
}

TEST(PrinterLayout, ElseIfChaining) {
  auto chain = [] {
    return make<BranchingStatement>(id("a"), Stmts{gate_on("x", "q")},
                                    Stmts{make<BranchingStatement>(id("b"), Stmts{gate_on("y", "q")}, Stmts{})});
  };
  auto nested = make<WhileLoop>(id("w"), Stmts{chain()});
  EXPECT_EQ(dumps(*nested),
            "while (w) {\n"
            "  if (a) {\n"
            "    x q;\n"
            "  } else if (b) {\n"
            "    y q;\n"
            "  }\n"
            "}\n");
  PrinterOptions no_chain;
  no_chain.chain_else_if = false;
  EXPECT_EQ(dumps(*chain(), no_chain),
            "if (a) {\n"
            "  x q;\n"
            "} else {\n"
            "  if (b) {\n"
            "    y q;\n"
            "  }\n"
            "}\n");
  // An annotated outer `if` is not chained (as in the reference printer), and neither is an
  // annotated inner one: chaining it would put its annotation between `else` and `if`.
  EXPECT_EQ(dumps(*annotate(chain(), "outer")),
            "@outer\n"
            "if (a) {\n"
            "  x q;\n"
            "} else {\n"
            "  if (b) {\n"
            "    y q;\n"
            "  }\n"
            "}\n");
  auto inner_annotated = chain();
  annotate(inner_annotated->else_block[0], "inner", "x");
  EXPECT_EQ(dumps(*inner_annotated),
            "if (a) {\n"
            "  x q;\n"
            "} else {\n"
            "  @inner x\n"
            "  if (b) {\n"
            "    y q;\n"
            "  }\n"
            "}\n");
  // Two statements in the else branch are never chained.
  auto two = chain();
  two->else_block.push_back(make<EndStatement>());
  EXPECT_EQ(dumps(*two),
            "if (a) {\n"
            "  x q;\n"
            "} else {\n"
            "  if (b) {\n"
            "    y q;\n"
            "  }\n"
            "  end;\n"
            "}\n");
}

TEST(PrinterExpressions, LiteralsAndForms) {
  const std::vector<std::pair<NodePtr, std::string>> cases = {
      {num(42), "42"},
      {num(-5), "-5"},
      {num(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {real(1.0), "1.0"},
      {real(1e16), "1e+16"},
      {real(1.5e-05), "1.5e-05"},
      {real(1000000000000000.0), "1000000000000000.0"},
      {make<ImaginaryLiteral>(2.0), "2.0im"},
      {make<DurationLiteral>(2.5, TimeUnit::us), "2.5us"},
      {make<DurationLiteral>(1.0, TimeUnit::dt), "1.0dt"},
      {make<DurationLiteral>(3.0, TimeUnit::s), "3.0s"},
      {make<BooleanLiteral>(false), "false"},
      {make<BitstringLiteral>(5, 4), "\"0101\""},
      {make<BitstringLiteral>(0, 3), "\"000\""},
      {make<BitstringLiteral>(0, 0), "\"0\""},
      {make<BitstringLiteral>(13, 2), "\"1101\""},
      {make<ArrayLiteral>(Exprs{}), "{}"},
      {make<FunctionCall>(id("f"), Exprs{}), "f()"},
      {make<FunctionCall>(id("arccos"), Exprs{bin("/", num(3), num(5)), id("b")}), "arccos(3 / 5, b)"},
      {make<Cast>(make<IntType>(num(4)), id("c")), "int[4](c)"},
      {make<Cast>(make<ArrayType>(make<IntType>(num(8)), Exprs{num(2)}), id("v")), "array[int[8], 2](v)"},
      {make<SizeOf>(id("a")), "sizeof(a)"},
      {make<SizeOf>(id("a"), num(1)), "sizeof(a, 1)"},
      {make<QuantumMeasurement>(id("$0")), "measure $0"},
      {make<QuantumCallExpression>(id("mq"), Exprs{id("t")}, Nodes{id("q"), element("r", 1)}), "mq(t) q, r[1]"},
      {range(nullptr, nullptr), ":"},
      {range(num(1), nullptr), "1:"},
      {range(nullptr, num(3)), ":3"},
      {range(num(0), num(10), num(2)), "0:2:10"},
      {range(nullptr, num(3), num(2)), ":2:3"},
      {at(id("a"), {num(2), num(1)}), "a[2, 1]"},
      {at(id("a"), {range(num(0), num(1)), num(2)}), "a[0:1, 2]"},
      {make<IndexExpression>(id("q"), IndexElement(set_of(Exprs{num(0), num(1)}))), "q[{0, 1}]"},
      {at(at(id("a"), {num(1)}), {num(2)}), "a[1][2]"},
      {indexed("q", {IndexList{num(0)}, IndexList{range(num(1), num(2))}, set_of(Exprs{num(1)})}), "q[0][1:2][{1}]"},
      {make<ComplexType>(), "complex"},
      {make<ComplexType>(make<FloatType>()), "complex[float]"},
      {make<ArrayReferenceType>(make<BitType>(num(2)), ArrayDimensions(ExprPtr(id("n")))), "array[bit[2], #dim=n]"},
      {make<ArrayType>(make<BoolType>(), Exprs{num(1), num(2), num(3)}), "array[bool, 1, 2, 3]"},
  };
  for (const auto& [node, text] : cases) EXPECT_EQ(dumps(*node), text) << repr(*node);
}

TEST(PrinterExpressions, DurationOfFollowsTheIndentOfItsStatement) {
  auto decl = declare(make<DurationType>(), "d", make<DurationOf>(Stmts{gate_on("x", "q")}));
  auto box = make<Box>(nullptr, Stmts{decl});
  EXPECT_EQ(dumps(*box),
            "box {\n"
            "  duration d = durationof({\n"
            "    x q;\n"
            "  });\n"
            "}\n");
}

TEST(PrinterExpressions, ParenthesesOnlyWherePrecedenceNeedsThem) {
  auto a = [] { return id("a"); };
  auto b = [] { return id("b"); };
  auto c = [] { return id("c"); };
  const std::vector<std::pair<ExprPtr, std::string>> cases = {
      {bin("*", bin("+", a(), b()), c()), "(a + b) * c"},
      {bin("+", a(), bin("*", b(), c())), "a + b * c"},
      {bin("-", bin("-", a(), b()), c()), "a - b - c"},
      {bin("-", a(), bin("-", b(), c())), "a - (b - c)"},
      {bin("<<", a(), bin("+", num(1), num(2))), "a << 1 + 2"},
      {bin("==", a(), bin("<", b(), c())), "a == b < c"},
      {bin("<", bin("==", a(), b()), c()), "(a == b) < c"},
      {bin("|", bin("^", bin("&", a(), b()), c()), id("d")), "a & b ^ c | d"},
      {bin("&", bin("|", a(), b()), c()), "(a | b) & c"},
      {bin("||", bin("&&", un("!", a()), un("~", b())), c()), "!a && ~b || c"},
      {bin("&&", a(), bin("||", b(), c())), "a && (b || c)"},
      // Prefix operators stack without parentheses, so a long run prints no deeper than written.
      {un("-", un("-", a())), "--a"},
      {un("!", un("~", un("-", a()))), "!~-a"},
      {un("-", bin("*", a(), b())), "-(a * b)"},
      {bin("*", un("-", a()), b()), "-a * b"},
      {un("-", bin("**", a(), b())), "-a ** b"},
      {bin("**", un("-", a()), b()), "(-a) ** b"},
      {bin("**", num(2), un("-", num(3))), "2 ** -3"},
      {bin("**", num(2), un("-", bin("**", num(3), a()))), "2 ** -3 ** a"},
      {bin("*", bin("**", num(2), un("-", a())), b()), "2 ** -a * b"},
      {bin("**", num(2), un("-", bin("*", num(3), a()))), "2 ** -(3 * a)"},
      {bin("**", num(2), bin("*", num(3), a())), "2 ** (3 * a)"},
      {un("-", at(a(), {num(0)})), "-a[0]"},
      {at(un("-", a()), {num(0)}), "(-a)[0]"},
      {at(bin("+", a(), b()), {num(0)}), "(a + b)[0]"},
      {at(make<FunctionCall>(id("f"), Exprs{a()}), {num(1)}), "f(a)[1]"},
      {un("-", make<FunctionCall>(id("f"), Exprs{bin("+", a(), b())})), "-f(a + b)"},
      {make<Cast>(make<IntType>(num(8)), bin("+", a(), b())), "int[8](a + b)"},
      {un("~", make<Cast>(make<BoolType>(), bin("|", a(), b()))), "~bool(a | b)"},
      // `**` groups to the right: the reference printer writes (a ** b) ** c without parentheses,
      // which reads back as a ** (b ** c).
      {bin("**", bin("**", a(), b()), c()), "(a ** b) ** c"},
      {bin("**", a(), bin("**", b(), c())), "a ** b ** c"},
      // sizeof is a call: the reference printer cannot print it as an operand at all.
      {bin("+", make<SizeOf>(a()), num(1)), "sizeof(a) + 1"},
      {un("-", make<SizeOf>(a())), "-sizeof(a)"},
      {at(make<SizeOf>(a()), {num(0)}), "sizeof(a)[0]"},
      // A negative literal binds like a prefix minus.
      {bin("-", num(1), num(-5)), "1 - -5"},
      {bin("*", real(-0.5), a()), "-0.5 * a"},
      {bin("**", num(-2), num(2)), "(-2) ** 2"},
      {bin("**", num(2), real(-0.5)), "2 ** -0.5"},
      {un("-", num(-5)), "-(-5)"},
      {un("-", un("-", num(-5))), "--(-5)"},
      {at(num(-1), {num(0)}), "(-1)[0]"},
      {bin("*", make<DurationLiteral>(-2.0, TimeUnit::ns), a()), "-2.0ns * a"},
      {bin("**", make<ImaginaryLiteral>(-1.0), num(2)), "(-1.0im) ** 2"},
      {make<Concatenation>(make<Concatenation>(a(), b()), c()), "a ++ b ++ c"},
      {make<Concatenation>(a(), make<Concatenation>(b(), c())), "a ++ (b ++ c)"},
      // A node of an outside class binds like its library base.
      {bin("**", make<OutsideQubit>("$1", 1), a()), "$1 ** a"},
  };
  for (const auto& [node, text] : cases) EXPECT_EQ(dumps(*node), text) << repr(*node);
}

TEST(PrinterSoundness, StatementsTheReferencePrinterGetsWrong) {
  // A measuring call keeps its arguments and operands.
  auto call = make<QuantumMeasurementStatement>(
      make<QuantumCallExpression>(id("measure_iq"), Exprs{num(1)}, Nodes{id("q"), id("r")}), id("c"));
  EXPECT_EQ(dumps(*call), "c = measure_iq(1) q, r;\n");
  PrinterOptions old;
  old.old_measurement = true;
  EXPECT_EQ(dumps(*call, old), "measure_iq(1) q, r -> c;\n");
  EXPECT_EQ(dumps(*make<ReturnStatement>(make<QuantumCallExpression>(id("mq"), Exprs{}, Nodes{id("q")}))),
            "return mq q;\n");

  // Durations of gate calls and gphase are written after the arguments.
  EXPECT_EQ(dumps(*make<QuantumGate>(Mods{}, id("cx"), Exprs{}, Nodes{id("a"), id("b")}, duration(100, TimeUnit::ns))),
            "cx[100.0ns] a, b;\n");
  EXPECT_EQ(dumps(*make<QuantumGate>(Mods{}, id("rx"), Exprs{id("t")}, Nodes{id("q")}, id("d"))), "rx(t)[d] q;\n");
  EXPECT_EQ(dumps(*make<QuantumPhase>(Mods{}, id("x"), Nodes{id("q")}, id("d"))), "gphase(x)[d] q;\n");

  // A nop keeps its annotations.
  EXPECT_EQ(dumps(*annotate(make<QuantumNop>(Nodes{id("q")}), "keep", "me")), "@keep me\nnop q;\n");

  // A file name with a double quote is written in single quotes; one with both cannot be written.
  EXPECT_EQ(dumps(*make<Include>("a\"b.inc")), "include 'a\"b.inc';\n");
  EXPECT_EQ(dumps(*make<CalibrationGrammarDeclaration>("open'pulse")), "defcalgrammar \"open'pulse\";\n");
  EXPECT_THROW(dumps(*make<Include>("a\"b'c")), std::invalid_argument);
  EXPECT_THROW(dumps(*make<Include>("a\nb")), std::invalid_argument);
  EXPECT_THROW(dumps(*make<Include>("")), std::invalid_argument);
}

TEST(PrinterSoundness, OutsideClassesPrintAsTheirLibraryBase) {
  auto g = gate("x", {}, {make<OutsideQubit>("$3", 3), id("q")});
  EXPECT_EQ(dumps(*g), "x $3, q;\n");
  try {
    dumps(*make<Program>(Nodes{make<OutsideDeclaration>(num(1), Stmts{})}));
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "cannot print a node of the abstract class OutsideDeclaration");
  }
  EXPECT_THROW(dumps(*make<Statement>()), std::invalid_argument);
  EXPECT_THROW(dumps(*make<Expression>()), std::invalid_argument);
  EXPECT_THROW(dumps(*make<ClassicalType>()), std::invalid_argument);
  EXPECT_THROW(dumps(*make<QuantumStatement>()), std::invalid_argument);
}

TEST(PrinterAbsentFields, OptionalFieldsPrintAsAbsent) {
  EXPECT_EQ(dumps(*make<QuantumGate>(Mods{mod(GateModifierName::ctrl)}, id("x"), Exprs{}, Nodes{id("q")})),
            "ctrl @ x q;\n");
  EXPECT_EQ(dumps(*make<ReturnStatement>()), "return;\n");
  EXPECT_EQ(dumps(*make<Box>()), "box {\n}\n");
  EXPECT_EQ(dumps(*make<SwitchStatement>(id("x"), std::vector<SwitchCase>{}, nullptr)), "switch (x) {\n}\n");
  EXPECT_EQ(dumps(*make<QuantumMeasurementStatement>(make<QuantumMeasurement>(id("q")), nullptr)), "measure q;\n");
  EXPECT_EQ(dumps(*make<ExternDeclaration>(id("f"), std::vector<Ptr<ExternArgument>>{})), "extern f();\n");
  EXPECT_EQ(dumps(*make<Program>(Nodes{make<Pragma>("x")}, std::nullopt)), "pragma x\n");
  EXPECT_EQ(dumps(*make<IntType>()), "int");
}

TEST(PrinterAbsentFields, MissingRequiredNodesAreRefusedByName) {
  auto message = [](const QASMNode& n) -> std::string {
    try {
      dumps(n);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "printed";
  };
  EXPECT_EQ(message(*make<QuantumGate>()), "cannot print QuantumGate: its field 'name' is empty");
  EXPECT_EQ(message(*make<ClassicalDeclaration>(nullptr, id("x"), nullptr)),
            "cannot print ClassicalDeclaration: its field 'type' is empty");
  EXPECT_EQ(message(*make<BinaryExpression>(BinaryOperator::plus, id("a"), nullptr)),
            "cannot print BinaryExpression: its field 'rhs' is empty");
  EXPECT_EQ(message(*gate("x", {}, {id("q"), nullptr})),
            "cannot print QuantumGate: its field 'qubits' holds an empty element");
  EXPECT_EQ(message(*make<Program>(Nodes{make<BreakStatement>(), nullptr})),
            "cannot print Program: its field 'statements' holds an empty element");
  EXPECT_EQ(message(*make<SwitchStatement>(id("x"), std::vector<SwitchCase>{{{num(1)}, nullptr}}, nullptr)),
            "cannot print SwitchStatement: its field 'cases' holds an empty element");
  EXPECT_EQ(message(*make<IndexExpression>(id("a"), IndexElement(Ptr<DiscreteSet>()))),
            "cannot print IndexExpression: its field 'index' is empty");
  EXPECT_EQ(message(*make<ArrayReferenceType>(make<IntType>(), ArrayDimensions(ExprPtr()))),
            "cannot print ArrayReferenceType: its field 'dimensions' is empty");
  auto annotated = make<BreakStatement>();
  annotated->annotations.push_back(nullptr);
  EXPECT_EQ(message(*annotated), "cannot print BreakStatement: its field 'annotations' holds an empty element");
  // A missing node deep inside a block is found too, and nothing half-printed escapes.
  EXPECT_EQ(message(*make<WhileLoop>(id("c"), Stmts{make<ExpressionStatement>()})),
            "cannot print ExpressionStatement: its field 'expression' is empty");
}

}  // namespace
