// Tree walks against the parse of the same program, on generated programs of 1e3 to 1e6
// statements.
//
// Per size: the best parse time of a few runs, then the best time of each walk on the parsed tree
// as a ratio to that parse: a generic transformer that changes nothing (once with the reference
// walk, once entering switch cases), a generic visitor, structural equality of the tree with its
// copy, the sharing deep copy and the copy without sharing, and the front end's hardware-qubit
// resolution (on a fresh parse each run, since it rewrites the tree). Ratios, not seconds, are the
// figures to compare between machines: both sides run in the same process, one after the other.
//
// Usage: walk_bench [max-statements]   (default 1000000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "openqasm3/parser.hpp"
#include "openqasm3/visitor.hpp"
#include "program_generator.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"

namespace {

namespace ast = openqasm3::ast;

double best_of(int runs, const std::function<void()>& setup, const std::function<void()>& work) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    setup();
    auto start = std::chrono::steady_clock::now();
    work();
    auto stop = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(stop - start).count());
  }
  return best;
}

// A walker that handles nothing skips the whole tree: these handle a class that can stand
// anywhere below a statement (and that the generated programs do not hold), so that they walk
// every node.
struct NoOpTransformer : ast::TransformerFor<NoOpTransformer> {
  explicit NoOpTransformer(ast::SwitchCases cases) : TransformerFor(cases) {}
  ast::Rewrite visit_Pragma(const ast::Ptr<ast::Pragma>& node) override { return generic_visit(node); }
};
struct NoOpVisitor : ast::VisitorFor<NoOpVisitor> {
  void visit_Pragma(ast::Pragma& node) override { generic_visit(node); }
};

void measure(std::size_t statements) {
  const auto program = vell_bench::generate_program(statements);
  const int runs = statements >= 1000000 ? 3 : statements >= 100000 ? 5 : 20;
  const auto nothing = [] {};

  ast::Ptr<ast::Program> tree;
  const double parse = best_of(runs, [&] { tree.reset(); }, [&] { tree = openqasm3::parse(program.text); });

  NoOpTransformer reference_walk(ast::SwitchCases::skip), entering_walk(ast::SwitchCases::enter);
  NoOpVisitor visitor;
  const double transform = best_of(runs, nothing, [&] { reference_walk.visit(tree); });
  const double transform_cases = best_of(runs, nothing, [&] { entering_walk.visit(tree); });
  const double visit = best_of(runs, nothing, [&] { visitor.visit(*tree); });

  ast::Ptr<ast::Program> copy;
  const double deep_copy = best_of(runs, [&] { copy.reset(); }, [&] { copy = ast::deep_copy(tree); });
  const double unshared = best_of(runs, [&] { copy.reset(); }, [&] { copy = ast::deep_copy_unshared(tree); });
  bool same = false;
  const double equality = best_of(runs, nothing, [&] { same = ast::equal(*tree, *copy); });
  if (!same) std::exit(1);
  copy.reset();

  ast::Ptr<ast::Program> fresh;
  vell_qasm::passes::parsing::HwQubitsTransformer resolver;
  const double resolve = best_of(runs, [&] { fresh = openqasm3::parse(program.text); }, [&] { resolver.visit(fresh); });

  std::printf("%11zu %9.2f %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f %9.3f\n", program.statements, parse * 1e3,
              transform / parse, transform_cases / parse, visit / parse, equality / parse, deep_copy / parse,
              unshared / parse, resolve / parse);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t max_statements = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::printf("%11s %9s %9s %9s %9s %9s %9s %9s %9s\n", "statements", "parse ms", "transform", "+cases", "visit",
              "equal", "copy", "unshared", "hw-qubits");
  std::printf("%11s %9s %9s %9s %9s %9s %9s %9s %9s\n", "", "", "x parse", "x parse", "x parse", "x parse",
              "x parse", "x parse", "x parse");
  for (std::size_t n = 1000; n <= max_statements; n *= 10) measure(n);
  return 0;
}
