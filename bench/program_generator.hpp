// Generates OpenQASM 3 programs of a given number of statements, for the parser benchmark and the
// parser's round-trip tests. The mix: declarations with initialisers, gate calls with arithmetic
// arguments, measurements, if/else, for and while loops, compound assignments. Statements inside
// blocks count too. The output depends only on the arguments.
#pragma once

#include <cstddef>
#include <string>

namespace vell_bench {

// The statement forms both generators write alike, on qubit and bit indices `a` and `b` and the
// number `r`: a measurement, an if/else on a bit, a while loop counting n down and a compound
// assignment. Returns how many statements were added.
enum class SharedForm { measure, branch, countdown, compound };
inline std::size_t append_shared_form(std::string& s, SharedForm form, const std::string& a, const std::string& b,
                                      std::size_t r) {
  switch (form) {
    case SharedForm::measure:
      s += "c[" + a + "] = measure q[" + b + "];\n";
      return 1;
    case SharedForm::branch:
      s += "if (c[" + a + "] == 1) {\n  x q[" + a + "];\n} else {\n  h q[" + b + "];\n}\n";
      return 3;
    case SharedForm::countdown:
      s += "while (n > " + std::to_string(r % 3) + ") {\n  n -= 1;\n}\n";
      return 2;
    case SharedForm::compound:
      s += "x += " + std::to_string(r) + " % 5;\n";
      return 1;
  }
  return 0;
}

struct GeneratedProgram {
  std::string text;
  std::size_t statements = 0;
};

inline GeneratedProgram generate_program(std::size_t statements) {
  GeneratedProgram p;
  std::string& s = p.text;
  s.reserve(statements * 28 + 256);
  s += "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[8] q;\nbit[8] c;\nint[32] x = 0;\nint[32] n = 10;\n"
       "angle[32] theta = 0.5;\n";
  p.statements = 7;
  auto num = [](std::size_t v) { return std::to_string(v); };
  for (std::size_t i = 0; p.statements < statements; ++i) {
    const std::string a = num(i % 8), b = num((i + 1) % 8);
    switch (i % 8) {
      case 0:
        s += "int[32] v" + num(i) + " = " + num(i) + " * 3 + (x - 1) / 2;\n";
        p.statements += 1;
        break;
      case 1:
        s += "rz(theta * " + num(i % 7) + " / 2 + 0.25) q[" + a + "];\n";
        p.statements += 1;
        break;
      case 2:
        p.statements += append_shared_form(s, SharedForm::measure, a, b, i);
        break;
      case 3:
        p.statements += append_shared_form(s, SharedForm::branch, a, b, i);
        break;
      case 4:
        s += "for uint j in [0:" + num(i % 5) + "] {\n  cx q[" + a + "], q[" + b + "];\n}\n";
        p.statements += 2;
        break;
      case 5:
        p.statements += append_shared_form(s, SharedForm::countdown, a, b, i);
        break;
      case 6:
        p.statements += append_shared_form(s, SharedForm::compound, a, b, i);
        break;
      default:
        s += "float[64] f" + num(i) + " = sin(theta) * 2.5e-3 - " + num(i) + ".5;\n";
        p.statements += 1;
        break;
    }
  }
  return p;
}

}  // namespace vell_bench
