// Golden files and refusal checks shared by every test executable (the test_support library).
//
// A test's golden files live below its library's tests/golden/. Refresh them with
//   VELL_UPDATE_GOLDEN=1 build-dir/<library>_tests [--gtest_filter=...]
// and review the diff; any other value of VELL_UPDATE_GOLDEN compares.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <string>
#include <utility>

namespace vell_test {

// The bytes of the file at `path` (empty when it cannot be read).
std::string read_file(const std::filesystem::path& path);

// Compares `actual` with the file at `path`, or writes it there, folders included, when
// VELL_UPDATE_GOLDEN=1.
void expect_golden_file(const std::filesystem::path& path, const std::string& actual);

// The same for `name`, a path below the calling test executable's golden/ folder.
#ifdef VELL_TEST_DIR
inline void expect_golden(const std::string& name, const std::string& actual) {
  expect_golden_file(std::filesystem::path(VELL_TEST_DIR) / "golden" / name, actual);
}
#endif

// Runs `call`, which must throw exactly `message` as an `E`.
template <class E, class F>
void expect_throw(F&& call, const std::string& message) {
  try {
    std::forward<F>(call)();
    ADD_FAILURE() << "not refused; expected: " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "refused with the wrong kind of exception: " << e.what();
  }
}

}  // namespace vell_test
