// Parser throughput and memory on generated programs of 1e3 to 1e6 statements.
//
// Each size runs in a child process of its own, so that its memory figures start from a clean
// slate. Per size it prints the source size; the time of the first parse in the process (cold:
// every page of the tree is new to the process, as in a compiler run); the best time of several
// further parses (warm); MB/s and statements/s from the warm time (and MB/s from the cold one);
// and the peak resident memory that the first parse added (getrusage's ru_maxrss before and
// after, the tree included), per source byte. Tree destruction is not timed.
//
// Usage: parse_bench [max-statements]   (default 1000000)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "openqasm3/parser.hpp"
#include "program_generator.hpp"

namespace {

long max_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double parse_seconds(const std::string& text) {
  auto start = std::chrono::steady_clock::now();
  auto tree = openqasm3::parse(text);
  auto stop = std::chrono::steady_clock::now();
  if (tree->statements.empty()) std::exit(1);
  return std::chrono::duration<double>(stop - start).count();
}

void measure(std::size_t statements) {
  const auto program = vell_bench::generate_program(statements);
  const std::string& text = program.text;
  const double bytes = static_cast<double>(text.size());

  const long rss_before = max_rss_kib();
  auto start = std::chrono::steady_clock::now();
  auto tree = openqasm3::parse(text);
  auto stop = std::chrono::steady_clock::now();
  const double cold = std::chrono::duration<double>(stop - start).count();
  const long rss_after = max_rss_kib();
  tree.reset();

  const int runs = statements >= 1000000 ? 3 : statements >= 100000 ? 5 : 20;
  double warm = 1e300;
  for (int r = 0; r < runs; ++r) warm = std::min(warm, parse_seconds(text));

  std::printf("%11zu %11zu %9.2f %9.2f %9.1f %9.1f %14.0f %11.1f\n", program.statements, text.size(), cold * 1e3,
              warm * 1e3, bytes / cold / 1e6, bytes / warm / 1e6, program.statements / warm,
              static_cast<double>(rss_after - rss_before) * 1024.0 / bytes);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t max_statements = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::printf("%11s %11s %9s %9s %9s %9s %14s %11s\n", "statements", "bytes", "cold ms", "warm ms", "cold MB/s",
              "warm MB/s", "statements/s", "peak B/B");
  std::fflush(stdout);
  for (std::size_t n = 1000; n <= max_statements; n *= 10) {
    pid_t child = fork();
    if (child == 0) {
      measure(n);
      std::_Exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "parse_bench: the run for %zu statements failed\n", n);
      return 1;
    }
  }
  return 0;
}
