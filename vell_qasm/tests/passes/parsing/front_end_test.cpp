// The front end as an embedding application composes it: parsing, include expansion,
// normalisation, hardware-qubit resolution, then screening against the initial whitelist.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "../front_tree_builders.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/passes/node_screening.hpp"
#include "vell_qasm/passes/node_type_counter.hpp"
#include "vell_qasm/passes/node_whitelist.hpp"
#include "vell_qasm/passes/parsing/ast_tidy.hpp"
#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"
#include "vell_qasm/passes/parsing/include_expansion.hpp"
#include "vell_qasm/passes/parsing/source_parsing.hpp"
#include "working_directory.hpp"

namespace vell_qasm::passes::parsing {
namespace {

namespace fs = std::filesystem;
using namespace vell_qasm::testing;
using configurations::BuildSettings;
using programs::OpenQasmProgram;
using programs::TextualProgram;

std::shared_ptr<PassPipeline> front_end(const BuildSettings& settings, bool expand_includes = true) {
  std::vector<StepPtr> steps{std::make_shared<SourceParsing>()};
  if (expand_includes) steps.push_back(std::make_shared<IncludeExpansion>(settings.max_inclusion_depth()));
  steps.push_back(std::make_shared<AstTidy>());
  steps.push_back(std::make_shared<HwQubitResolver>());
  steps.push_back(std::make_shared<AllowedNodeTypesValidator>(INITIALLY_NODE_WHITELIST));
  return std::make_shared<PassPipeline>(steps, std::make_shared<const BuildSettings>(settings));
}

ast::Ptr<ast::Program> run(PassPipeline& pipeline, const std::string& source) {
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(pipeline(std::make_shared<TextualProgram>(source)));
  if (!result) throw std::runtime_error("the front end did not return an OpenQasmProgram");
  return result->ast();
}

TEST(FrontEnd, ProgramComesOutExpandedNormalisedResolvedAndScreened) {
  WorkingDirectory cwd;
  write_file("gates.inc", "gate flip a { x a; }\nbit[2] shared_bits;\n");
  const std::string source =
      "OPENQASM 3;\n"
      "include \"gates.inc\";\n"
      "int x = 5;\n"
      "flip $007;\n"
      "bit b = measure $1;\n";
  auto root = run(*front_end(BuildSettings()), source);

  EXPECT_EQ(root->version, "3.0");
  EXPECT_EQ(openqasm3::dumps(*root),
            "OPENQASM 3.0;\n"
            "gate flip a {\n  x a;\n}\n"
            "output bit[2] shared_bits;\n"
            "output int x;\n"
            "x = 5;\n"
            "flip $7;\n"
            "output bit b;\n"
            "b = measure $1;\n");
  NodeTypeCounts counts = count_node_types(*root);
  EXPECT_EQ(counts.of<configurations::HwQubit>(), 2u);
  EXPECT_EQ(counts.of<ast::Include>(), 0u);
  EXPECT_EQ(counts.of<ast::ClassicalDeclaration>(), 0u);
}

TEST(FrontEnd, OrderOfTheStepsMatters) {
  WorkingDirectory cwd;
  write_file("gates.inc", "gate flip a { x a; }\n");
  // Screening sees the Include when expansion is left out.
  EXPECT_THROW(run(*front_end(BuildSettings(), false), "include \"gates.inc\";\nqubit q;\n"),
               DisallowedNodeTypeException);
  // The settings' depth is what the embedding application hands to include expansion.
  write_file("outer.inc", "include \"gates.inc\";\n");
  EXPECT_THROW(run(*front_end(BuildSettings(1)), "include \"outer.inc\";\n"), DeepInclusionError);
  EXPECT_NO_THROW(run(*front_end(BuildSettings(2)), "include \"outer.inc\";\n"));
  // A parse failure ends the run as the one parsing exception.
  EXPECT_THROW(run(*front_end(BuildSettings()), "qubit q"), GrammarParserException);
}

// Every example program of the repository goes through the front end, run from the examples
// directory so that their includes are found. The screening refuses the examples that use what
// the initial whitelist lacks; those are listed here with the class refused, so that a change of
// verdict shows.
TEST(FrontEnd, ExamplePrograms) {
  const std::map<std::string, std::string> refused_by_screening = {
      {"const_math.qasm", "FunctionCall"},  // sqrt, arccos
  };
  const fs::path examples = fs::path(VELL_SOURCE_DIR) / "examples";
  std::vector<fs::path> files;
  if (fs::is_directory(examples))
    for (const auto& entry : fs::directory_iterator(examples))
      if (entry.path().extension() == ".qasm") files.push_back(entry.path());
  if (files.empty()) GTEST_SKIP() << "no example programs in " << examples;
  std::sort(files.begin(), files.end());

  WorkingDirectory cwd(examples);
  auto settings = std::make_shared<const BuildSettings>();
  PassPipeline front_end_steps({std::make_shared<SourceParsing>(),
                                std::make_shared<IncludeExpansion>(settings->max_inclusion_depth()),
                                std::make_shared<AstTidy>(), std::make_shared<HwQubitResolver>()},
                               settings);
  AllowedNodeTypesValidator screening(INITIALLY_NODE_WHITELIST);
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    ast::Ptr<ast::Program> root;
    try {
      root = run(front_end_steps, text.str());
    } catch (const GrammarParserException& e) {
      try {
        std::rethrow_exception(e.cause());
      } catch (const std::exception& cause) {
        ADD_FAILURE() << "does not parse: " << cause.what();
      }
      continue;
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    NodeTypeCounts counts = count_node_types(*root);
    EXPECT_EQ(counts.of<ast::Include>(), 0u);
    // Every "$n" identifier has become a hardware qubit.
    class DollarNames : public ast::QASMVisitor {
     public:
      void visit_Identifier(ast::Identifier& node) override {
        if (!node.name.empty() && node.name[0] == '$') ADD_FAILURE() << "unresolved " << node.name;
      }
    } dollar_names;
    dollar_names.visit(*root);

    std::string verdict = "accepted";
    try {
      screening(std::make_shared<OpenQasmProgram>(root));
    } catch (const DisallowedNodeTypeException& e) {
      verdict = std::string(e.node->class_name());
    }
    auto expected = refused_by_screening.find(name);
    EXPECT_EQ(verdict, expected == refused_by_screening.end() ? "accepted" : expected->second);
  }
}

}  // namespace
}  // namespace vell_qasm::passes::parsing
