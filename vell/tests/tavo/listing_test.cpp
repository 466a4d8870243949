#include <functional>
#include <sstream>
#include <vector>

#include "vell_test/tavo.hpp"

namespace tavo = vell::tavo;
using tavo::DType;
using tavo::Value;
using vell_test::expect_golden;

namespace {

std::string record(const std::function<void()>& body) {
  auto scope = tavo::program();
  {
    auto entered = scope.enter();
    body();
  }
  return scope.program().listing();
}

// What the compiler's variable wrappers emit: streams, an input, an array filled and saved by
// loops.
void variables_and_streams() {
  auto out = tavo::declare_stream();
  auto gain = tavo::declare_input_stream(tavo::fixed, "gain \"dB\"\n", 0.0);
  tavo::advance_input_stream(gain);
  auto samples = tavo::declare(tavo::fixed, std::vector<Value>{0.0, 0.0, 0.0, 0.0});
  auto flags = tavo::declare(DType::Bool, std::vector<Value>{});
  (void)flags;
  auto n = tavo::declare(DType::Int, 3);
  {
    auto index = tavo::declare(DType::Int);
    auto loop = tavo::for_(index, 0, index < 4, index + 1);
    tavo::assign(samples[index], gain * index);
  }
  tavo::assign(samples[n], 1e-05);
  auto samples_out = tavo::declare_stream();
  {
    auto index = tavo::declare(DType::Int);
    auto loop = tavo::for_(index, 0, index < 4, index + 1);
    tavo::save(samples[index], samples_out);
  }
  tavo::save(n, out);
  auto processing = tavo::stream_processing();
  samples_out.save_all("samples");
  out.save_all("n");
}

void control_flow() {
  auto shots = tavo::declare(DType::Int, std::vector<Value>{5, 6, 7});
  auto shot = tavo::declare(DType::Int, 0);
  auto result = tavo::declare(DType::Bool, false);
  auto level = tavo::declare(tavo::fixed, 0.0);
  auto count = tavo::declare(DType::Int, 0);
  auto loop = tavo::while_(count < 100);
  {
    auto measured = tavo::if_(result);
    tavo::align({"q0.xy", "q0.readout", "q1.xy"});
  }
  {
    auto otherwise = tavo::else_();
    auto sw = tavo::switch_(count & 3, true);
    {
      auto c = tavo::case_(0);
      auto each = tavo::for_each_(shot, shots);
      tavo::assign(level, level + shot);
    }
    {
      auto c = tavo::case_(1);
      auto each = tavo::for_each_(level, std::vector<Value>{1, 0.5, true});
    }
    {
      auto c = tavo::case_(2);
      auto inner = tavo::switch_(result, false);
      {
        auto t = tavo::case_(true);
        tavo::assign(result, false);
      }
      {
        auto d = tavo::default_();
      }
    }
  }
  {
    auto empty = tavo::if_(~result);
  }
  tavo::assign(count, count + 1);
}

void expressions() {
  auto i = tavo::declare(DType::Int, 0);
  auto f = tavo::declare(tavo::fixed, 0.25);
  auto b = tavo::declare(DType::Bool, true);
  auto a = tavo::declare(DType::Int, std::vector<Value>{1, 2});
  tavo::assign(f, i / 2);
  tavo::assign(i, (i >> 1) + (2 << i));
  tavo::assign(b, ((i > 1) & (f >= 0.5)) | ((i < -3) ^ ~(f <= i)));
  tavo::assign(i, i * a[1] - a[i]);
  tavo::assign(b, ~(i == 2));
  tavo::assign(f, -f + tavo::Math::sqrt(i) * tavo::Math::exp(f) - tavo::Math::ln(2.5));
  tavo::assign(f, tavo::Math::sin(f) + tavo::Math::cos(0) + tavo::Math::atan(-f));
  tavo::assign(i, tavo::Cast::to_int(f) + tavo::Cast::to_int(b));
  tavo::assign(f, tavo::Cast::to_fixed(i));
  tavo::assign(b, tavo::Cast::to_bool(i - 1));
  tavo::assign(a[0], -1);
  tavo::assign(f, 1e+16);
  tavo::assign(f, 3);
}

// What a machine's target functions emit: pulses with and without scaling, frame rotations,
// waits, a readout into a variable and a conditional correction.
void pulses() {
  auto theta = tavo::declare(tavo::fixed, 0.25);
  auto levels = tavo::declare(tavo::fixed, std::vector<Value>{0.0, 0.0});
  auto cycles = tavo::declare(DType::Int, 4);
  tavo::play("x180", "q0.xy");
  tavo::play("x180", "q0.xy", theta / 3.141592653589793);
  tavo::play("y90", "q1.xy", -0.5);
  tavo::frame_rotation(1.5707963267948966, "q0.xy");
  tavo::frame_rotation(-theta, "q1.xy");
  tavo::align({"q0.xy", "q1.xy"});
  tavo::play("cz", "q0.xy");
  tavo::play("cz", "q1.xy");
  tavo::wait(25, {"q0.xy", "q0.rr", "q1.xy"});
  tavo::wait(cycles * 2, {"q\"odd\" element"});
  tavo::measure("readout", "q0.rr", levels[1]);
  auto level = tavo::declare(tavo::fixed, 0.0);
  tavo::measure("readout", "q1.rr", level);
  auto corrected = tavo::if_(level > 0.0);
  tavo::play("x180", "q1.xy");
}

}  // namespace

