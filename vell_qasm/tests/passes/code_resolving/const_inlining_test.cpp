#include "vell_qasm/passes/code_resolving/const_inlining.hpp"
#include "vell_qasm/passes/code_resolving/expr_folding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <typeinfo>

#include "resolving_test_support.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/constants.hpp"
#include "vell_qasm/passes/parsing/validators.hpp"

namespace vell_qasm::passes::code_resolving {
namespace {

using namespace vell_qasm::testing;

ast::Ptr<ast::Program> inline_constants(const std::string& source) {
  ConstInlining step;
  return run_step(step, source);
}

ast::ExprPtr init_of(const ast::Ptr<ast::Program>& root, std::size_t i) {
  auto declaration = ast::dyn_cast<ast::ClassicalDeclaration>(root->statements.at(i));
  EXPECT_NE(declaration, nullptr);
  return declaration ? ast::dyn_cast<ast::Expression>(declaration->init_expression) : nullptr;
}

TEST(Constants, BuiltInConstantsAreRealLiterals) {
  struct Case {
    const char* name;
    double value;
  };
  for (auto c : {Case{"pi", std::numbers::pi}, Case{"\u03c0", std::numbers::pi}, Case{"tau", 2 * std::numbers::pi},
                 Case{"\u03c4", 2 * std::numbers::pi}, Case{"euler", std::numbers::e}, Case{"\u2107", std::numbers::e}}) {
    auto literal = ast::dyn_cast<ast::FloatLiteral>(CONSTANTS.at(c.name));
    ASSERT_NE(literal, nullptr) << c.name;
    EXPECT_EQ(literal->value, c.value) << c.name;
  }
  EXPECT_EQ(CONSTANTS.size(), 6u);
}

TEST(ConstInlining, WithoutConstantsNothingChanges) {
  auto root = openqasm3::parse("int x = 1; x = y + 2; h q;");
  auto before = root->statements;
  auto copy = ast::deep_copy(root);
  ConstInlining step;
  EXPECT_EQ(step.name, "ConstInlining");
  EXPECT_EQ(ConstInlining("c").name, "c");
  run_step(step, root);
  EXPECT_EQ(root->statements, before);
  EXPECT_TRUE(ast::equal(root, copy));
  expect_throw<AssertionError>([&] { step(std::make_shared<programs::TextualProgram>("h q;")); });
}

TEST(ConstInlining, EveryUseIsTheStoredNodeWhereverItIsDeclared) {
  auto root = openqasm3::parse(R"(
    int early = n;
    const int n = 4;
    int x = n;
    int y = n + n;
    if (c) { const int inner = 7; }
    int z = inner;
    float p = pi + π;
  )");
  auto four = std::static_pointer_cast<ast::ConstantDeclaration>(root->statements[1])->init_expression;
  auto seven = std::static_pointer_cast<ast::ConstantDeclaration>(
                   std::static_pointer_cast<ast::BranchingStatement>(root->statements[4])->if_block[0])
                   ->init_expression;
  ConstInlining step;
  run_step(step, root);
  EXPECT_EQ(printed(root), printed("int early = 4; int x = 4; int y = 4 + 4; if (c) { } int z = 7; "
                                   "float p = 3.141592653589793 + 3.141592653589793;"));
  EXPECT_EQ(init_of(root, 0), four);
  EXPECT_EQ(init_of(root, 1), four);
  auto sum = ast::dyn_cast<ast::BinaryExpression>(init_of(root, 2));
  EXPECT_EQ(sum->lhs, four);
  EXPECT_EQ(sum->rhs, four);
  EXPECT_EQ(init_of(root, 4), seven);
  auto presets = ast::dyn_cast<ast::BinaryExpression>(init_of(root, 5));
  EXPECT_EQ(presets->lhs, CONSTANTS.at("pi"));
  EXPECT_EQ(presets->rhs, CONSTANTS.at("\u03c0"));

  // The declared type is dropped.
  auto dropped = inline_constants("const float f = 1; float g = f;");
  EXPECT_EQ(init_of(dropped, 0)->kind(), ast::NodeKind::IntegerLiteral);
}

TEST(ConstInlining, InitialisersAreResolvedSoNoConstantNameSurvives) {
  auto root = openqasm3::parse("const int a = 2; const int b = a * 3; const int c = b; int x = b; int y = c;"
                               " const float half = pi / 2; float h = half; bit[b] r;");
  auto two = std::static_pointer_cast<ast::ConstantDeclaration>(root->statements[0])->init_expression;
  auto product = std::static_pointer_cast<ast::ConstantDeclaration>(root->statements[1])->init_expression;
  ConstInlining step;
  run_step(step, root);
  EXPECT_EQ(printed(root), printed("int x = 2 * 3; int y = 2 * 3; float h = 3.141592653589793 / 2; bit[2 * 3] r;"));
  for (auto name : {"a", "b", "c", "half", "pi"}) EXPECT_TRUE(identifiers_named(root, name).empty()) << name;
  // Still the stored nodes themselves, resolved in place.
  EXPECT_EQ(init_of(root, 0), product);
  EXPECT_EQ(init_of(root, 1), product);
  EXPECT_EQ(std::static_pointer_cast<ast::BinaryExpression>(product)->lhs, two);
  EXPECT_EQ(std::static_pointer_cast<ast::BinaryExpression>(init_of(root, 2))->lhs, CONSTANTS.at("pi"));
}

TEST(ConstInlining, LongChainsAreFoldedOnceSoNoValueNestsDeep) {
  // Each constant from the one before: kept as written up to the folding level, folded there
  // (to a literal, which starts the chain anew), so even the last value is shallow.
  const unsigned n = 100000;
  std::string source = "const int c0 = 1; const float f0 = pi;";
  for (unsigned i = 1; i < n; ++i) {
    source += " const int c" + std::to_string(i) + " = c" + std::to_string(i - 1) + " + 1;";
    source += " const float f" + std::to_string(i) + " = f" + std::to_string(i - 1) + " * 1.0;";
  }
  source += " int short_chain = c5; int last = c" + std::to_string(n - 1) + "; float real = f" + std::to_string(n - 1) + ";";
  auto root = inline_constants(source);
  EXPECT_EQ(openqasm3::dumps(*init_of(root, 0)), "1 + 1 + 1 + 1 + 1 + 1");
  auto depth = [](ast::NodePtr node) {
    std::size_t levels = 0;
    for (; node && ast::is_exactly<ast::BinaryExpression>(*node); ++levels)
      node = std::static_pointer_cast<ast::BinaryExpression>(node)->lhs;
    return levels;
  };
  EXPECT_LT(depth(init_of(root, 1)), ConstantsGatherer::kFoldedChain);
  EXPECT_LT(depth(init_of(root, 2)), ConstantsGatherer::kFoldedChain);
  ExpressionsOptimizationStep folding;
  run_step(folding, root);
  EXPECT_EQ(printed(root), printed("int short_chain = 6; int last = " + std::to_string(n) + "; float real = " +
                                   openqasm3::dumps(*CONSTANTS.at("pi")) + ";"));
}

TEST(ConstInlining, AnInitialiserNamingALaterConstantIsRefused) {
  struct Case {
    std::string source;
    std::string message;
  };
  for (const auto& c : std::vector<Case>{
           {"const int b = a * 3;\nconst int a = 2;",
            "The constant 'a' is used in the initialiser of the constant 'b' (line 1, column 14) before its "
            "declaration (line 2, column 0)."},
           {"const int a = a + 1;",
            "The constant 'a' is used in the initialiser of the constant 'a' (line 1, column 14) before its "
            "declaration (line 1, column 0)."},
       }) {
    expect_throw<ValueError>([&] { inline_constants(c.source); },
                             [&](const ValueError& e) { EXPECT_EQ(std::string(e.what()), c.message); });
  }
}

TEST(ConstInlining, RedeclarationIsRefusedForTheSecondDeclarationMet) {
  struct Case {
    std::string source;
    std::size_t second;  // top-level statement holding the second declaration
    std::string message;
  };
  for (const auto& c : std::vector<Case>{
           {"const int n = 1;\nconst int n = 1;", 1, "The constant 'n' is declared again at line 2, column 0."},
           {"def f() { const int n = 1; }\ndef g() { const int n = 2; }", 1,
            "The constant 'n' is declared again at line 2, column 10."},
           {"  const float pi = 3;", 0, "The constant 'pi' is declared again at line 1, column 2."},
           {"const float τ = 6;", 0, "The constant '\u03c4' is declared again at line 1, column 0."},
       }) {
    auto tree = openqasm3::parse(c.source);
    auto second = tree->statements[c.second];
    if (auto def = ast::dyn_cast<ast::SubroutineDefinition>(second)) second = def->body[0];
    ConstInlining step;
    expect_throw<parsing::RedeclarationException>([&] { run_step(step, tree); },
                                                  [&](const parsing::RedeclarationException& e) {
                                                    EXPECT_EQ(e.node, second);
                                                    EXPECT_EQ(std::string(e.what()), c.message);
                                                  });
  }
  EXPECT_STREQ(parsing::RedeclarationException(nullptr, "k").what(), "The constant 'k' is declared again.");
}

TEST(ConstInlining, AConstantWhereTheTreeHoldsANameIsAClearError) {
  struct Case {
    std::string use;
    std::string message;
  };
  for (const auto& c : std::vector<Case>{
           {"n = 2;",
            "cannot place IntegerLiteral in field 'lvalue' of ClassicalAssignment (expected Identifier or "
            "IndexedIdentifier): 'n' is a constant"},
           {"n += 2;",
            "cannot place IntegerLiteral in field 'lvalue' of ClassicalAssignment (expected Identifier or "
            "IndexedIdentifier): 'n' is a constant"},
           {"pi = measure q;",
            "cannot place FloatLiteral in field 'target' of QuantumMeasurementStatement (expected Identifier or "
            "IndexedIdentifier): 'pi' is a constant"},
           {"int n;", "cannot place IntegerLiteral in field 'identifier' of ClassicalDeclaration (expected Identifier)"},
           {"n[0] = 1;", "cannot place IntegerLiteral in field 'name' of IndexedIdentifier (expected Identifier)"},
           {"for int n in [0:2] { }", "cannot place IntegerLiteral in field 'identifier' of ForInLoop (expected Identifier)"},
       }) {
    expect_throw<std::invalid_argument>([&] { inline_constants("const int n = 1; " + c.use); },
                                        [&](const std::invalid_argument& e) { EXPECT_EQ(std::string(e.what()), c.message); });
  }
}

TEST(ConstInlining, SwitchCasesAreGatheredAndResolvedToo) {
  auto root = inline_constants(R"(
    switch (k) {
      case n, m { const int m = 2; x = n + m; }
      default { y = m; }
    }
    const int n = 1;
  )");
  EXPECT_EQ(printed(root), printed("switch (k) { case 1, 2 { x = 1 + 2; } default { y = 2; } }"));
}


TEST(ConstInlining, IndexListsAreResolvedToo) {
  // The reference walk leaves the inner lists of an index alone; no constant name may survive there.
  ConstInlining step;
  EXPECT_EQ(printed(run_step(step, "const int n = 2; qubit[3] q; bit[3] b; x q[n - 1]; b[n] = measure q[n]; "
                                   "b[0] = b[n];")),
            printed("qubit[3] q; bit[3] b; x q[2 - 1]; b[2] = measure q[2]; b[0] = b[2];"));
}


// resolve() reads the node kinds' fields itself and leaves to the generic walk (which a derived
// resolver takes) only what may change: it must leave the tree, or fail, as the generic walk does.
// The step gathers and resolves in one walk: it must end as gathering then resolving would, and
// fail with the same failure (what it rewrote before failing may differ).
TEST(ConstInlining, TheProgramWalkMatchesTheGenericWalk) {
  struct GenericResolver : ConstantsResolver {
    using ConstantsResolver::ConstantsResolver;
  };
  enum Mode { step, field_walk, generic_walk };
  auto outcome = [](const std::string& source, Mode mode) {
    auto root = openqasm3::parse(source);
    // An outside class among the operands: the generic walk takes it.
    auto last = ast::dyn_cast<ast::QuantumGate>(root->statements.back());
    last->qubits.push_back(configurations::create_hw_qubit(3));
    // And among the arguments, where there are some, an outside class in an expression list.
    if (!last->arguments.empty()) last->arguments.push_back(configurations::create_hw_qubit(1));
    std::string failure;
    try {
      ConstantsGatherer gatherer;
      if (mode == step) {
        ConstInlining inlining;
        run_step(inlining, root);
      } else if (gatherer.visit(root); mode == generic_walk) {
        GenericResolver(gatherer.constants()).resolve(root);
      } else {
        ConstantsResolver(gatherer.constants()).resolve(root);
      }
    } catch (const std::exception& e) {
      failure = std::string(typeid(e).name()) + ": " + e.what() + "\n";
      if (auto* located = dynamic_cast<const HasLocation*>(&e); located && located->location())
        failure += "at " + std::to_string(located->location()->line) + ":" + std::to_string(located->location()->column) + "\n";
    }
    return std::pair(failure, printed(root));
  };
  const std::string uses =
      "qubit[4] q; bit[4] b; int[n] x = n; array[int, n] a = {n, 1}; x = f(n, sin(pi)) + b[n] + a[{n, 1}]; "
      "gate g(t) r { rx(t * n) r; } g(m) q[n]; rx(n) q[{n, 1}], q[0:n], q[n:-1:0]; b[n] = measure q[n - 1]; "
      "for int i in {n, 1} { x += i * n; } for int i in [0:n:4] { reset q[n]; } while (x < n) { x -= n; } "
      "box [n * 1ns] { delay[n * 1ns] q[n]; } def s(int p) -> int { return p + n; } "
      "switch (x) { case n, 3 { x = n; } default { x = -n; } } if (x == n) { barrier q[n]; } else { x = m; } ";
  for (const std::string& source : std::vector<std::string>{
           "const int n = 2; const float m = n * 1.5; " + uses + "h q[n];",
           uses + "const int n = 2; const float m = pi; h q[n];",  // declared after their uses
           "const int n = 2; const float m = 1.5; x = n; " + uses + "n = 3; h q[0];",  // a constant target
           std::string("const int n = 2; const float m = 1.5; gate k(n) r { } h q[0];"),  // a parameter's name
           "const int n = 2; const float m = 1.5; " + uses + "n q[0];",                // a gate's name
           // Constants in expression fields and lists next to those in fields of names only.
           "const int n = 2; const float m = 1.5; " + uses + "rx(n, m, n + m, sin(n)) q[0]; h n;",
           "const int n = 2; const float m = 1.5; x = n + m; x = n(1); h q[0];",  // a call's name
           "x = n + m; rx(n, m) q[0]; const int n = 2; const float m = 1.5; h n;",
           "const int n = 2; const float m = 1.5; h n; rx(1) q[0];",
           // A failure of the gathering comes before any failure of the resolution; among the
           // latter, the first in walk order counts, also when a later constant places it.
           std::string("const int n = 1; n = 2; const int n = 3; h q[0];"),
           std::string("m = 1; const int n = 1; n = 2; const int m = 5; h q[0];"),
           std::string("const int n = 1; n = 2; if (c) { m = 1; const int m = 5; } h q[0];"),
       }) {
    const auto generic = outcome(source, generic_walk);
    EXPECT_EQ(outcome(source, field_walk), generic) << source;
    const auto inlined = outcome(source, step);
    EXPECT_EQ(inlined.first, generic.first) << source;
    if (generic.first.empty()) {
      EXPECT_EQ(inlined.second, generic.second) << source;
    }
  }
}

// The screen only spares lookups: a name sharing a constant's length and first byte
// still goes to the table, and a constant entered after the screen was made is found.
TEST(ConstInlining, TheNameScreenNeverHidesAConstant) {
  ConstantNameScreen screen(CONSTANTS);
  for (const char* name : {"pi", "\u03c0", "tau", "\u03c4", "euler", "\u2107"}) EXPECT_TRUE(screen.may_hold(name)) << name;
  screen.add("");
  screen.add("K");
  EXPECT_TRUE(screen.may_hold(""));
  EXPECT_TRUE(screen.may_hold("K"));

  struct Case {
    std::string source;
    std::string expected;
  };
  for (const auto& c : std::vector<Case>{
           // Look-alikes of tau and euler (same length, same first and last byte) stay names.
           {"const int K = 3; int p = tau + tou + eager + euler + K + k + KK;",
            "int p = 6.283185307179586 + tou + eager + 2.718281828459045 + 3 + k + KK;"},
           // Declared after its uses, and in a block: the screen grows with the table.
           {"int a = later + 1; if (c) { const int later = 5; } int b = later;", "int a = 5 + 1; if (c) { } int b = 5;"},
           // Names made of multi-byte characters, and a constant used in another's initialiser.
           {"const float \u03b1\u03b2 = \u03c4 / 2; const float \u03b3 = \u03b1\u03b2 * 2; float g = \u03b3 + \u03b1\u03b3;",
            "float g = 6.283185307179586 / 2 * 2 + \u03b1\u03b3;"},
       }) {
    EXPECT_EQ(printed(inline_constants(c.source)), printed(c.expected)) << c.source;
  }
}

// Every name entered passes the screen, whatever its length and bytes; names that share only a
// constant's length and first byte (theta and tau, euler) mostly do not.
TEST(ConstInlining, TheFinerScreenKeepsEveryNameEntered) {
  ConstantNameScreen screen(CONSTANTS);
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    std::string name(static_cast<std::size_t>(1 + i % 40), static_cast<char>('a' + i % 26));
    name.back() = static_cast<char>(i % 7 == 0 ? '\xcf' : 'A' + i % 23);
    names.push_back(name);
    screen.add(name);
  }
  for (const auto& name : names) EXPECT_TRUE(screen.may_hold(name)) << name;
  for (const char* name : {"pi", "tau", "euler", "\u03c0"}) EXPECT_TRUE(screen.may_hold(name)) << name;

  ConstantNameScreen constants(CONSTANTS);
  int passed = 0;
  for (const char* name : {"theta", "tx", "trot", "pq", "px", "eaglet", "exact", "ethan", "tab", "pa"})
    passed += constants.may_hold(name) ? 1 : 0;
  EXPECT_LE(passed, 2);
}


// A constant defined by a long flat expression: its initialiser is resolved, and its uses folded,
// without running out of stack.
TEST(ConstInlining, AConstantOfManyTermsInlinesAndFolds) {
  std::string terms = "1";
  for (int i = 0; i < 15000; ++i) terms += " + 1";
  // A use in as long a chain: its links are walked in a loop too.
  auto root = inline_constants("const int c = " + terms + "; int x = c; int y = c + 1; int z = c + " + terms + ";");
  ExpressionsOptimizationStep folding;
  run_step(folding, root);
  EXPECT_EQ(printed(root), printed("int x = 15001; int y = 15002; int z = 30002;"));
}

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
