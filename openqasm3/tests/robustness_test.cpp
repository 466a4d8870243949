// Robustness: the stack guard on every stack size, and deep trees through every walk.
#include <gtest/gtest.h>
#include <pthread.h>

#include <exception>
#include <functional>
#include <string>

#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "openqasm3/stack_guard.hpp"
#include "tree_builders.hpp"

namespace {

using namespace openqasm3::ast;
using namespace qasm_test;
using openqasm3::dumps;
using openqasm3::parse;
using openqasm3::QASM3ParsingError;
using openqasm3::StackExhausted;

std::string repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Runs `f` on a new thread with a stack of `stack_bytes`; rethrows what it threw.
void on_thread(std::size_t stack_bytes, const std::function<void()>& f) {
  struct Job {
    const std::function<void()>* f;
    std::exception_ptr error;
  } job{&f, nullptr};
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, stack_bytes), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, [](void* p) -> void* {
    auto* j = static_cast<Job*>(p);
    try {
      (*j->f)();
    } catch (...) {
      j->error = std::current_exception();
    }
    return nullptr;
  }, &job), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  if (job.error) std::rethrow_exception(job.error);
}

int recurse(int n) {
  openqasm3::StackGuard guard("test recursion");
  volatile char pad[256] = {};
  return n == 0 ? pad[0] : recurse(n - 1) + pad[n % 256];
}

TEST(StackGuard, TripsBeforeTheStackEndsOnSmallAndLargeStacks) {
  for (std::size_t kib : {256u, 512u, 8192u}) {
    try {
      on_thread(kib * 1024, [] { recurse(1 << 30); });
      ADD_FAILURE() << kib << " KiB: no StackExhausted";
    } catch (const StackExhausted& e) {
      EXPECT_STREQ(e.what(), "stack exhausted: nesting too deep for test recursion");
    }
  }
  EXPECT_THROW(recurse(1 << 30), StackExhausted);  // the main thread
  EXPECT_EQ(recurse(100), 0);                       // shallow recursion passes
}

// Deep nesting on a small thread: a syntax error, never a crash. Ordinary programs still parse
// there, whatever the sanitizer does with locals (detect_stack_use_after_return puts them on the
// heap, so only frame addresses tell the stack's depth).
TEST(StackGuard, ParserOnSmallThreadStacks) {
  const std::string deep[] = {
      repeat("if (c) ", 998) + "x q;",
      "x = " + repeat("-", 998) + "1;",
      "x = " + repeat("(", 998) + "1" + repeat(")", 998) + ";",
      repeat("{", 998) + repeat("}", 998),
      "x = " + repeat("2 ** ", 998) + "2;",
  };
  for (std::size_t kib : {256u, 512u}) {
    for (const auto& source : deep) {
      try {
        on_thread(kib * 1024, [&] { parse(source); });
      } catch (const QASM3ParsingError& e) {
        EXPECT_EQ(e.message, "nesting too deep for the stack left to this thread") << kib << " KiB";
        EXPECT_EQ(e.line, 1);
      }
    }
    on_thread(kib * 1024, [] {
      auto program = parse("OPENQASM 3.0;\nqubit q;\nbit c;\nx = 1;\nif (c) { x q; } else { c = measure q; }\n");
      if (program->statements.size() != 4) throw std::runtime_error("wrong statement count");
      parse(dumps(*program));
    });
  }
}

// Printed text reads back to an equal tree, also for trees whose naive printed form would be
// deeper than the text they came from, or would not be a number.
// Parsed nodes find their parse's memory from their own address: trees of several parses, larger
// than one block of it, kept alive in part and dropped in any order or on another thread, each
// free their own memory once (the sanitizer build reports a leak or a bad free otherwise).
TEST(ParsedTrees, OutliveTheirParseAndAreFreedAnywhere) {
  const std::string big = "qubit q;\n" + repeat("rz(0.5 * 2 + 1) q;\n", 40000);
  auto first = parse(big);
  Ptr<Program> second;
  on_thread(1 << 20, [&] { second = parse("int x = 1 + 2;"); });
  NodePtr kept = first->statements.back();
  first.reset();
  EXPECT_EQ(dumps(*kept), "rz(0.5 * 2 + 1) q;\n");
  on_thread(1 << 20, [&] {
    kept.reset();
    second.reset();
  });
  EXPECT_EQ(parse(big)->statements.size(), 40001u);  // on the blocks handed back
}

