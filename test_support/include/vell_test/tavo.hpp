// Test helpers for code that drives the SDK layer (for test executables that link vell).
#pragma once

#include <string>
#include <utility>

#include "vell/tavo.hpp"
#include "vell_test/golden.hpp"

namespace vell_test {

// As expect_throw, and checks that the program of `scope` is unchanged by the refused call.
template <class E, class F>
void expect_refusal(const vell::tavo::ProgramScope& scope, F&& call, const std::string& message) {
  const std::string before = scope.program().listing();
  expect_throw<E>(std::forward<F>(call), message);
  EXPECT_EQ(scope.program().listing(), before) << "a refused call recorded something: " << message;
}

// A variable of a program of its own, for tests that pass an expression through without
// recording anything: every call gives a distinct expression.
inline vell::tavo::Expr fresh_variable(vell::tavo::DType type = vell::tavo::DType::Fixed) {
  const vell::tavo::ProgramScope scope = vell::tavo::program();
  const auto entered = scope.enter();
  return vell::tavo::declare(type, vell::tavo::zero(type));
}

}  // namespace vell_test
