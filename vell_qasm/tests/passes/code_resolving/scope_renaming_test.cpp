#include "vell_qasm/passes/code_resolving/scope_renaming.hpp"

#include <gtest/gtest.h>

#include "resolving_test_support.hpp"
#include "vell_qasm/passes/parsing/validators.hpp"

namespace vell_qasm::passes::code_resolving {
namespace {

using namespace vell_qasm::testing;

std::string renamed(const std::string& source) {
  ScopeRenaming step;
  return printed(run_step(step, source));
}

TEST(ScopeRenaming, ShadowingDeclarationsAndTheirUsesGetNamesOfTheirOwn) {
  struct Case {
    const char* source;
    const char* expected;  // parsed and printed; names with a dot cannot be parsed, so written out
  };
  const Case cases[] = {
      // Nothing shadowed: names stay, where no other declaration takes them.
      {"int x; if (true) { int y; } for int i in [0:1] { } x = 1;", nullptr},
      // Sibling blocks, and a block before a global declaration of its name: each its own name.
      {"if (true) { int y; } else { int y; } { int z; } int z; for int i in [0:1] { } for int i in [0:1] { }",
       "if (true) {\n  int y;\n} else {\n  int y.1;\n}\n{\n  int z.2;\n}\nint z;\nfor int i in [0:1] {\n}\n"
       "for int i.3 in [0:1] {\n}\n"},
      // Uses before the shadowing declaration read the outer variable; the initialiser too.
      {"int x; { x = 1; int x = x + 1; x = 2; } x = 3;",
       "int x;\n{\n  x = 1;\n  int x.1 = x + 1;\n  x.1 = 2;\n}\nx = 3;\n"},
      // A loop's range is read outside the loop; its variable lives in the body. Index lists too.
      {"int i; bit[2] b; for int i in [0:i] { b[i] = true; }",
       "int i;\nbit[2] b;\nfor int i.1 in [0:i] {\n  b[i.1] = true;\n}\n"},
      // If and else are two scopes; switch case blocks and the default each one; the target outside.
      {"int v; if (v == 0) { int v = 1; } else { v = 2; } switch (v) { case 0 { int v; v = 1; } default { v = 3; } }",
       "int v;\nif (v == 0) {\n  int v.1 = 1;\n} else {\n  v = 2;\n}\nswitch (v) {\n  case 0 {\n    int v.2;\n"
       "    v.2 = 1;\n  }\n  default {\n    v = 3;\n  }\n}\n"},
      // Built-in constants count as global; gate names, gate definitions and qubits are left alone.
      {"qubit q; gate g(x) a { rx(x) a; } float x; { float pi = 1; int g = 2; g(pi) q; rx(x) q; }",
       "qubit q;\ngate g(x) a {\n  rx(x) a;\n}\nfloat x;\n{\n  float pi.1 = 1;\n  int g = 2;\n  g(pi.1) q;\n"
       "  rx(x) q;\n}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(renamed(c.source), c.expected ? std::string(c.expected) : printed(c.source));
  }
}

TEST(ScopeRenaming, UsesOfEveryKindAreRenamedExactlyWhileTheRenamedNameIsVisible) {
  // Statements that only read names are walked only while a renamed name is visible: every kind
  // of use in the block of a renamed x reads x.1, and none before it or after the block does.
  struct Case {
    const char* source;
    const char* expected;
  };
  const Case cases[] = {
      {"qubit[2] q; bit[2] c; int x; rz(x) q[x]; { rz(x) q[x]; int x; rz(x) q[x]; c[x] = measure q[x]; "
       "x += x; reset q[x]; barrier q[x]; } rz(x) q[x]; c[x] = measure q[x];",
       "qubit[2] q;\nbit[2] c;\nint x;\nrz(x) q[x];\n{\n  rz(x) q[x];\n  int x.1;\n  rz(x.1) q[x.1];\n"
       "  c[x.1] = measure q[x.1];\n  x.1 += x.1;\n  reset q[x.1];\n  barrier q[x.1];\n}\nrz(x) q[x];\n"
       "c[x] = measure q[x];\n"},
      // Conditions, ranges, labels, durations and initialisers in and below the block.
      {"int x; int y; { int x; while (x > 0) { if (x == 1) { y = x; } } for int i in [0:x] { y = x; } "
       "switch (x) { case 1 { y = x; } } box[x * 1ns] { } int z = x; } y = x;",
       "int x;\nint y;\n{\n  int x.1;\n  while (x.1 > 0) {\n    if (x.1 == 1) {\n      y = x.1;\n    }\n  }\n"
       "  for int i in [0:x.1] {\n    y = x.1;\n  }\n  switch (x.1) {\n    case 1 {\n      y = x.1;\n    }\n  }\n"
       "  box[x.1 * 1.0ns] {\n  }\n  int z = x.1;\n}\ny = x;\n"},
      // A block reached while nothing renamed is visible still declares, and renames below.
      {"int x; if (true) { while (true) { { int x = 2; x = 3; } } }",
       "int x;\nif (true) {\n  while (true) {\n    {\n      int x.1 = 2;\n      x.1 = 3;\n    }\n  }\n}\n"},
      // Nested renamings of one name: the innermost is read, the outer again once it closes.
      {"int x; { int x; { int x; x = 1; } x = 2; } x = 3;",
       "int x;\n{\n  int x.1;\n  {\n    int x.2;\n    x.2 = 1;\n  }\n  x.1 = 2;\n}\nx = 3;\n"},
      // Many renamed names visible at once (found by name rather than compared one by one).
      {"int a; int b; int c; int d; int e; int f; int g; int h; int i; int j; "
       "{ int a; int b; int c; int d; int e; int f; int g; int h; int i; j = a + i; { int a; j = a + b; } j = a; }",
       "int a;\nint b;\nint c;\nint d;\nint e;\nint f;\nint g;\nint h;\nint i;\nint j;\n{\n  int a.1;\n"
       "  int b.2;\n  int c.3;\n  int d.4;\n  int e.5;\n  int f.6;\n  int g.7;\n  int h.8;\n  int i.9;\n"
       "  j = a.1 + i.9;\n  {\n    int a.10;\n    j = a.10 + b.2;\n  }\n  j = a.1;\n}\n"},
      // A durationof's block is left as written.
      {"int x; { int x; duration d = durationof({ x = 1; }); }",
       "int x;\n{\n  int x.1;\n  duration d = durationof({\n    x = 1;\n  });\n}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(renamed(c.source), c.expected);
  }
}

TEST(ScopeRenaming, ASecondDeclarationInOneScopeIsRefused) {
  struct Case {
    const char* source;
    const char* message;
  };
  const Case cases[] = {
      {"int k = 1;\nint k = 2;", "The variable 'k' is declared again at line 2, column 0."},
      {"input int k; const int k = 2;", "The constant 'k' is declared again at line 1, column 13."},
      {"if (true) { int a; float a; }", "The variable 'a' is declared again at line 1, column 19."},
      {"for int i in [0:1] { int i; }", "The variable 'i' is declared again at line 1, column 21."},
      {"const float pi = 3;", "The constant 'pi' is declared again at line 1, column 0."},
      // Global declarations are settled before blocks are walked; failures still come in program order.
      {"int k; if (true) { int a; float a; } int k;", "The variable 'a' is declared again at line 1, column 26."},
      {"int k; int k; if (true) { int a; float a; }", "The variable 'k' is declared again at line 1, column 7."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    expect_throw<parsing::RedeclarationException>(
        [&] { renamed(c.source); }, [&](const parsing::RedeclarationException& e) { EXPECT_STREQ(e.what(), c.message); });
  }
}

// Gate calls whose operands are plain (names, literals, names indexed by literals) are renamed
// without the walk: the tree, spans included, ends as the walk leaves it.
TEST(ScopeRenaming, PlainCallsAreRenamedAsTheWalkRenamesThem) {
  struct Walked : ScopeRenamer {};
  for (const std::string block : {"h a;", "cx a, b[0];", "rz(a) q[a];", "rz(a) b[0][1];", "rz(1.5) a;",
                                  "rz(a + 1) b;", "ctrl @ x a, b;", "rz(a) q[{0, 1}];", "x q[0:1];",
                                  "rz(-a) b[a];", "rx(true) $1;", "rz(a)[10ns] b;"}) {
    const std::string source = "qubit[2] q; int a; int[8] b;\nfor int a in [0:1] {\n  int[8] b;\n  " + block +
                               "\n  h q[1];\n}\n";
    auto renamed = openqasm3::parse(source);
    auto walked = openqasm3::parse(source);
    ScopeRenamer().visit(renamed);
    Walked().visit(walked);
    EXPECT_EQ(ast::repr(renamed), ast::repr(walked)) << block;
  }
}

// A long program whose global pass looks ahead at the names declared statements later and
// grows its name table as it goes: block declarations of names declared globally before or after
// the block are renamed in program order, the others keep their names.
TEST(ScopeRenaming, LongProgramsRenameAsShortOnesDo) {
  for (const int count : {1, 5, 13, 40, 700}) {
    SCOPED_TRACE(count);
    std::string source;
    std::string expected;
    int renamed_count = 0;
    for (int k = 0; k < count; ++k) {
      source += "int v" + std::to_string(k) + ";\n";
      expected += "int v" + std::to_string(k) + ";\n";
      if (k % 7 != 3) continue;
      // A name taken globally later, one taken before, and one of the block's own.
      const std::vector<std::string> names{"v" + std::to_string(k + 2), "v" + std::to_string(k - 3),
                                           "w" + std::to_string(k)};
      source += "{\n";
      expected += "{\n";
      for (const std::string& name : names) {
        const bool global = name[0] == 'v' && std::stoi(name.substr(1)) < count;
        source += "  int " + name + ";\n";
        expected += "  int " + name + (global ? "." + std::to_string(++renamed_count) : "") + ";\n";
      }
      source += "}\n";
      expected += "}\n";
    }
    EXPECT_EQ(renamed(source), expected);
  }
}

}  // namespace
}  // namespace vell_qasm::passes::code_resolving
