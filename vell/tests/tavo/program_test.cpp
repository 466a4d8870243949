#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "vell_test/tavo.hpp"

namespace tavo = vell::tavo;
using tavo::DType;
using vell_test::expect_refusal;

TEST(ProgramScope, ReentryAppendsToTheSameProgramInOrder) {
  auto scope = tavo::program();
  EXPECT_TRUE(scope.program().empty());
  EXPECT_EQ(scope.program().listing(), "");
  tavo::Expr x;
  {
    auto entered = scope.enter();
    x = tavo::declare(DType::Int, 0);
    auto block = tavo::if_(x > 1);
    tavo::assign(x, 1);
  }
  EXPECT_FALSE(tavo::is_inside_scope());
  {
    auto entered = scope.enter();
    // The if_ closed in the first entry is still the statement right before.
    auto otherwise = tavo::else_();
    tavo::assign(x, 2);
  }
  {
    auto entered = scope.enter();
    tavo::assign(x, x + 3);
  }
  EXPECT_EQ(scope.entry_count(), 3u);
  EXPECT_EQ(scope.program().listing(),
            "declare v0: int = 0\n"
            "if (v0 > 1):\n"
            "  assign v0 = 1\n"
            "else:\n"
            "  assign v0 = 2\n"
            "assign v0 = (v0 + 3)\n");
  // A copy of the scope is the same scope.
  auto copy = scope;
  EXPECT_EQ(copy.program().listing(), scope.program().listing());
  EXPECT_EQ(copy.entry_count(), 3u);
}

TEST(ProgramScope, LeftAlsoWhenTheBlockFailsKeepingWhatWasRecorded) {
  auto scope = tavo::program();
  try {
    auto entered = scope.enter();
    auto x = tavo::declare(DType::Int, 0);
    auto loop = tavo::while_(x < 3);
    tavo::assign(x, x + 1);
    throw std::runtime_error("target function failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(tavo::is_inside_scope());
  EXPECT_FALSE(scope.is_entered());
  {
    auto entered = scope.enter();  // can be entered again, and appends after the loop
    tavo::align({"a", "b"});
  }
  EXPECT_EQ(scope.program().listing(),
            "declare v0: int = 0\n"
            "while (v0 < 3):\n"
            "  assign v0 = (v0 + 1)\n"
            "align \"a\", \"b\"\n");
}

TEST(ProgramScope, OneProgramScopeAtATimePerThreadAndPerScope) {
  auto first = tavo::program();
  auto second = tavo::program();
  {
    auto entered = first.enter();
    EXPECT_TRUE(tavo::is_inside_scope());
    EXPECT_TRUE(first.is_entered());
    expect_refusal<tavo::TavoScopeError>(
        first, [&] { (void)first.enter(); }, "enter: a program scope is already entered on this thread");
    expect_refusal<tavo::TavoScopeError>(
        first, [&] { (void)second.enter(); }, "enter: a program scope is already entered on this thread");
    EXPECT_EQ(first.entry_count(), 1u);
    EXPECT_EQ(second.entry_count(), 0u);

    // Another thread has no scope open, and cannot enter one that is entered here.
    std::thread([&] {
      EXPECT_FALSE(tavo::is_inside_scope());
      EXPECT_THROW(tavo::declare(DType::Int, 0), tavo::TavoScopeError);
      EXPECT_THROW((void)first.enter(), tavo::TavoScopeError);
      auto other = second.enter();
      tavo::declare(DType::Bool, true);
    }).join();
  }
  EXPECT_FALSE(tavo::is_inside_scope());
  EXPECT_EQ(first.program().listing(), "");
  EXPECT_EQ(second.program().listing(), "declare v0: bool = true\n");
}

TEST(ProgramScope, AThreadThatEndsReleasesItsScope) {
  auto scope = tavo::program();
  std::optional<tavo::ScopeGuard> leaked;
  std::thread([&] {
    leaked.emplace(scope.enter());
    tavo::declare(DType::Int, 1);
  }).join();
  EXPECT_FALSE(scope.is_entered());
  leaked.reset();  // closing on another thread than the opener's does nothing
  auto entered = scope.enter();
  tavo::declare(DType::Int, 2);
  EXPECT_EQ(scope.program().listing(), "declare v0: int = 1\ndeclare v1: int = 2\n");
}

TEST(ScopeGuard, ClosingAContextClosesTheContextsStillOpenInsideIt) {
  auto scope = tavo::program();
  auto entered = scope.enter();
  auto flag = tavo::declare(DType::Bool, false);
  auto outer = tavo::if_(flag);
  auto inner = tavo::while_(flag);
  tavo::assign(flag, true);
  outer.close();
  EXPECT_FALSE(outer.is_open());
  EXPECT_FALSE(inner.is_open());
  tavo::assign(flag, false);  // back at the top level
  inner.close();              // already closed: nothing happens

  // Moving hands the context over; the moved-from guard holds nothing.
  std::optional<tavo::ScopeGuard> held;
  held.emplace(tavo::while_(flag));
  EXPECT_TRUE(held->is_open());
  tavo::ScopeGuard moved = std::move(*held);
  EXPECT_FALSE(held->is_open());
  held.reset();  // closes nothing
  EXPECT_TRUE(moved.is_open());
  {
    auto inside = tavo::if_(flag);
    tavo::assign(flag, true);
  }
  moved.close();
  entered.close();
  EXPECT_FALSE(tavo::is_inside_scope());
  EXPECT_EQ(scope.program().listing(),
            "declare v0: bool = false\n"
            "if v0:\n"
            "  while v0:\n"
            "    assign v0 = true\n"
            "assign v0 = false\n"
            "while v0:\n"
            "  if v0:\n"
            "    assign v0 = true\n");
}

// Chunks of released programs serve the next programs (the first few as they were, the rest
// after being handed to the kernel as free-if-needed): what is recorded there reads back whole.
TEST(ProgramMemory, ChunksOfReleasedProgramsServeTheNextOnes) {
  constexpr int kAssigns = 400000;  // some 20 chunks of records
  std::optional<std::string> first_listing;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<tavo::ProgramScope> scopes;
    for (int program = 0; program < 2; ++program) {
      scopes.push_back(tavo::program());
      auto entered = scopes.back().enter();
      tavo::Expr x = tavo::declare(DType::Int, 0);
      for (int i = 0; i < kAssigns; ++i) tavo::assign(x, i);
    }
    const std::string listing = scopes.front().program().listing();
    EXPECT_EQ(scopes.back().program().listing(), listing);
    if (!first_listing) first_listing = listing;
    EXPECT_EQ(listing, *first_listing);
    EXPECT_NE(listing.find("assign v0 = 399999\n"), std::string::npos);
  }
}
