#include "vell_qasm/passes/parsing/source_parsing.hpp"

#include <gtest/gtest.h>

#include "openqasm3/parser.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {
namespace {

namespace ast = openqasm3::ast;
using programs::OpenQasmProgram;
using programs::TextualProgram;

// The cause of the GrammarParserException that `step(program)` throws, rethrown as E.
template <class E> void expect_cause(SourceParsing& step, const programs::ProgramPtr& program,
                                     const std::function<void(const E&)>& inspect = {}) {
  try {
    step(program);
    FAIL() << "no error";
  } catch (const GrammarParserException& e) {
    const ParsingException& as_base = e;
    EXPECT_STREQ(as_base.what(), "");
    ASSERT_TRUE(e.cause());
    try {
      std::rethrow_exception(e.cause());
    } catch (const E& cause) {
      if (inspect) inspect(cause);
    } catch (...) {
      ADD_FAILURE() << "cause of another kind";
    }
  }
}

TEST(SourceParsing, TreeIsHandedOnAsParsedIncludesAndVersionAndDollarNamesIncluded) {
  const std::string text = "OPENQASM 3;\ninclude \"stdgates.inc\";\nqubit q;\nh $007;\n";
  auto given = std::make_shared<TextualProgram>(text);
  SourceParsing step;
  EXPECT_EQ(step.name, "SourceParsing");
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(step(given));
  ASSERT_NE(result, nullptr);
  ASSERT_NE(result->ast(), nullptr);
  EXPECT_TRUE(ast::equal(result->ast(), openqasm3::parse(text)));
  EXPECT_EQ(result->ast()->version, "3");
  ASSERT_EQ(result->ast()->statements.size(), 3u);
  EXPECT_EQ(result->ast()->statements[0]->class_name(), "Include");
  EXPECT_EQ(given->source_code(), text);

  // Called again, the same step makes a new tree.
  auto again = std::dynamic_pointer_cast<OpenQasmProgram>(step(given));
  EXPECT_NE(again->ast(), result->ast());
}

TEST(SourceParsing, SyntaxErrorIsWrappedWithTheParsersErrorAsCause) {
  SourceParsing step("parse");
  EXPECT_EQ(step.name, "parse");
  expect_cause<openqasm3::QASM3ParsingError>(step, std::make_shared<TextualProgram>("qubit q;\nh q\n"),
                                             [](const openqasm3::QASM3ParsingError& cause) {
                                               EXPECT_EQ(cause.line, 3);
                                               EXPECT_FALSE(cause.message.empty());
                                             });
  // An integer literal beyond int64 is the parser's error too, not a wrapped-around number.
  expect_cause<openqasm3::QASM3ParsingError>(step,
                                             std::make_shared<TextualProgram>("int x = 99999999999999999999;"));
}

TEST(SourceParsing, OtherProgramFormsAreWrappedFailuresToo) {
  SourceParsing step;
  auto parsed = step(std::make_shared<TextualProgram>("qubit q;"));
  expect_cause<AssertionError>(step, parsed);
  expect_cause<AssertionError>(step, nullptr);
}

}  // namespace
}  // namespace vell_qasm::passes::parsing
