// Parser with printer: what the printer writes parses back to the same tree (the examples,
// a program using every form, generated programs); and a bounded random-input run in which the
// parser may only ever fail with QASM3ParsingError.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../../bench/program_generator.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"

namespace {

using openqasm3::dumps;
using openqasm3::parse;
using openqasm3::QASM3ParsingError;

// A program that uses every statement form that the printer can write back.
const char* const kEveryForm = R"(OPENQASM 3.0;
include "stdgates.inc";
defcalgrammar "openpulse";
pragma keep this
qubit[4] q;
qreg r[2];
creg c[4];
bit b;
int[32] x = 5 + 3 * 2 ** -1;
uint[8] u = 0x1F + 0b101 + 0o7 + 1_000;
float[64] f = 1.5e-3 - .5 + 1.;
complex[float[64]] z = 2im + 1.5;
angle[16] th = pi / 4;
bool flag = !true && ~b || false;
duration d = 100ns + 2us + 3ms + 1s + 5dt;
stretch s;
array[int[8], 2, 2] grid = {{1, 2}, {3, 4}};
const int[32] n = 3;
input angle[32] theta;
output bit[2] result;
gate g(a, b) p, t {
  U(a, b, 0) p;
  ctrl @ x p, t;
  inv @ pow(2) @ negctrl(1) @ rz(-a) t;
  gphase(a / 2);
  for int i in [0:1] {
    rx(a * i) p;
  }
}
g(0.1, 0.2) q[0], q[1];
cx[100ns] q[0], q[1];
rx(theta)[d] q[2];
h $0;
ctrl @ gphase(pi) q[0];
reset q[3];
barrier q, r;
barrier;
delay[2 * d] q[0], $1;
nop q[0];
box[1us] {
  x q[0];
}
c[0] = measure q[0];
measure q[1] -> c[1];
measure q[2];
c[2] = mq(1) q[2], q[3];
x = f(1)[0] + sizeof(grid, 1) + sizeof(grid) * 2;
x += 1;
x -= 1;
x *= 2;
x /= 2;
x %= 3;
x **= 2;
x <<= 1;
x >>= 1;
u &= 3;
u |= 4;
u ^= 1;
grid[0, 1] = grid[1][0];
c[0:1] = c[2:3];
let alias = q[0:1] ++ q[{2, 3}] ++ r;
if (c[0] == 1) {
  x q[0];
} else if (c[1] == 1) {
  y q[0];
} else {
  z q[0];
}
while (x > 0 && x != 7 || x <= -1) {
  x -= 1;
  if (x == 3) break;
  continue;
}
for uint i in [0:2:10] x q[0];
for int i in {1, 2, 3} h q[i];
for int i in grid[0] { }
switch (x) {
  case 1, 2 {
    h q[0];
  }
  case n + 1 {
  }
  default {
    x q[1];
  }
}
@ann.key some command
@bare
h q[1];
{
  x q[2];
}
duration dd = durationof({ x q[0]; h q[1]; });
x = int[8](f) + float(x) >> 1 << 2;
x = (a + b) * (c - d) / e % 7 ^ (f & g) | h;
x = a[1:] + a[:2] + a[::2] + a[1::2] + a[:3:1] + a[:];
x = "0101" + "1_1";
def sub(int[8] a, qubit p, qubit[2] qq, readonly array[int, 2] m, mutable array[uint, #dim = 2] nn) -> bit {
  bit res = measure p;
  return res;
}
def other(creg cc[2], qreg rr[3]) {
  return;
}
extern ex(int[8], creg[4], readonly array[float, 3]) -> bit[2];
extern noargs();
cal { raw { body } }
defcal rz(angle[20] ang) $0 -> bit { pulse stuff }
defcal measure $1 {}
end;
)";

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void expect_round_trip(const std::string& source, const std::string& what) {
  auto first = parse(source);
  const std::string printed = dumps(*first);
  std::shared_ptr<openqasm3::ast::Program> second;
  try {
    second = parse(printed);
  } catch (const QASM3ParsingError& e) {
    FAIL() << what << ": the printed program does not parse: " << e.what() << "\n" << printed;
  }
  EXPECT_TRUE(openqasm3::ast::equal(*first, *second)) << what << "\n" << printed;
  // Printing is stable after one round.
  EXPECT_EQ(dumps(*second), printed) << what;
}

TEST(ParserRoundTrip, ExamplesAndEveryForm) {
  expect_round_trip(kEveryForm, "every form");
  int examples = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VELL_SOURCE_DIR) / "examples")) {
    if (entry.path().extension() != ".qasm") continue;
    ++examples;
    expect_round_trip(read_file(entry.path()), entry.path().filename().string());
  }
  EXPECT_GE(examples, 5);
}

TEST(ParserRoundTrip, GeneratedPrograms) {
  for (std::size_t n : {1u, 10u, 1000u, 20000u}) {
    auto program = vell_bench::generate_program(n);
    expect_round_trip(program.text, "generated program of " + std::to_string(n) + " statements");
  }
}

