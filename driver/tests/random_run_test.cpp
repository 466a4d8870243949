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

// Tokens that a mutation drops in: keywords, operators, literals and names of every kind.
const std::vector<std::string> kTokens{
    "qubit", "bit", "int", "float[64]", "const", "gate", "measure", "reset", "barrier", "delay[10ns]", "if",
    "else", "for", "while", "switch", "case 0", "default", "{", "}", "(", ")", "[", "]", ";", ",", "=", "+=",
    "/", "*", "**", "%", "-", "!", "~", "<<", "==", "&&", "0", "-1", "8", "99999999999999999999", "1e308",
    "0.0", "pi", "q", "q[7]", "q[8]", "$0", "$9", "c", "x", "K", "HALF", "theta", "layer", "pair", "h", "cx",
    "sqrt(-1.0)", "1 / 0", "input", "output", "true", "ctrl @", "include \"x.inc\";", "\"", "/*", "\n"};

std::string mutate(std::string text, std::mt19937_64& rng) {
  auto below = [&](std::size_t n) { return n == 0 ? std::size_t{0} : std::size_t(rng() % n); };
  const int edits = 1 + int(below(4));
  for (int e = 0; e < edits && !text.empty(); ++e) {
    const std::size_t at = below(text.size());
    switch (below(7)) {
      case 0:  // cut a few characters
        text.erase(at, 1 + below(12));
        break;
      case 1:  // drop in a token
        text.insert(at, " " + kTokens[below(kTokens.size())] + " ");
        break;
      case 2: {  // repeat a line
        const std::size_t begin = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin + 1);
        text.insert(begin, line);
        break;
      }
      case 4: {  // cut a whole line: the rest still parses more often than not
        const std::size_t begin = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
        const std::size_t end = text.find('\n', at);
        text.erase(begin, end == std::string::npos ? std::string::npos : end - begin + 1);
        break;
      }
      case 5: {  // another number where a digit stands
        const std::size_t digit = text.find_first_of("0123456789", at);
        if (digit == std::string::npos) break;
        static const char* numbers[] = {"0", "7", "8", "-1", "65", "1000000", "99999999999999999999"};
        text.replace(digit, 1, numbers[below(std::size(numbers))]);
        break;
      }
      case 6: {  // another name where a name stands
        static const char* names[] = {"q", "c", "x", "n", "K", "HALF", "theta", "j", "layer", "pair", "pi", "a"};
        std::size_t begin = at;
        while (begin < text.size() && !std::isalpha(static_cast<unsigned char>(text[begin]))) ++begin;
        std::size_t end = begin;
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) ++end;
        if (begin < end) text.replace(begin, end - begin, names[below(std::size(names))]);
        break;
      }
      default: {  // swap a character with another one
        const std::size_t other = below(text.size());
        std::swap(text[at], text[other]);
        break;
      }
    }
  }
  return text;
}

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
