// A bounded random run of the whole pipeline, source text to listing, for a fixed time.
//
// Inputs: generated valid programs, the same mutated, hostile programs (gate chains that double at
// each level, registers and arrays of every size, long expressions, deep nesting, many switch
// labels, initializers longer than their array, values for undeclared inputs), token soup and raw
// bytes. Each input either compiles to a listing or fails with an exception of this project's
// libraries. A failure of the harness is:
//   - an exception of another kind (a standard library or foreign exception: a fault of ours),
//   - a run over 2 s or whose resident memory grows by more than 512 MB (a watchdog thread ends
//     the process at once, so that neither can hang or exhaust the machine),
//   - and, in a sanitizer build, any sanitizer report (the build stops at the first).
// The failing input is printed and written to pipeline_fuzz_failure.qasm in the working directory.
//
//   pipeline_fuzz [--seconds S] [--seed N] [--replay FILE]
// The seed makes a run repeatable up to where the time ends it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include <cxxabi.h>
#include <unistd.h>

#include "../bench/compile_program_generator.hpp"
#include "../driver/tests/program_mutation.hpp"
#include "vell_qasm/driver/compile.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kMaxRun = std::chrono::seconds(2);
constexpr long kMaxGrowthKb = 512L * 1024;

// ---- the run under watch

std::mutex current_mutex;
std::string current_input;  // the input of the running compilation
std::atomic<std::int64_t> run_started_ns{0};  // 0: no run
std::atomic<long> run_base_kb{0};

long resident_kb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

