// The whole pipeline, listing included, on programs that grow along one dimension each, to show
// how time and memory grow with it:
//   gates      a chain of user gates, each calling the one before it and then x, the last one
//              called once (n x gates in all)
//   constants  a chain of constants, each defined from the one before it, then each used once,
//              the last first
//   includes   that many included files of one statement each
//   expression one constant expression of that many terms
//   cases      one switch with that many cases
//   qubits     that many qubits (the machine has as many), a gate on each
//   variables  that many classical variables, each declared with a value and updated once
//
// Every size runs in a child process of its own (fresh memory figures) with a time limit (60 s)
// and an address-space limit (6 GiB); a dimension stops growing after a size that fails or takes
// more than a quarter of the time limit. Per size: the
// time of the first whole run, the peak resident memory it added (tree, TAVO program and listing
// writer included) and both per unit.
//
// Usage: stress_bench [max-units] [dimension...]   (default 100000, every dimension)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "vell_qasm/driver/compile.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kTimeLimitSeconds = 60;
constexpr rlim_t kMemoryLimit = rlim_t{6} << 30;

struct Generated {
  std::string text;
  std::int64_t qubits = 8;
  bool includes = false;
};

std::string num(std::size_t v) { return std::to_string(v); }

Generated generate(const std::string& dimension, std::size_t n, const std::filesystem::path& directory) {
  Generated g;
  std::string& s = g.text;
  s = "OPENQASM 3.0;\n";
  if (dimension == "gates") {
    s += "qubit[1] q;\ngate g0 a {\n  x a;\n}\n";
    for (std::size_t i = 1; i < n; ++i) s += "gate g" + num(i) + " a {\n  g" + num(i - 1) + " a;\n  x a;\n}\n";
    s += "g" + num(n - 1) + " q[0];\n";
  } else if (dimension == "constants") {
    s += "int[64] x = 0;\nconst int c0 = 1;\n";
    for (std::size_t i = 1; i < n; ++i) s += "const int c" + num(i) + " = c" + num(i - 1) + " + 1;\n";
    for (std::size_t i = n; i-- > 0;) s += "x = c" + num(i) + ";\n";  // the longest chain first
  } else if (dimension == "includes") {
    g.includes = true;
    s += "int[64] x = 0;\n";
    for (std::size_t i = 0; i < n; ++i) {
      const std::string name = "part" + num(i) + ".inc";
      std::ofstream(directory / name) << "x = x + " << i << ";\n";
      s += "include \"" + name + "\";\n";
    }
  } else if (dimension == "expression") {
    s += "int[64] x = 0;\nx = 1";
    for (std::size_t i = 1; i < n; ++i) s += " + " + num(i % 10);
    s += ";\n";
  } else if (dimension == "cases") {
    s += "qubit[2] q;\nint[32] x = 0;\nswitch (x) {\n";
    for (std::size_t i = 0; i < n; ++i) s += "  case " + num(i) + " {\n    x = " + num(i + 1) + ";\n  }\n";
    s += "  default {\n    h q[0];\n  }\n}\n";
  } else if (dimension == "qubits") {
    g.qubits = static_cast<std::int64_t>(n);
    s += "qubit[" + num(n) + "] q;\n";
    for (std::size_t i = 0; i < n; ++i) s += "h q[" + num(i) + "];\n";
  } else if (dimension == "variables") {
    for (std::size_t i = 0; i < n; ++i) s += "int[32] v" + num(i) + " = " + num(i) + ";\nv" + num(i) + " += 1;\n";
  }
  return g;
}

using vell_bench::max_rss_kib;

using CountingSink = vell_bench::ListingSink;

// Runs in the child; its exit status is 0 when the compilation succeeded.
int run(const std::string& dimension, std::size_t n) {
  const auto directory = std::filesystem::temp_directory_path() / ("stress_bench_" + num(static_cast<std::size_t>(getpid())));
  std::filesystem::create_directories(directory);
  const Generated g = generate(dimension, n, directory);
  // The demonstration machine's operations on a machine of as many qubits as the program needs
  // (the demonstration machine itself stops at 1024).
  auto options = vell_qasm::driver::demo_compile_options();
  auto qubits = std::make_shared<vell_qasm::configurations::QubitsMapping>();
  for (std::int64_t i = 0; i < g.qubits; ++i) qubits->emplace(i, vell_qasm::configurations::Elements{"q" + num(static_cast<std::size_t>(i)) + ".xy", "q" + num(static_cast<std::size_t>(i)) + ".rr"});
  options.machine_setup = std::make_shared<const vell_qasm::configurations::MachineSetup>(
      options.machine_setup->quantum_op_registry, std::move(qubits));
  options.include_directory = directory;
  const long rss_before = max_rss_kib();
  const auto start = Clock::now();
  int status = 0;
  std::string outcome = "ok";
  try {
    auto program = vell_qasm::driver::compile(g.text, options);
    CountingSink sink;
    std::ostream out(&sink);
    program->dsl_program().write_listing(out);
    outcome = "ok, listing " + num(sink.bytes) + " B";
  } catch (...) {
    outcome = "failed: " + vell_qasm::driver::describe_failure(std::current_exception()).message;
    status = 1;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double peak = static_cast<double>(max_rss_kib() - rss_before) * 1024.0;
  std::filesystem::remove_all(directory);
  std::printf("%-10s %8zu %11zu %11.1f %9.2f %9.1f %9.0f  %s\n", dimension.c_str(), n, g.text.size(), seconds * 1e3,
              seconds * 1e6 / static_cast<double>(n), peak / 1048576.0, peak / static_cast<double>(n),
              outcome.substr(0, 100).c_str());
  std::fflush(stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t max_units = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  std::vector<std::string> dimensions;
  for (int i = 2; i < argc; ++i) dimensions.emplace_back(argv[i]);
  if (dimensions.empty())
    dimensions = {"gates", "constants", "includes", "expression", "cases", "qubits", "variables"};
  std::printf("%-10s %8s %11s %11s %9s %9s %9s  %s\n", "dimension", "units", "source B", "time ms", "us/unit",
              "peak MiB", "B/unit", "outcome");
  for (const std::string& dimension : dimensions) {
    for (std::size_t n = 100; n <= max_units; n *= 10) {
      const auto start = Clock::now();
      std::fflush(stdout);
      pid_t child = fork();
      if (child == 0) {
        alarm(kTimeLimitSeconds);
        // The machine is shared: a dimension that grows memory out of bounds fails instead.
        rlimit limit{kMemoryLimit, kMemoryLimit};
        setrlimit(RLIMIT_AS, &limit);
        std::_Exit(run(dimension, n));
      }
      int status = 0;
      const bool waited = child > 0 && waitpid(child, &status, 0) == child;
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (waited && WIFSIGNALED(status)) {
        std::printf("%-10s %8zu %11s %11.1f %9s %9s %9s  %s\n", dimension.c_str(), n, "-", seconds * 1e3, "-", "-", "-",
                    WTERMSIG(status) == SIGALRM ? "stopped at the time limit" : "killed by a signal");
        std::fflush(stdout);
      }
      if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || seconds > kTimeLimitSeconds / 4.0) break;
    }
  }
  return 0;
}