TEST(Listing, Golden) {
  expect_golden("variables_and_streams.txt", record(variables_and_streams));
  expect_golden("control_flow.txt", record(control_flow));
  expect_golden("expressions.txt", record(expressions));
  expect_golden("pulses.txt", record(pulses));
}

TEST(Listing, IsDeterministicAndNumbersEachProgramFromZero) {
  EXPECT_EQ(record(control_flow), record(control_flow));
  EXPECT_EQ(record([] { tavo::declare(DType::Int, 1); }), "declare v0: int = 1\n");
  EXPECT_EQ(record([] {}), "");
}

TEST(Listing, WrittenToAStreamAsRendered) {
  // A program far longer than what the writer buffers, with names interned across blocks.
  auto many = [] {
    auto level = tavo::declare(tavo::fixed, 0.0);
    for (int i = 0; i < 3000; ++i) {
      const std::string element = "q" + std::to_string(i % 7) + ".xy";
      tavo::align({element, "q\"rr\""});
      auto block = tavo::if_(level > static_cast<double>(i));
      tavo::play(i % 2 ? "x90" : "x180", element, level);
      tavo::frame_rotation(0.5, element);
    }
  };
  for (const auto& body : std::vector<std::function<void()>>{variables_and_streams, control_flow, expressions, pulses,
                                                               many, [] {}}) {
    auto scope = tavo::program();
    {
      auto entered = scope.enter();
      body();
    }
    std::ostringstream out;
    scope.program().write_listing(out);
    EXPECT_EQ(out.str(), scope.program().listing());
  }
}

TEST(Listing, DeeplyNestedBlocksAreReleasedWithoutRecursion) {
  auto scope = tavo::program();
  {
    auto entered = scope.enter();
    std::vector<tavo::ScopeGuard> open;
    for (int i = 0; i < 200000; ++i) open.push_back(tavo::if_(true));
  }
  EXPECT_FALSE(scope.program().empty());
}

TEST(Listing, RealsReadAsTheirOwnTextsHoweverOftenTheyRecur) {
  // The listing keeps the texts of reals it has written; reals whose bits share a place there
  // (many more than it keeps), repeated and interleaved, must each still read as themselves.
  std::vector<double> reals;
  for (int i = 0; i < 2000; ++i) reals.push_back(i * 0.1 - 37.0);
  for (double special : {0.0, -0.0, 1e-05, 1e300, -2.5e-308, 3.141592653589793, 2.0, 1.0 / 3})
    reals.push_back(special);
  const std::string listing = record([&] {
    for (int pass = 0; pass < 2; ++pass)
      for (double real : reals) tavo::frame_rotation(real, "q0.xy");
  });
  std::string expected;
  for (int pass = 0; pass < 2; ++pass)
    for (double real : reals) expected += "frame_rotation " + tavo::text(Value(real)) + " on \"q0.xy\"\n";
  EXPECT_EQ(listing, expected);
}

