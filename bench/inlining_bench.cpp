// Code-resolving steps on a program of many user-gate calls.
//
// The program defines `a` and `b` (two statements each) and `big`, ten statements of which two
// call `a` and `b`, so that a call of `big` expands to twelve built-in calls. It then calls `big`
// N times (default 100000), each call followed by a compound assignment that names a constant.
// Per step it prints the best wall time of several runs of GateInlining, ConstInlining and
// ClassicalAssignLowering, run in that order on a fresh parse each time (parsing is not timed),
// and the statements of the result.
//
// Usage: inlining_bench [calls]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "openqasm3/parser.hpp"
#include "vell_qasm/passes/code_resolving/assign_lowering.hpp"
#include "vell_qasm/passes/code_resolving/const_inlining.hpp"
#include "vell_qasm/passes/code_resolving/gate_inlining.hpp"

namespace {

using namespace vell_qasm;
using passes::code_resolving::GateSignature;

std::string generate(std::size_t calls) {
  std::string s =
      "gate a(t) q { rz(t) q; h q; }\n"
      "gate b(t) q, r { cx q, r; rx(t / 2) r; }\n"
      "gate big(t, s) q, r {\n"
      "  a(t) q; b(s) q, r; h r; rz(t + s) q; cx r, q;\n"
      "  x q; rx(t * s) r; h q; cx q, r; rz(-t) r;\n"
      "}\n"
      "const float step = pi / 64;\n"
      "qubit[8] q;\nfloat[64] phase = 0;\n";
  s.reserve(s.size() + calls * 64);
  for (std::size_t i = 0; i < calls; ++i) {
    s += "big(phase, " + std::to_string(i % 97) + " * 0.01) q[" + std::to_string(i % 8) + "], q[" +
         std::to_string((i + 3) % 8) + "];\nphase += step;\n";
  }
  return s;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t calls = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  const std::string text = generate(calls);
  auto built_ins = std::make_shared<passes::code_resolving::GateSignatures>(
      passes::code_resolving::GateSignatures{GateSignature{"h"}, GateSignature{"x"}, GateSignature{"cx"},
                                             GateSignature{"rz"}, GateSignature{"rx"}});
  // 10^5 calls expand past the default bound on expansion; the bench times speed, not the bound.
  passes::code_resolving::GateInlining gates(built_ins, std::numeric_limits<std::int64_t>::max());
  passes::code_resolving::ConstInlining constants;
  passes::code_resolving::ClassicalAssignLowering assignments;

  double best[3] = {1e300, 1e300, 1e300};
  std::size_t statements = 0;
  for (int run = 0; run < 5; ++run) {
    programs::ProgramPtr program = std::make_shared<programs::OpenQasmProgram>(openqasm3::parse(text));
    passes::Step* steps[3] = {&gates, &constants, &assignments};
    for (int i = 0; i < 3; ++i) {
      auto start = std::chrono::steady_clock::now();
      program = (*steps[i])(program);
      best[i] = std::min(best[i], seconds_since(start));
    }
    statements = std::static_pointer_cast<programs::OpenQasmProgram>(program)->ast()->statements.size();
  }
  std::printf("%zu calls of a 10-statement gate calling 2 user gates -> %zu statements\n", calls, statements);
  std::printf("%-26s %9.2f ms\n", "GateInlining", best[0] * 1e3);
  std::printf("%-26s %9.2f ms\n", "ConstInlining", best[1] * 1e3);
  std::printf("%-26s %9.2f ms\n", "ClassicalAssignLowering", best[2] * 1e3);
  return 0;
}