// ---------------------------------------------------------------------------------------------
// Random inputs: mutations of valid programs and plain random text.

const char* const kFragments[] = {
    "(", ")", "[", "]", "{", "}", ";", ",", ":", "=", "->", "+", "++", "-", "*", "**", "/", "%", "<<=", ">>",
    "==", "!", "~", "@", "@ann ", "#pragma ", "pragma x\n", "#dim", "$0", "$", "\"01\"", "\"", "'a'", "1.5e3",
    "0x", "0b1_", "1_", "100ns", "2 im", "µs", "θ", "\xff", "\xce", "/*", "*/", "//", "\n", "\t", " ",
    "qubit ", "qreg ", "creg ", "int ", "uint[8] ", "float ", "angle ", "complex[", "array[", "bit ", "bool ",
    "duration ", "stretch ", "const ", "input ", "output ", "let ", "gate ", "def ", "extern ", "return ",
    "if ", "else ", "for ", "in ", "while ", "switch ", "case ", "default ", "break ", "continue ", "end ",
    "measure ", "reset ", "barrier ", "delay", "box ", "nop ", "gphase", "inv ", "pow(", "ctrl ", "negctrl ",
    "durationof(", "sizeof(", "cal ", "defcal ", "defcalgrammar ", "include ", "OPENQASM ", "readonly ",
    "mutable ", "true", "false", "im", "x", "q", "c", "9223372036854775808", "18446744073709551616", "1e999",
    "~=", "ns",
};

std::string mutate(const std::string& base, std::mt19937_64& rng) {
  std::string s = base;
  auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
  const int edits = 1 + static_cast<int>(rng() % 6);
  for (int e = 0; e < edits; ++e) {
    const std::size_t pos = pick(s.size() + 1);
    switch (rng() % 7) {
      case 0:  // insert a fragment
        s.insert(pos, kFragments[pick(std::size(kFragments))]);
        break;
      case 1:  // delete a run
        if (pos < s.size()) s.erase(pos, 1 + pick(16));
        break;
      case 2:  // replace a byte by a random one
        if (pos < s.size()) s[pos] = static_cast<char>(rng() & 0xFF);
        break;
      case 3: {  // duplicate a slice elsewhere
        if (s.empty()) break;
        const std::size_t from = pick(s.size()), len = 1 + pick(40);
        s.insert(pick(s.size() + 1), s.substr(from, len));
        break;
      }
      case 4:  // truncate
        s.resize(pos);
        break;
      case 5:  // swap two bytes
        if (s.size() > 1) std::swap(s[pick(s.size())], s[pick(s.size())]);
        break;
      default: {  // repeat an opening bracket, a prefix operator or a chain link many times
        static const char* const runs[] = {"(", "[", "{", "-", "!", "~", " + 1", " ** 2", " ** -2", "[0]", " ++ a"};
        const std::string run = runs[pick(std::size(runs))];
        for (std::size_t k = 1 + pick(1500); k > 0; --k) s.insert(pos, run);
        break;
      }
    }
  }
  return s;
}

std::string random_text(std::mt19937_64& rng) {
  std::string s;
  const std::size_t n = rng() % 200;
  const bool tokens = rng() % 2;
  for (std::size_t i = 0; i < n; ++i) {
    if (tokens) s += kFragments[rng() % std::size(kFragments)];
    else s += static_cast<char>(rng() & 0xFF);
  }
  return s;
}

TEST(ParserFuzz, RandomInputsOnlyEverRaiseTheParsingError) {
  std::vector<std::string> seeds = {kEveryForm, vell_bench::generate_program(60).text};
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VELL_SOURCE_DIR) / "examples"))
    if (entry.path().extension() == ".qasm") seeds.push_back(read_file(entry.path()));

#if defined(__SANITIZE_ADDRESS__)
  // Every throw costs the sanitizer a stack scan; a quarter of the run keeps it to seconds.
  const int inputs = 5000;
#else
  const int inputs = 20000;
#endif
  std::mt19937_64 rng(20240611);
  int parsed = 0, rejected = 0;
  for (int i = 0; i < inputs; ++i) {
    const std::string input = (i % 4 == 3) ? random_text(rng) : mutate(seeds[rng() % seeds.size()], rng);
    try {
      auto tree = parse(input);
      ++parsed;
      // What parses must also print and parse back to the same tree.
      const std::string printed = dumps(*tree);
      auto again = parse(printed);
      ASSERT_TRUE(openqasm3::ast::equal(*tree, *again)) << "input:\n" << input << "\nprinted:\n" << printed;
    } catch (const QASM3ParsingError& e) {
      ++rejected;
      ASSERT_GE(e.line, 1) << input;
      ASSERT_GE(e.column, 0) << input;
    } catch (const std::exception& e) {
      FAIL() << "unexpected " << typeid(e).name() << ": " << e.what() << "\ninput:\n" << input;
    }
  }
  // Both outcomes occur, so the run exercises the parser past its first error.
  EXPECT_GT(parsed, inputs / 40);
  EXPECT_GT(rejected, inputs / 4);
}

}  // namespace
