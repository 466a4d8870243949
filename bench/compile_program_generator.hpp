// Generates OpenQASM 3 programs that compile on the demonstration machine (8 qubits), for the
// whole-pipeline benchmark and the driver's random run. The mix: gate calls with arithmetic on
// constants and variables, measurements, classical declarations and compound assignments,
// if/else, for and while loops, calls of user-defined gates that call each other, math
// functions of constants (folded: the SDK has math functions only as statements). Statements
// inside blocks count too. Qubit indices are literals (each names a fixed hardware qubit). The
// output depends only on the arguments; with a random source the statement kinds and numbers are
// drawn from it instead of cycling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "program_generator.hpp"

namespace vell_bench {

struct GeneratedCompileProgram {
  std::string text;
  std::size_t statements = 0;
};

// `pick(n)` returns a number below n; by default the statement index decides.
inline GeneratedCompileProgram generate_compile_program(std::size_t statements,
                                                        std::function<std::size_t(std::size_t)> pick = nullptr) {
  GeneratedCompileProgram p;
  std::string& s = p.text;
  s.reserve(statements * 34 + 512);
  s += "OPENQASM 3.0;\n"
       "const int[32] K = 3;\n"
       "const float[64] HALF = pi / 2;\n"
       "gate pair(t) a, b {\n  rx(t) a;\n  cx a, b;\n}\n"
       "gate layer(t) a, b {\n  pair(t / 2) a, b;\n  h b;\n}\n"
       "qubit[8] q;\nbit[8] c;\nint[32] x = 0;\nint[32] n = 10;\nfloat[64] theta = 0.5;\n";
  p.statements = 10;
  auto num = [](std::size_t v) { return std::to_string(v); };
  for (std::size_t i = 0; p.statements < statements; ++i) {
    const std::size_t kind = pick ? pick(10) : i % 10;
    const std::size_t r = pick ? pick(1000) : i;
    const std::string a = num(r % 8), b = num((r + 1 + (pick ? pick(7) : 0)) % 8);
    switch (kind) {
      case 0:
        s += "int[32] v" + num(i) + " = " + num(r) + " * K + (x - 1) * 2;\n";
        p.statements += 1;
        break;
      case 1:
        s += "rz(theta * " + num(r % 7) + " / 2 + HALF) q[" + a + "];\n";
        p.statements += 1;
        break;
      case 2:
        p.statements += append_shared_form(s, SharedForm::measure, a, b, r);
        break;
      case 3:
        p.statements += append_shared_form(s, SharedForm::branch, a, b, r);
        break;
      case 4:
        s += "for int j in [0:K] {\n  cx q[" + a + "], q[" + b + "];\n}\n";
        p.statements += 2;
        break;
      case 5:
        p.statements += append_shared_form(s, SharedForm::countdown, a, b, r);
        break;
      case 6:
        p.statements += append_shared_form(s, SharedForm::compound, a, b, r);
        break;
      case 7:
        s += "layer(theta + " + num(r % 3) + ") q[" + a + "], q[" + b + "];\n";
        p.statements += 1;
        break;
      case 8:
        s += "rx(HALF * 2 / K - " + num(r % 4) + " * 0.125) q[" + a + "];\n";
        p.statements += 1;
        break;
      default:
        s += "float[64] f" + num(i) + " = theta * 2.5e-3 - sin(HALF / " + num(r % 5 + 1) + ");\n";
        p.statements += 1;
        break;
    }
  }
  return p;
}

}  // namespace vell_bench