TEST(Listing, SaveAllTagsReadAsGivenQuotedLikeEveryName) {
  // Tags are kept apart from element and pulse names: each reads as its own text, quoted as an
  // input stream's name is, also when it repeats, is long, or is also an element's name.
  const std::vector<std::string> tags = {"n", "n", "q0.xy", "a \"b\"\\\n", std::string(300, 't'), "v123456789012345"};
  const std::string listing = record([&] {
    auto stream = tavo::declare_stream();
    tavo::play("x90", "q0.xy");
    auto processing = tavo::stream_processing();
    for (const std::string& tag : tags) stream.save_all(tag);
  });
  std::string expected = "declare_stream s0\nplay \"x90\" on \"q0.xy\"\nstream_processing:\n";
  for (const std::string& tag : tags) {
    const std::string input = record([&] { tavo::declare_input_stream(DType::Int, tag, std::int64_t{0}); });
    const std::string quoted = input.substr(input.find(" from ") + 6, input.size() - input.find(" from ") - 7);
    expected += "  save_all s0 " + quoted + "\n";
  }
  EXPECT_EQ(listing, expected);
}

TEST(Listing, TextsKeptForReuseReadTheSameWhereverTheyStand) {
  // The listing keeps the text of every name and element list it meets and copies it in whole
  // words: each must read as itself next to any neighbour, at any depth, and when it is longer
  // than what a stream is handed at a time.
  std::vector<std::string> many;
  for (int i = 0; i < 2500; ++i) many.push_back("element/" + std::to_string(i) + "/xy");
  std::string many_joined;
  for (const std::string& name : many) many_joined += (many_joined.empty() ? "\"" : ", \"") + name + "\"";
  struct Case {
    std::function<void()> body;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // One list in both of its places, alternating; the same name as pulse and element.
      {[] {
         for (int i = 0; i < 2; ++i) {
           tavo::align({"a", "b"});
           tavo::wait(4, {"a", "b"});
           tavo::play("a", "a");
           tavo::measure("a", "b", tavo::declare(tavo::fixed, 0.0));
         }
       },
       "align \"a\", \"b\"\nwait 4 on \"a\", \"b\"\nplay \"a\" on \"a\"\ndeclare v0: fixed = 0.0\nmeasure \"a\" on \"b\" -> v0\n"
       "align \"a\", \"b\"\nwait 4 on \"a\", \"b\"\nplay \"a\" on \"a\"\ndeclare v1: fixed = 0.0\nmeasure \"a\" on \"b\" -> v1\n"},
      // Names of 1 to 40 bytes between lines with other names.
      {[] {
         for (std::size_t n : {1, 7, 8, 31, 32, 33, 40}) {
           tavo::play(std::string(n, 'p'), std::string(n, 'e'));
           tavo::align({std::string(n, 'e'), "z"});
         }
       },
       [] {
         std::string text;
         for (std::size_t n : {1, 7, 8, 31, 32, 33, 40}) {
           const std::string p = "\"" + std::string(n, 'p') + "\"", e = "\"" + std::string(n, 'e') + "\"";
           text += "play " + p + " on " + e + "\nalign " + e + ", \"z\"\n";
         }
         return text;
       }()},
      // Indentation far deeper than a word of spaces.
      {[] {
         std::vector<tavo::ScopeGuard> open;
         for (int depth = 0; depth < 40; ++depth) open.push_back(tavo::if_(true));
         tavo::play("x", "q");
       },
       [] {
         std::string text;
         for (int depth = 0; depth < 40; ++depth) text += std::string(2 * depth, ' ') + "if true:\n";
         return text + std::string(80, ' ') + "play \"x\" on \"q\"\n";
       }()},
      // A list whose line is longer than a stream's share, twice, around other lines.
      {[&] {
         tavo::align(many);
         tavo::play("x", "y");
         tavo::align(many);
       },
       "align " + many_joined + "\nplay \"x\" on \"y\"\nalign " + many_joined + "\n"},
  };
  for (const Case& c : cases) {
    auto scope = tavo::program();
    {
      auto entered = scope.enter();
      c.body();
    }
    std::ostringstream out;
    scope.program().write_listing(out);
    EXPECT_EQ(scope.program().listing(), c.expected);
    EXPECT_EQ(out.str(), c.expected);
  }
}
