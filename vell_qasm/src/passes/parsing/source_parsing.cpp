#include "vell_qasm/passes/parsing/source_parsing.hpp"

#include <exception>

#include "openqasm3/parser.hpp"

namespace vell_qasm::passes::parsing {

SourceParsing::SourceParsing(std::optional<std::string> name) : Step(std::move(name), "SourceParsing") {}

programs::ProgramPtr SourceParsing::operator()(const programs::ProgramPtr& program) {
  try {
    auto textual = std::dynamic_pointer_cast<programs::TextualProgram>(program);
    check(textual != nullptr);
    return std::make_shared<programs::OpenQasmProgram>(openqasm3::parse(textual->source_code()));
  } catch (const std::exception& e) {
    GrammarParserException failure;
    failure.set_cause(std::current_exception());
    if (auto* parse_error = dynamic_cast<const openqasm3::QASM3ParsingError*>(&e))
      failure.set_location({std::nullopt, parse_error->line, parse_error->column});
    throw failure;
  }
}

}  // namespace vell_qasm::passes::parsing