TEST(PrintAndReadBack, InfiniteRealsAndLongPrefixAndPowerChains) {
  const std::string sources[] = {
      "5e510;",
      "x = 1e999ns;",
      "y = 1e999im;",
      "z = -1e999 * 2e400;",
      "x = " + repeat("-", 500) + "1;",
      "x = " + repeat("!", 500) + "b;",
      "x = " + repeat("~", 500) + "b;",
      "x = " + repeat("-!~", 300) + "b;",
      "x = " + repeat("2 ** ", 500) + "2;",
      "x = " + repeat("-(", 400) + "1" + repeat(")", 400) + ";",
      "x = " + repeat("2 ** -", 400) + "2;",
      "x ~= 1;",
  };
  for (const auto& source : sources) {
    auto first = parse(source);
    const std::string printed = dumps(*first);
    std::shared_ptr<Program> second;
    try {
      second = parse(printed);
    } catch (const QASM3ParsingError& e) {
      ADD_FAILURE() << source.substr(0, 40) << ": printed form refused: " << e.what() << "\n" << printed.substr(0, 200);
      continue;
    }
    EXPECT_TRUE(equal(*first, *second)) << source.substr(0, 40) << "\n" << printed.substr(0, 200);
    EXPECT_EQ(dumps(*second), printed);
  }
  EXPECT_EQ(dumps(*parse("5e510;")), "1e999;\n");
  EXPECT_EQ(dumps(*make<DurationLiteral>(-HUGE_VAL, TimeUnit::ns)), "-1e999ns");
}

// Chains not nested in the text are as deep as they are long: they parse, print, read back equal,
// copy and free at any length.
TEST(DeepTrees, FlatChainsOfTenThousandLinks) {
  const std::string sources[] = {
      "int x = 1" + repeat(" + 1", 10000) + ";\n",
      "x = a" + repeat("[0]", 10000) + ";\n",
      "let a = b" + repeat(" ++ b", 10000) + ";\n",
      "x = 2" + repeat(" * 3 - 4", 5000) + ";\n",
  };
  for (const auto& source : sources) {
    auto first = parse(source);
    const std::string printed = dumps(*first);
    EXPECT_EQ(printed, source);
    auto second = parse(printed);
    EXPECT_TRUE(equal(*first, *second));
    auto copy = deep_copy(second);
    second.reset();
    EXPECT_TRUE(equal(*first, *copy));
  }
}

// A recursive walk of a very deep tree either finishes (an optimising build may turn the recursion
// along a chain into a loop) or stops with StackExhausted; anything else fails the test.
template <class F> void finishes_or_exhausts(F&& walk) {
  try {
    walk();
  } catch (const StackExhausted&) {
  }
}

// Trees built by hand have no depth limit. Copies, equality, printing of operator chains and
// freeing do not recurse; the recursive walks (visitors, transformers, repr, printing nested
// expressions) finish or stop with StackExhausted; nothing crashes, on the main thread or a small one.
void hand_built_chains(int n) {
  ExprPtr left = id("a");
  for (int i = 0; i < n; ++i) left = bin("+", left, num(1));
  ExprPtr right = id("a");
  for (int i = 0; i < n; ++i) right = un("-", right);
  auto program = make<Program>(std::vector<NodePtr>{stmt(left), stmt(right)});

  auto copy = deep_copy(program);
  EXPECT_TRUE(equal(*program, *copy));
  EXPECT_TRUE(equal(*program, *deep_copy_unshared(program)));
  auto other = deep_copy(left);
  std::static_pointer_cast<IntegerLiteral>(std::static_pointer_cast<BinaryExpression>(
      std::static_pointer_cast<BinaryExpression>(other)->lhs)->rhs)->value = 2;
  EXPECT_FALSE(equal(*left, *other));
  // A difference at the bottom is found too.
  auto bottom = deep_copy(left);
  ExprPtr e = bottom;
  while (auto b = dyn_cast<BinaryExpression>(e)) e = b->lhs;
  std::static_pointer_cast<Identifier>(e)->name = "b";
  EXPECT_FALSE(equal(*left, *bottom));

  const std::string printed = dumps(*left);
  EXPECT_EQ(printed.size(), 1 + 4 * static_cast<std::size_t>(n));
  finishes_or_exhausts([&] { dumps(*right); });
  finishes_or_exhausts([&] { repr(*program); });
  // Both with the generic walk's shortcut and through every handler.
  struct Walk : VisitorFor<Walk> {};
  Walk walk;
  finishes_or_exhausts([&] { walk.visit(*program); });
  struct PlainWalk : QASMVisitor {};
  PlainWalk plain_walk;
  finishes_or_exhausts([&] { plain_walk.visit(*program); });
  struct Rewrite : TransformerFor<Rewrite> {};
  Rewrite rewrite;
  finishes_or_exhausts([&] { rewrite.visit(program); });
  struct PlainRewrite : QASMTransformer {};
  PlainRewrite plain_rewrite;
  finishes_or_exhausts([&] { plain_rewrite.visit(program); });
  // Freeing program, copy, other, left and right here must not recurse either.
}

TEST(DeepTrees, HandBuiltChainsOfTwoHundredThousandNodes) {
  hand_built_chains(200000);
  on_thread(256 * 1024, [] { hand_built_chains(20000); });
}

}  // namespace
