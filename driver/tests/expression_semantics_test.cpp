// Whole programs whose expressions compile to what the language computes: folding keeps types,
// integer division rounds the same folded and at run time, durations are exact until converted to
// clock cycles once, bit registers read as integers, and long flat expressions compile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vell_qasm/driver/compile.hpp"

namespace vell_qasm::driver {
namespace {

std::string listing(const std::string& body) {
  CompileOptions options = demo_compile_options();
  return compile("OPENQASM 3.0;\n" + body, options)->dsl_program().listing();
}

struct Case {
  const char* program;
  // Lines the listing holds, in this order (others may stand between them).
  std::vector<const char*> lines;
};

void expect_lines(const Case& c) {
  SCOPED_TRACE(c.program);
  const std::string text = listing(c.program);
  std::size_t at = 0;
  for (const char* line : c.lines) {
    const std::size_t found = text.find(std::string(line) + "\n", at);
    ASSERT_NE(found, std::string::npos) << "missing: " << line << "\nin:\n" << text;
    at = found + 1;
  }
}

TEST(ExpressionSemantics, FoldingNeverChangesAType) {
  const Case cases[] = {
      // (x * 0 + 7) / 2 is 3.5 for a real x: x * 0 stays a real
      {"qubit q; float x = 0.5; rz((x * 0 + 7) / 2) q;", {"frame_rotation (((v0 * 0) + 7) / 2) on \"q0.xy\""}},
      // for an integer x it is the integer 7 / 2
      {"qubit q; int x = 5; rz((x * 0 + 7) / 2) q;", {"frame_rotation 3.0 on \"q0.xy\""}},
      // m & true of an integer m is m & 1
      {"int m = 6; int r = m & true;", {"assign v1 = (v0 & true)"}},
      {"bool m = true; bool r = m & true;", {"assign v1 = v0"}},
      // ceiling and floor are reals
      {"qubit q; rz(ceiling(2.5) / 2) q;", {"frame_rotation 1.5 on \"q0.xy\""}},
      {"qubit q; rz(floor(7.5) / 2) q;", {"frame_rotation 3.5 on \"q0.xy\""}},
  };
  for (const Case& c : cases) expect_lines(c);
}

TEST(ExpressionSemantics, IntegerDivisionRoundsTheSameFoldedAndAtRunTime) {
  const Case cases[] = {
      {"qubit q; rz(7 / 2) q;", {"frame_rotation 3.0 on \"q0.xy\""}},
      {"qubit q; rz(-7 / 2) q;", {"frame_rotation -4.0 on \"q0.xy\""}},
      {"qubit q; int n = 7; rz(n / 2) q;", {"frame_rotation (v0 // 2) on \"q0.xy\""}},
      {"int n = -7; int m = n / 2;", {"assign v1 = (v0 // 2)"}},
      {"float f = 7; float g = f / 2;", {"assign v1 = (v0 / 2)"}},
      {"int n = 7; float g = n / 2.0;", {"assign v1 = (v0 / 2.0)"}},
  };
  for (const Case& c : cases) expect_lines(c);
}

TEST(ExpressionSemantics, DurationsAreExactUntilConvertedToCyclesOnce) {
  const Case cases[] = {
      {"qubit q; delay[10ns + 10ns] q;", {"wait 5 on \"q0.xy\", \"q0.rr\""}},
      {"qubit q; delay[3 * 1.5ns] q;", {"wait 1 on \"q0.xy\", \"q0.rr\""}},
      {"qubit q; delay[4.004us] q;", {"wait 1001 on \"q0.xy\", \"q0.rr\""}},
      {"qubit q; int n = 8; delay[n * 1ns] q;", {"wait Cast.to_int(((v0 * 1) / 4)) on \"q0.xy\", \"q0.rr\""}},
      {"qubit q; duration d = 10ns + 10ns; delay[d] q;", {"assign v0 = 5", "wait Cast.to_int(v0) on \"q0.xy\", \"q0.rr\""}},
  };
  for (const Case& c : cases) expect_lines(c);
}

TEST(ExpressionSemantics, ABitRegisterReadsAsTheUnsignedIntegerOfItsBits) {
  const Case cases[] = {
      {"qubit q; bit[2] c; if (c == 3) { x q; }", {"if ((v0[0] + (v0[1] << 1)) == 3):"}},
      {"bit[2] c; int x = c;", {"assign v1 = (v0[0] + (v0[1] << 1))"}},
      {"qubit q; bit[2] c; switch (c) { case 1 { x q; } default { } }", {"switch (v0[0] + (v0[1] << 1)):"}},
  };
  for (const Case& k : cases) expect_lines(k);
  // OpenQASM 2's condition on a whole register.
  const std::string v2 = compile("OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[1];\ncreg c[2];\nif (c == 1) x q[0];\n",
                                 demo_compile_options())
                             ->dsl_program()
                             .listing();
  EXPECT_NE(v2.find("if ((v0[0] + (v0[1] << 1)) == 1):\n"), std::string::npos) << v2;
}

// A number or a bit register as a condition is true where it is not zero.
TEST(ExpressionSemantics, NumbersAsConditionsAreTrueWhereNotZero) {
  const Case cases[] = {
      {"qubit q; int n = 2; if (n) { x q; }", {"if Cast.to_bool(v0):"}},
      {"qubit q; int n = 2; if (!n) { x q; }", {"if (v0 == 0):"}},
      {"qubit q; float f = 0.5; while (f) { x q; f = 0; }", {"while Cast.to_bool(v0):"}},
      {"qubit q; bit[2] c; if (c) { x q; }", {"if Cast.to_bool((v0[0] + (v0[1] << 1))):"}},
      {"qubit q; bool b = true; if (b) { x q; }", {"if v0:"}},
  };
  for (const Case& k : cases) expect_lines(k);
}

// Beyond the 2,000 levels lowering once recursed to. Folding and lowering alone are tested with
// 15,000 terms; the other walks of the pipeline still recurse along the chain, which the larger
// frames of a sanitizer build make the bound here.
TEST(ExpressionSemantics, LongFlatExpressionsCompile) {
  std::string sum = "1";
  for (int i = 0; i < 2500; ++i) sum += " + 1";
  expect_lines({("int x = " + sum + ";").c_str(), {"assign v0 = 2501"}});
}

}  // namespace
}  // namespace vell_qasm::driver
