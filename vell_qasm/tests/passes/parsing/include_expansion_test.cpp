#include "vell_qasm/passes/parsing/include_expansion.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "../front_tree_builders.hpp"
#include "working_directory.hpp"
#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {
namespace {

namespace fs = std::filesystem;
using namespace vell_qasm::testing;
using programs::OpenQasmProgram;

ast::Ptr<ast::Program> expand(std::int64_t max_depth, const std::string& text,
                              std::int64_t max_files = IncludeExpansion::kDefaultMaxIncludedFiles,
                              std::int64_t max_bytes = IncludeExpansion::kDefaultMaxIncludedBytes) {
  auto root = openqasm3::parse(text);
  auto given = std::make_shared<OpenQasmProgram>(root);
  IncludeExpansion step(max_depth);
  step.max_included_files = max_files;
  step.max_included_bytes = max_bytes;
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(step(given));
  EXPECT_NE(result, given);
  EXPECT_EQ(result->ast(), root);
  return root;
}

std::string expanded_text(std::int64_t max_depth, const std::string& text) {
  return openqasm3::dumps(*expand(max_depth, text));
}

// The error that expanding `text` under `max_depth` throws.
template <class E>
E failure(std::int64_t max_depth, const std::string& text,
          std::int64_t max_files = IncludeExpansion::kDefaultMaxIncludedFiles,
          std::int64_t max_bytes = IncludeExpansion::kDefaultMaxIncludedBytes) {
  try {
    expand(max_depth, text, max_files, max_bytes);
  } catch (const E& e) {
    return e;
  }
  throw std::runtime_error("expected failure did not happen");
}

class IncludeExpansionTest : public ::testing::Test {
 protected:
  WorkingDirectory cwd;
};

TEST_F(IncludeExpansionTest, ProgramWithoutIncludesComesBackUnchanged) {
  auto root = program({int_decl("x"), gate_on("h", {"q"})}, "3");
  auto statements = root->statements;
  auto given = std::make_shared<OpenQasmProgram>(root);
  auto result = std::dynamic_pointer_cast<OpenQasmProgram>(IncludeExpansion(0)(given));
  EXPECT_NE(result, given);
  EXPECT_EQ(result->ast(), root);
  EXPECT_EQ(root->statements, statements);
  EXPECT_EQ(IncludeExpansion(3).name, "IncludeExpansion");
}

TEST_F(IncludeExpansionTest, NestedFilesAreSplicedInPlaceUpToTheLimit) {
  write_file("a.inc", "qubit a;\ninclude \"b.inc\";\nqubit a2;\n");
  write_file("b.inc", "qubit b;\n");
  const std::string main = "OPENQASM 3.0;\nqubit before;\ninclude \"a.inc\";\nqubit after;\n";
  EXPECT_EQ(expanded_text(2, main), openqasm3::dumps(*openqasm3::parse(
                                        "OPENQASM 3.0;\nqubit before;\nqubit a;\nqubit b;\nqubit a2;\nqubit after;\n")));

  // Limit 1: b.inc is level 2, refused even though it includes nothing.
  EXPECT_STREQ(failure<DeepInclusionError>(1, main).what(),
               "Max inclusion depth reached, included files:\n - a.inc\n - b.inc");
  // Limit 0: a.inc itself is refused, once it has been read and parsed.
  auto shallow = failure<DeepInclusionError>(0, main);
  EXPECT_EQ(shallow.inclusion_files, (std::vector<std::string>{"a.inc"}));
}

TEST_F(IncludeExpansionTest, TheRefusedLevelIsStillReadParsedAndCheckedForAVersion) {
  EXPECT_STREQ(failure<FileNotFoundError>(0, "include \"missing.inc\";").what(), "File missing.inc not found");
  write_file("broken.inc", "qubit q\n");
  EXPECT_THROW(expand(0, "include \"broken.inc\";"), openqasm3::QASM3ParsingError) << "unwrapped";
  write_file("versioned.inc", "OPENQASM 3.0;\nqubit v;\n");
  auto versioned = failure<IncludeFileDeclaresVersionException>(0, "include \"versioned.inc\";");
  EXPECT_EQ(versioned.filename, "versioned.inc");
  EXPECT_STREQ(versioned.what(), "The included file versioned.inc declares a version, which is prohibited.");
  // A version in the program handed to the step is its own business.
  write_file("plain.inc", "qubit p;\n");
  EXPECT_EQ(expand(1, "OPENQASM 3;\ninclude \"plain.inc\";")->version, "3");
}

TEST_F(IncludeExpansionTest, NegativeLimitRefusesEveryProgram) {
  auto root = program({});
  try {
    IncludeExpansion(-1)(std::make_shared<OpenQasmProgram>(root));
    FAIL() << "no error";
  } catch (const DeepInclusionError& e) {
    EXPECT_TRUE(e.inclusion_files.empty());
    EXPECT_STREQ(e.what(), "Max inclusion depth reached, included files:\n - ");
    const ParsingException& base = e;
    EXPECT_STREQ(base.what(), e.what());
  }
}

TEST_F(IncludeExpansionTest, SelfIncludeRunsIntoTheLimitAndTheHardNestingCap) {
  write_file("self.inc", "qubit s;\ninclude \"self.inc\";\n");
  auto three = failure<DeepInclusionError>(3, "include \"self.inc\";");
  EXPECT_EQ(three.inclusion_files, std::vector<std::string>(4, "self.inc"));

  // A limit deeper than the recursion can safely go stops at the cap instead of the stack's end.
  auto capped = failure<DeepInclusionError>(1'000'000'000, "include \"self.inc\";", 2000);
  EXPECT_EQ(capped.inclusion_files.size(), IncludeExpansion::kMaxInclusionNesting + 1);
}

TEST_F(IncludeExpansionTest, TheFilesAndBytesReadAreBounded) {
  // Each level includes the next twice: 2^13 - 2 files from a few hundred bytes.
  for (int level = 0; level < 12; ++level)
    write_file("l" + std::to_string(level) + ".inc",
               "qubit q" + std::to_string(level) + "_x;\ninclude \"l" + std::to_string(level + 1) + ".inc\";\ninclude \"l" +
                   std::to_string(level + 1) + ".inc\";\n");
  write_file("l12.inc", "qubit last;\n");
  auto files = failure<IncludeLimitError>(100, "include \"l0.inc\";");
  EXPECT_STREQ(files.what(), "Includes read more than 1000 files (the bound on included files), the last one l12.inc");
  EXPECT_EQ(files.filename, "l12.inc");
  const ParsingException& base = files;
  EXPECT_STREQ(base.what(), files.what());
  // Within the bounds it expands; a bound of bytes counts every file read.
  EXPECT_NO_THROW(expand(100, "include \"l8.inc\";", 31));
  EXPECT_THROW(expand(100, "include \"l8.inc\";", 30), IncludeLimitError);
  EXPECT_STREQ(failure<IncludeLimitError>(100, "include \"l12.inc\";\ninclude \"l12.inc\";", 10, 20).what(),
               "Includes read more than 20 bytes (the bound on included bytes), the last file l12.inc");
}

TEST_F(IncludeExpansionTest, NamesAreTakenAsWrittenRelativeToTheWorkingDirectory) {
  // sub/a.inc includes "b.inc": that is ./b.inc, not sub/b.inc.
  write_file("sub/a.inc", "include \"b.inc\";\n");
  write_file("sub/b.inc", "qubit wrong;\n");
  EXPECT_STREQ(failure<FileNotFoundError>(5, "include \"sub/a.inc\";").what(), "File b.inc not found");
  write_file("b.inc", "qubit right;\n");
  EXPECT_EQ(expanded_text(5, "include \"sub/a.inc\";"), openqasm3::dumps(*openqasm3::parse("qubit right;")));
  // An absolute name is used as it stands.
  std::string absolute = (cwd.path() / "b.inc").string();
  EXPECT_EQ(expanded_text(1, "include \"" + absolute + "\";"), openqasm3::dumps(*openqasm3::parse("qubit right;")));
}

TEST_F(IncludeExpansionTest, AFileIncludedTwiceIsReadTwiceAndNestedIncludesStay) {
  write_file("g.inc", "qubit g;\n");
  auto nested_include = ast::make<ast::Include>("g.inc");
  auto box = ast::make<ast::Box>(nullptr, std::vector<ast::StmtPtr>{nested_include});
  auto root = program({ast::make<ast::Include>("g.inc"), box, ast::make<ast::Include>("g.inc")});
  IncludeExpansion(1)(std::make_shared<OpenQasmProgram>(root));
  ASSERT_EQ(class_names(root->statements),
            (std::vector<std::string>{"QubitDeclaration", "Box", "QubitDeclaration"}));
  EXPECT_NE(root->statements[0], root->statements[2]);
  EXPECT_EQ(box->body, (std::vector<ast::StmtPtr>{nested_include}));
}

TEST_F(IncludeExpansionTest, TreeIsUntouchedAfterAnyFailure) {
  write_file("ok.inc", "qubit ok;\n");
  write_file("deep.inc", "include \"ok.inc\";\n");
  for (std::string text : {"qubit x;\ninclude \"ok.inc\";\ninclude \"missing.inc\";\n",
                                  "qubit x;\ninclude \"ok.inc\";\ninclude \"deep.inc\";\n"}) {
    auto root = openqasm3::parse(text);
    auto statements = root->statements;
    EXPECT_ANY_THROW(IncludeExpansion(1)(std::make_shared<OpenQasmProgram>(root)));
    EXPECT_EQ(root->statements, statements);
  }
}

TEST_F(IncludeExpansionTest, UnreadableNamesAreErrorsNamingTheFile) {
  fs::create_directory("dir.inc");
  try {
    expand(1, "include \"dir.inc\";");
    FAIL() << "no error";
  } catch (const fs::filesystem_error& e) {
    EXPECT_EQ(e.path1(), "dir.inc");
    EXPECT_EQ(e.code(), std::errc::is_a_directory);
    EXPECT_NE(std::string(e.what()).find("dir.inc"), std::string::npos);
  }

  ASSERT_EQ(::mkfifo("fifo.inc", 0600), 0);
  EXPECT_THROW(expand(1, "include \"fifo.inc\";"), fs::filesystem_error) << "neither hangs nor reads";

  if (::geteuid() != 0) {  // root reads whatever the permissions say
    write_file("secret.inc", "qubit s;\n");
    fs::permissions("secret.inc", fs::perms::none);
    try {
      expand(1, "include \"secret.inc\";");
      FAIL() << "no error";
    } catch (const fs::filesystem_error& e) {
      EXPECT_EQ(e.path1(), "secret.inc");
      EXPECT_EQ(e.code(), std::errc::permission_denied);
    }
  }

  // A name with a NUL byte names nothing, whatever exists under its first part.
  write_file("cut", "qubit c;\n");
  EXPECT_THROW(parse_oq3_source_filename(std::string("cut\0.inc", 8)), FileNotFoundError);
  try {
    IncludeExpansion(1)(std::make_shared<OpenQasmProgram>(program({ast::make<ast::Include>("")})));
    FAIL() << "no error";
  } catch (const FileNotFoundError& e) {
    EXPECT_STREQ(e.what(), "File  not found");
  }
}

// Serves files from memory: a derived step changes how every level is read.
class InMemoryExpansion : public IncludeExpansion {
 public:
  InMemoryExpansion(std::int64_t max_depth, std::map<std::string, std::string> files)
      : IncludeExpansion(max_depth), files_(std::move(files)) {}
  std::shared_ptr<ast::Program> get_sub_program(const std::string& filename) const override {
    ++reads;
    return openqasm3::parse(files_.at(filename));
  }
  mutable int reads = 0;

 private:
  std::map<std::string, std::string> files_;
};

TEST_F(IncludeExpansionTest, DerivedStepReadsEveryLevelAndTheLimitIsReadAtEachCall) {
  InMemoryExpansion step(2, {{"x", "include \"y\";\nqubit x;"}, {"y", "qubit y;"}});
  auto root = openqasm3::parse("include \"x\";");
  step(std::make_shared<OpenQasmProgram>(root));
  EXPECT_EQ(step.reads, 2);
  EXPECT_EQ(openqasm3::dumps(*root), openqasm3::dumps(*openqasm3::parse("qubit y;\nqubit x;")));

  step.max_depth = 1;
  EXPECT_THROW(step(std::make_shared<OpenQasmProgram>(openqasm3::parse("include \"x\";"))), DeepInclusionError);
  EXPECT_THROW(step(std::make_shared<programs::TextualProgram>("qubit q;")), AssertionError);
}

}  // namespace
}  // namespace vell_qasm::passes::parsing
