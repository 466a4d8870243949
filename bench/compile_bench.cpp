// The whole pipeline (source text to a finished TAVO program on the demonstration machine) against
// the parse alone of the same program, on generated programs of 1e3 to 1e6 statements
// (compile_program_generator.hpp: gates, measurements, classical arithmetic, branches, loops, user
// gates, constants).
//
// Each size runs in a child process of its own, so that its memory figures start from a clean
// slate. Per size:
//   - the first whole run in the process (cold) and the peak resident memory it added
//     (ru_maxrss before and after, the tree and the TAVO program included), per source byte;
//   - the best time of the parse alone (warm) and of the whole pipeline (warm), their ratio, and
//     the pipeline's statements per second;
//   - the best time of each step, run one after the other as the pipeline runs them, and of
//     writing the finished program's listing (counted in the whole).
// Destroying the tree and the program is not timed.
//
// Usage: compile_bench [max-statements]   (default 1000000)
//        compile_bench --listing N         (prints the listing of the N-statement program, to
//                                           compare listings across changes)
//        compile_bench --source N          (prints the N-statement program itself)
//        compile_bench --once WHAT N       (WHAT is generate, parse or whole: generates the program
//                                           and, for parse or whole, parses or compiles it once
//                                           with its listing; for instruction counts, such as
//                                           valgrind --tool=callgrind, where the difference to
//                                           `generate` is the cost of the parse or of the whole)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "compile_program_generator.hpp"
#include "openqasm3/parser.hpp"
#include "vell_qasm/driver/compile.hpp"

namespace {

using Clock = std::chrono::steady_clock;

using vell_bench::max_rss_kib;

using vell_bench::ListingSink;

void write_listing(const vell_qasm::programs::Program& program, ListingSink& sink) {
  const auto& tavo_program = dynamic_cast<const vell_qasm::programs::Tavo1Program&>(program);
  std::ostream out(&sink);
  tavo_program.dsl_program().write_listing(out);
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void measure(std::size_t statements) {
  const auto generated = vell_bench::generate_compile_program(statements);
  const std::string& text = generated.text;
  const double bytes = static_cast<double>(text.size());
  const auto options = vell_qasm::driver::demo_compile_options();

  // Cold: the first whole run.
  const long rss_before = max_rss_kib();
  auto start = Clock::now();
  auto first = vell_qasm::driver::compile(text, options);
  {
    ListingSink sink;
    write_listing(*first, sink);
  }
  const double cold = since(start);
  const long rss_after = max_rss_kib();
  first.reset();

  const int runs = statements >= 1000000 ? 2 : statements >= 100000 ? 3 : 10;
  double parse = 1e300;
  for (int r = 0; r < runs; ++r) {
    start = Clock::now();
    auto tree = openqasm3::parse(text);
    parse = std::min(parse, since(start));
  }

  auto pipeline = vell_qasm::driver::make_pipeline(options);
  std::vector<double> steps(pipeline->steps.size() + 1, 1e300);
  double whole = 1e300;
  for (int r = 0; r < runs; ++r) {
    vell_qasm::programs::ProgramPtr program = std::make_shared<vell_qasm::programs::TextualProgram>(text);
    openqasm3::ast::NodeArenaScope arena(text.size());  // as compile() runs the steps
    double total = 0;
    for (std::size_t s = 0; s < pipeline->steps.size(); ++s) {
      start = Clock::now();
      auto next = (*pipeline->steps[s])(program);
      const double t = since(start);
      program = std::move(next);
      steps[s] = std::min(steps[s], t);
      total += t;
    }
    start = Clock::now();
    {
      ListingSink sink;
      write_listing(*program, sink);
    }
    const double t = since(start);
    steps.back() = std::min(steps.back(), t);
    total += t;
    whole = std::min(whole, total);
  }

  std::printf("%10zu %10zu | parse %9.2f ms | whole %9.2f ms (cold %9.2f) | ratio %5.2f | %10.0f stmt/s | peak %6.1f B/B\n",
              generated.statements, text.size(), parse * 1e3, whole * 1e3, cold * 1e3, whole / parse,
              generated.statements / whole, static_cast<double>(rss_after - rss_before) * 1024.0 / bytes);
  std::printf("           steps (ms):");
  for (std::size_t s = 0; s + 1 < steps.size(); ++s) std::printf(" %s %.2f,", pipeline->steps[s]->name.c_str(), steps[s] * 1e3);
  std::printf(" listing %.2f\n", steps.back() * 1e3);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--source") {
    std::fputs(vell_bench::generate_compile_program(std::strtoull(argv[2], nullptr, 10)).text.c_str(), stdout);
    return 0;
  }
  if (argc > 2 && std::string(argv[1]) == "--listing") {
    const auto generated = vell_bench::generate_compile_program(std::strtoull(argv[2], nullptr, 10));
    auto program = vell_qasm::driver::compile(generated.text, vell_qasm::driver::demo_compile_options());
    program->dsl_program().write_listing(std::cout);
    return 0;
  }
  if (argc > 3 && std::string(argv[1]) == "--once") {
    const std::string what = argv[2];
    const auto generated = vell_bench::generate_compile_program(std::strtoull(argv[3], nullptr, 10));
    // As in the timed runs, freeing the results is not counted: the process ends without it.
    if (what == "parse") {
      auto tree = openqasm3::parse(generated.text);
      std::fflush(stdout);
      std::_Exit(0);
    } else if (what == "whole") {
      auto program = vell_qasm::driver::compile(generated.text, vell_qasm::driver::demo_compile_options());
      ListingSink sink;
      write_listing(*program, sink);
      std::fflush(stdout);
      std::_Exit(0);
    }
    return 0;
  }
  const std::size_t max_statements = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  for (std::size_t n = 1000; n <= max_statements; n *= 10) {
    pid_t child = fork();
    if (child == 0) {
      try {
        measure(n);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "compile_bench: %s\n", vell_qasm::driver::describe_failure(std::current_exception()).message.c_str());
        std::_Exit(1);
      }
      std::_Exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "compile_bench: the run for %zu statements failed\n", n);
      return 1;
    }
  }
  return 0;
}
