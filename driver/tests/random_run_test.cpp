// A bounded random run of the whole pipeline: generated valid programs, and the same programs
// mutated (characters cut, lines swapped or repeated, tokens dropped in). Every program either
// compiles or fails with an exception derived from std::exception that describe_failure can word;
// none crashes, hangs, or trips a sanitizer. The seed is fixed, so a failure repeats.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <variant>
#include <new>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "../../bench/compile_program_generator.hpp"
#include "program_mutation.hpp"
#include "vell_qasm/driver/compile.hpp"
#include "vell_qasm/passes/utils.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define VELL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELL_UNDER_ASAN 1
#endif
#endif

namespace vell_qasm::driver {
namespace {

#ifdef VELL_UNDER_ASAN
constexpr int kPrograms = 400;
#else
constexpr int kPrograms = 3000;
#endif

TEST(RandomRun, ValidAndMutatedProgramsCompileOrFailWithAnException) {
  std::mt19937_64 rng(20261209);
  const CompileOptions options = demo_compile_options();
  std::map<std::string, int> failures;  // by exception class, for the trace
  int compiled = 0;
  for (int i = 0; i < kPrograms; ++i) {
    auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
    std::string text = vell_bench::generate_compile_program(10 + pick(40), pick).text;
    const bool valid = i % 4 == 0;
    if (!valid) text = mutate(std::move(text), rng);
    try {
      compile(text, options);
      ++compiled;
    } catch (const std::exception& e) {
      const std::string name = typeid(e).name();
      if (++failures[name] == 1 && std::getenv("VELL_RANDOM_RUN_SHOW"))
        std::printf("---- %s: %s\n%s\n", name.c_str(), e.what(), text.c_str());
      if (valid) ADD_FAILURE() << "a generated valid program failed: " << describe_failure(std::current_exception()).message
                               << "\n" << text;
      // Faults of the implementation rather than of the program.
      const bool internal = dynamic_cast<const std::bad_alloc*>(&e) || dynamic_cast<const std::bad_cast*>(&e) ||
                            dynamic_cast<const std::bad_variant_access*>(&e) ||
                            dynamic_cast<const std::bad_optional_access*>(&e) ||
                            dynamic_cast<const std::bad_function_call*>(&e);
      EXPECT_FALSE(internal) << name << ": " << e.what() << "\n" << text;
      EXPECT_FALSE(describe_failure(std::current_exception()).message.empty()) << name << "\n" << text;
    } catch (...) {
      ADD_FAILURE() << "an exception not derived from std::exception left the pipeline\n" << text;
    }
    ASSERT_FALSE(passes::utils::is_inside_scope()) << "a failure left an SDK scope open\n" << text;
  }
  EXPECT_GE(compiled, kPrograms / 4);  // at least the valid ones
  std::string summary;
  for (const auto& [name, count] : failures) summary += name + ": " + std::to_string(count) + "\n";
  RecordProperty("failures", summary);
}

}  // namespace
}  // namespace vell_qasm::driver
