// SourceParsing: the first step of every compilation and the only one that takes source text. It
// parses the text of a TextualProgram and returns a new OpenQasmProgram around the tree exactly as
// the parser built it (includes, the version and "$n" identifiers still as written).
//
// Every failure on the way (a program that is not a TextualProgram, a parse error, anything the
// parser throws that derives from std::exception) comes out as one GrammarParserException whose
// cause() is the very exception caught: rethrow it to reach the parser's QASM3ParsingError with
// its line and column. Exceptions not derived from std::exception pass unchanged. Nothing is logged.
#pragma once

#include <optional>
#include <string>

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/parsing/exceptions.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::parsing {

// No text of its own (what() is empty); the failure is its cause().
class GrammarParserException : public ParsingException, public HasCause {};

class SourceParsing : public Step {
 public:
  explicit SourceParsing(std::optional<std::string> name = std::nullopt);

  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::parsing