[[noreturn]] void fail(const std::string& why, const std::string& input) {
  std::ofstream("pipeline_fuzz_failure.qasm", std::ios::binary) << input;
  std::fprintf(stderr, "pipeline_fuzz: FAILED: %s\n---- input (also in pipeline_fuzz_failure.qasm) ----\n%s\n----\n",
               why.c_str(), input.size() > 4000 ? (input.substr(0, 4000) + "\n[...]").c_str() : input.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

void watchdog() {
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::int64_t started = run_started_ns.load();
    if (started == 0) continue;
    const auto elapsed = Clock::now().time_since_epoch() - std::chrono::nanoseconds(started);
    const long growth = resident_kb() - run_base_kb.load();
    std::string why;
    if (elapsed > kMaxRun) why = "a run took over 2 s";
    if (growth > kMaxGrowthKb) why = "a run grew by " + std::to_string(growth / 1024) + " MB";
    if (why.empty() || run_started_ns.load() != started) continue;
    std::lock_guard lock(current_mutex);
    fail(why, current_input);
  }
}


// An exception that this project's libraries raise on purpose: their own classes, and the tree
// library's refusal of a node placed in a field of another type (a std::invalid_argument that a
// step's rewrite can meet on a malformed program, named by its text).
bool is_ours(const std::string& name, const std::exception& e) {
  for (const char* prefix : {"vell_qasm::", "openqasm3::", "vell::"})
    if (name.rfind(prefix, 0) == 0) return true;
  return name == "std::invalid_argument" && std::strncmp(e.what(), "cannot place ", 13) == 0;
}

struct Stats {
  long runs = 0, compiled = 0;
  double slowest = 0;  // seconds
  std::map<std::string, long> refused;  // by exception class
};

void run_one(const std::string& input, const vell_qasm::driver::CompileOptions& options, Stats& stats) {
  {
    std::lock_guard lock(current_mutex);
    current_input = input;
  }
  run_base_kb = resident_kb();
  const auto start = Clock::now();
  run_started_ns = start.time_since_epoch().count();
  ++stats.runs;
  try {
    auto program = vell_qasm::driver::compile(input, options);
    const std::string listing = program->dsl_program().listing();
    ++stats.compiled;
  } catch (const std::exception& e) {
    const std::string name = vell_qasm::driver::exception_class_name(e);
    if (!is_ours(name, e)) fail("an exception not of the project's libraries: " + name + ": " + e.what(), input);
    if (vell_qasm::driver::describe_failure(std::current_exception()).message.empty())
      fail("a failure without text: " + name, input);
    ++stats.refused[name];
  } catch (...) {
    fail("an exception not derived from std::exception", input);
  }
  run_started_ns = 0;
  stats.slowest = std::max(stats.slowest, std::chrono::duration<double>(Clock::now() - start).count());
}

// ---- inputs

struct Generator {
  std::mt19937_64 rng;
  std::size_t below(std::size_t n) { return n == 0 ? 0 : std::size_t(rng() % n); }
  template <class T> const T& one_of(const std::vector<T>& items) { return items[below(items.size())]; }

  std::string valid() {
    return vell_bench::generate_compile_program(5 + below(40), [this](std::size_t n) { return below(n); }).text;
  }

  // Gates each calling the one before, `fan` times, maybe with a parameter that grows per level.
  std::string gate_chain() {
    const int depth = 1 + int(below(64));
    const int fan = 1 + int(below(3));
    static const std::vector<std::string> params{"t", "t + t", "2 * t", "-t", "t / 2"};
    const std::string& param = one_of(params);
    std::string s = "OPENQASM 3.0;\nqubit[2] q;\ngate g0(t) a { rz(t) a; }\n";
    for (int i = 1; i <= depth; ++i) {
      s += "gate g" + std::to_string(i) + "(t) a {";
      for (int k = 0; k < fan; ++k) s += " g" + std::to_string(i - 1) + "(" + param + ") a;";
      s += " }\n";
    }
    const int calls = int(below(3));
    for (int k = 0; k < calls; ++k) s += "g" + std::to_string(below(depth + 1)) + "(0.5) q[" + std::to_string(k % 2) + "];\n";
    return s;
  }

  std::string sizes() {
    static const std::vector<std::string> numbers{"-5", "-1", "0", "1", "8", "1000", "1000000", "1000001",
                                                  "1000000000", "2147483648", "9223372036854775807",
                                                  "99999999999999999999", "1 + 1", "n"};
    static const std::vector<std::string> forms{"bit[N] c;", "array[int[32], N] a;", "array[bool, N, 2] a;",
                                                "qubit[N] r;", "int[N] i;", "array[float[64], N] a = {1.0, 2.0, 3.0};",
                                                "bit[N] c = \"0101\";"};
    std::string s = "OPENQASM 3.0;\nconst int n = 4;\n";
    for (int k = 1 + int(below(3)); k > 0; --k) {
      std::string form = one_of(forms);
      form.replace(form.find('N'), 1, one_of(numbers));
      s += form + "\n";
    }
    return s;
  }

  std::string long_expression() {
    const std::size_t terms = 1 + below(3000);
    std::string s = "OPENQASM 3.0;\nint x = 1";
    static const std::vector<std::string> ops{" + ", " - ", " * ", " / ", " % ", " ** "};
    for (std::size_t i = 0; i < terms; ++i) s += one_of(ops) + std::to_string(below(10));
    s += ";\nqubit q;\nrz(x) q;\n";
    return s;
  }

  std::string nesting() {
    const std::size_t depth = 1 + below(300);
    static const std::vector<std::string> opens{"if (true) {", "for int i in [0:1] {", "while (false) {", "box {",
                                                "switch (1) { case 1 {", "(", "{"};
    std::string s = "OPENQASM 3.0;\nqubit q;\nint y = 0;\n";
    std::string closes;
    const std::string& open = one_of(opens);
    for (std::size_t i = 0; i < depth; ++i) s += open;
    s += open == "(" ? "y" : " h q; ";
    for (std::size_t i = 0; i < depth; ++i) s += open == "(" ? ")" : (open.rfind("switch", 0) == 0 ? "} }" : "}");
    return s + "\n";
  }

  std::string switch_labels() {
    const std::size_t cases = 1 + below(30), labels = 1 + below(40);
    std::string s = "OPENQASM 3.0;\nqubit q;\nint x = 0;\nint y = 0;\nswitch (x) {\n";
    for (std::size_t c = 0; c < cases; ++c) {
      s += "case ";
      for (std::size_t l = 0; l < labels; ++l) s += (l ? ", " : "") + std::to_string(c * labels + l);
      s += " { switch (y) { case 0, 1, 2, 3 { h q; } default { x q; } } }\n";
    }
    return s + "}\n";
  }

  std::string soup() {
    std::string s = below(2) ? "OPENQASM 3.0;\n" : "";
    for (std::size_t n = below(60); n > 0; --n) s += one_of(vell_qasm::driver::kTokens) + " ";
    return s;
  }

  std::string bytes() {
    std::string s = below(2) ? "OPENQASM 3.0;\n" : "";
    for (std::size_t n = below(200); n > 0; --n) s += char(below(256));
    return s;
  }

  std::string next(vell_qasm::driver::CompileOptions& options) {
    std::string s;
    switch (below(11)) {
      case 0: s = valid(); break;
      case 1: case 2: s = vell_qasm::driver::mutate(valid(), rng); break;
      case 3: s = gate_chain(); break;
      case 4: s = sizes(); break;
      case 5: s = long_expression(); break;
      case 6: s = nesting(); break;
      case 7: s = switch_labels(); break;
      case 8: s = soup(); break;
      case 9: s = bytes(); break;
      default: s = vell_qasm::driver::mutate(below(2) ? gate_chain() : sizes(), rng); break;
    }
    // Now and then values for inputs, some of them for names the program does not declare.
    if (below(8) == 0) options.inputs = {{below(2) ? "x" : "nosuch", std::int64_t(below(5))}};
    return s;
  }
};

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 5;
  std::uint64_t seed = 20261209;
  const char* replay = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--seed")) seed = std::strtoull(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--replay")) replay = argv[i + 1];
    else {
      std::fprintf(stderr, "usage: pipeline_fuzz [--seconds S] [--seed N] [--replay FILE]\n");
      return 2;
    }
  }
  std::thread(watchdog).detach();
  vell_qasm::driver::CompileOptions base = vell_qasm::driver::demo_compile_options();
  // Valid programs near the default expansion bound take seconds (more under the sanitizers): the
  // harness, as an embedding application may, sets a bound its 2 s hold for. The default bound is
  // tested by the hostile-input tests.
  base.max_expansion = 100'000;
  Stats stats;
  if (replay) {
    run_one(read_file(replay), base, stats);
    std::printf("pipeline_fuzz: replayed %s: %s\n", replay, stats.compiled ? "compiled" : "refused");
    return 0;
  }
  Generator generator{std::mt19937_64(seed)};
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    vell_qasm::driver::CompileOptions options = base;
    const std::string input = generator.next(options);
    run_one(input, options, stats);
  }
  std::printf("pipeline_fuzz: %ld runs in %.0f s (seed %llu), slowest %.3f s: %ld compiled, refused by class:\n",
              stats.runs, seconds, static_cast<unsigned long long>(seed), stats.slowest, stats.compiled);
  for (const auto& [name, count] : stats.refused) std::printf("  %8ld  %s\n", count, name.c_str());
  return 0;
}
