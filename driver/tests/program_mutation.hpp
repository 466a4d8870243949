// Mutations of OpenQASM source for the random runs of the whole pipeline (the driver's random-run
// test and the fuzz harness): characters cut, tokens dropped in, lines repeated or cut, numbers
// and names replaced. Deterministic for a given generator state.
#pragma once

#include <cctype>
#include <cstddef>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace vell_qasm::driver {

// Tokens that a mutation drops in: keywords, operators, literals and names of every kind.
inline const std::vector<std::string> kTokens{
    "qubit", "bit", "int", "float[64]", "const", "gate", "measure", "reset", "barrier", "delay[10ns]", "if",
    "else", "for", "while", "switch", "case 0", "default", "{", "}", "(", ")", "[", "]", ";", ",", "=", "+=",
    "/", "*", "**", "%", "-", "!", "~", "<<", "==", "&&", "0", "-1", "8", "99999999999999999999", "1e308",
    "0.0", "pi", "q", "q[7]", "q[8]", "$0", "$9", "c", "x", "K", "HALF", "theta", "layer", "pair", "h", "cx",
    "sqrt(-1.0)", "1 / 0", "input", "output", "true", "ctrl @", "include \"x.inc\";", "\"", "/*", "\n"};

inline std::string mutate(std::string text, std::mt19937_64& rng) {
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

}  // namespace vell_qasm::driver
