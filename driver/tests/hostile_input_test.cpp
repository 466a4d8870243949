// Programs written to exhaust or fool the compiler: each finishes within 2 s and 200 MB, with a
// clear error at its position or, where it is valid and small, with a listing.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "vell_qasm/driver/compile.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::driver {
namespace {

// Resident memory now, and its peak since the last reset (kB).
long status_kb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(line.find(':') + 1));
  return 0;
}

struct Outcome {
  std::optional<FailureDescription> failure;
  std::string listing;
  double seconds = 0;
  long peak_growth_mb = 0;
};

Outcome run(const std::string& source, const CompileOptions& options = demo_compile_options()) {
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const long before = status_kb("VmRSS:");
  const auto start = std::chrono::steady_clock::now();
  Outcome out;
  try {
    out.listing = compile(source, options)->dsl_program().listing();
  } catch (...) {
    out.failure = describe_failure(std::current_exception());
  }
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.peak_growth_mb = (status_kb("VmHWM:") - before) / 1024;
  return out;
}

std::string chain(int levels, const std::string& link, const std::string& call) {
  std::string s = "OPENQASM 3.0;\nqubit q;\ngate g0(t) a { rz(t) a; }\n";
  for (int i = 1; i <= levels; ++i) {
    std::string body = link;
    for (std::size_t at; (at = body.find('@')) != std::string::npos;) body.replace(at, 1, "g" + std::to_string(i - 1));
    s += "gate g" + std::to_string(i) + "(t) a { " + body + " }\n";
  }
  return s + call;
}

TEST(HostileInput, FinishesQuicklyWithAClearErrorAtItsPosition) {
  struct Case {
    std::string name, source;
    // nullopt: the program compiles.
    std::optional<std::string> message_part;
    std::optional<int> line;
  };
  const std::vector<Case> cases{
      {"doubling chain, never called", chain(30, "@(t) a; @(t) a;", ""), std::nullopt, std::nullopt},
      {"doubling chain, called", chain(30, "@(t) a; @(t) a;", "g30(0.5) q;\n"),
       "The call of gate 'g30' would take the program's gate expansion to", 34},
      {"parameter doubled at each level", chain(60, "@(t + t) a;", "g60(0.5) q;\n"), "gate 'g60'", 64},
      {"parameter doubled at each level, never called", chain(60, "@(t + t) a;", ""), std::nullopt, std::nullopt},
      {"long chain called once", chain(10000, "@(t) a;", "g10000(0.5) q;\n"), std::nullopt, std::nullopt},
      {"a billion bits", "OPENQASM 3.0;\nbit[1000000000] c;\n", "a bit register holds 0 to 1000000 bits", 2},
      {"bits beyond 64-bit sizes", "OPENQASM 3.0;\nbit[9223372036854775807] c;\n", "got size 9223372036854775807", 2},
      {"negative bits", "OPENQASM 3.0;\nbit[-5] c;\n", "got size -5", 2},
      {"a huge array", "OPENQASM 3.0;\narray[int[32], 9223372036854775807] a;\n", "an array holds 1 to 1000000", 2},
      {"negative array", "OPENQASM 3.0;\narray[int[32], -1] a;\n", "non-negative", 2},
      {"too many values", "OPENQASM 3.0;\narray[int[32], 2] a = {1, 2, 3};\n",
       "When declaring 'a' got 3 values for an array of 2 elements", 2},
      {"two dimensions", "OPENQASM 3.0;\narray[int[32], 2, 2] a;\n",
       "When declaring 'a': arrays of 2 dimensions are not supported", 2},
      {"qubit slice", "OPENQASM 3.0;\nqubit[4] q;\nh q[0:2];\n", "A range (slice) as an index is not supported",
       std::nullopt},
      {"undeclared name in an ignored argument", "OPENQASM 3.0;\ngate g(t) a { h a; }\nqubit q;\ng(nosuch + 1) q;\n",
       "Undeclared name 'nosuch'", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = run(c.source);
    EXPECT_LT(out.seconds, 2.0);
    EXPECT_LT(out.peak_growth_mb, 200);
    if (!c.message_part) {
      EXPECT_FALSE(out.failure) << out.failure->message;
      continue;
    }
    ASSERT_TRUE(out.failure);
    EXPECT_NE(out.failure->message.find(*c.message_part), std::string::npos) << out.failure->message;
    if (c.line) {
      EXPECT_EQ(out.failure->line, c.line) << out.failure->message;
    }
  }
}

TEST(HostileInput, TheExpansionBoundIsTheEmbeddingApplications) {
  const std::string source = chain(12, "@(t) a; @(t) a;", "g12(0.5) q;\n");  // 4096 rotations
  CompileOptions options = demo_compile_options();
  EXPECT_FALSE(run(source, options).failure);
  options.max_expansion = 1000;
  auto refused = run(source, options);
  ASSERT_TRUE(refused.failure);
  EXPECT_NE(refused.failure->message.find("beyond the limit of 1000 (max_expansion)"), std::string::npos);
  options.max_expansion = -1;
  EXPECT_THROW(compile(source, options), ValueError);
}

TEST(GateArguments, AreRealNumbersAndGateNamesStay) {
  // half(1) rotates by 0.5, not by the integer division 1 / 2.
  auto listing = run("OPENQASM 3.0;\ngate half(c) a { rz(c / 2) a; }\nqubit q;\nhalf(1) q;\n").listing;
  EXPECT_NE(listing.find("frame_rotation 0.5 on"), std::string::npos) << listing;
  // A parameter named like the gate its body calls, and a qubit too.
  auto named = run("OPENQASM 3.0;\ngate g(x) a { x a; rz(x) a; }\ngate k(h) x { h x; x x; }\nqubit q;\n"
                   "g(0.25) q;\nk(1) q;\n");
  EXPECT_FALSE(named.failure) << named.failure->message;
  EXPECT_EQ(named.listing, run("OPENQASM 3.0;\nqubit q;\nx q;\nrz(0.25) q;\nh q;\nx q;\n").listing);
}

TEST(Inputs, AValueForAnUndeclaredNameIsRefused) {
  CompileOptions options = demo_compile_options();
  options.inputs = {{"nosuch", std::int64_t{1}}};
  auto out = run("OPENQASM 3.0;\ninput int n;\n", options);
  ASSERT_TRUE(out.failure);
  EXPECT_EQ(out.failure->message, "A value was given for 'nosuch', which the program does not declare");
  options.inputs = {{"n", std::int64_t{1}}};
  EXPECT_FALSE(run("OPENQASM 3.0;\ninput int n;\n", options).failure);
}

}  // namespace
}  // namespace vell_qasm::driver
