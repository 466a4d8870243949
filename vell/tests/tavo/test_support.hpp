// Shared helpers of the SDK layer's tests, and of every test that checks refusals or golden
// listings: refusal checks and golden files.
//
// Golden files live in vell/tests/golden/. Refresh them all with
//   VELL_UPDATE_GOLDEN=1 build-dir/vell_tests
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "vell/tavo.hpp"

namespace vell::tavo::testing {

// Runs `call`, which must throw exactly `message` as an `E`.
template <class E, class F>
void expect_throw(F&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "not refused; expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "refused with the wrong kind of exception: " << e.what();
  }
}

// As expect_throw, and checks that the program of `scope` is unchanged by the refused call.
template <class E, class F>
void expect_refusal(const ProgramScope& scope, F&& call, const std::string& message) {
  const std::string before = scope.program().listing();
  expect_throw<E>(std::forward<F>(call), message);
  EXPECT_EQ(scope.program().listing(), before) << "a refused call recorded something: " << message;
}

// Compares `actual` with the golden file `name` (a path below the test directory's golden/), or
// writes it there, folders included, when VELL_UPDATE_GOLDEN=1.
inline void expect_golden(const std::string& name, const std::string& actual) {
  const std::filesystem::path path = std::filesystem::path(VELL_TEST_DIR) / "golden" / name;
  if (const char* update = std::getenv("VELL_UPDATE_GOLDEN"); update != nullptr && std::string(update) == "1") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "missing golden file " << path << "; create it with VELL_UPDATE_GOLDEN=1";
    return;
  }
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(expected.str(), actual) << "listing differs from " << path
                                    << "; refresh with VELL_UPDATE_GOLDEN=1 if the change is intended";
}

}  // namespace vell::tavo::testing
