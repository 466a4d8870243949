// The error lines of vell-qasmc, one program per failure that a program can cause: each
// golden/errors/NAME.qasm fails with the line in NAME.qasm.err (refresh with VELL_UPDATE_GOLDEN=1).
// A first line "// vell-qasmc: OPTIONS" gives the program the tool's --enforce-optimizations,
// --max-inclusion-depth, --max-expansion or --qubits. Includes are looked up in that directory,
// whose path is left out of the file an error line names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vell_qasm/driver/compile.hpp"
#include "vell_qasm/logging.hpp"
#include "vell_test/golden.hpp"

namespace vell_qasm::driver {
namespace {

namespace fs = std::filesystem;

using vell_test::read_file;

// The options of the tool that the program's first line asks for.
CompileOptions options_for(const std::string& source) {
  std::int64_t qubits = 8;
  std::int64_t max_expansion = 0;
  configurations::BuildSettings::Fields settings;
  static const std::string kHead = "// vell-qasmc:";
  if (source.rfind(kHead, 0) == 0) {
    std::istringstream words(source.substr(kHead.size(), source.find('\n') - kHead.size()));
    std::string option, value;
    while (words >> option >> value) {
      if (option == "--qubits") {
        qubits = std::stoll(value);
      } else if (option == "--max-inclusion-depth") {
        settings.max_inclusion_depth = std::stoll(value);
      } else if (option == "--max-expansion") {
        max_expansion = std::stoll(value);
      } else if (option == "--enforce-optimizations") {
        settings.optimizations_to_enforce = value;
      } else {
        ADD_FAILURE() << "unknown option " << option;
      }
    }
  }
  CompileOptions options = demo_compile_options(qubits);
  options.build_settings = configurations::BuildSettings(settings);
  if (max_expansion) options.max_expansion = max_expansion;
  return options;
}

TEST(ErrorLines, EveryProgramFailsWithItsGoldenLine) {
  const fs::path dir = fs::path(VELL_TEST_DIR) / "golden" / "errors";
  std::vector<fs::path> programs;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".qasm") programs.push_back(entry.path());
  std::sort(programs.begin(), programs.end());
  EXPECT_GE(programs.size(), 30u);
  logging::Capture quiet;  // tolerated optimization failures are warnings, not the error line
  for (const fs::path& program : programs) {
    const std::string name = program.filename().string();
    SCOPED_TRACE(name);
    const std::string source = read_file(program);
    CompileOptions options = options_for(source);
    options.include_directory = dir;
    std::string actual;
    try {
      compile(source, options);
      ADD_FAILURE() << name << " compiled";
      continue;
    } catch (...) {
      actual = error_line(name, describe_failure(std::current_exception())) + "\n";
    }
    // An included file is named by the path it was found under: shown from this directory.
    const std::string folder = (dir / "").string();
    if (actual.rfind(folder, 0) == 0) actual.erase(0, folder.size());
    vell_test::expect_golden("errors/" + name + ".err", actual);
  }
}

TEST(ErrorLines, AreOneLineAndNameTheFileOfThePosition) {
  FailureDescription failure{"two\nlines", std::nullopt, 3, 4};
  EXPECT_EQ(error_line("main.qasm", failure), "main.qasm:3:4: error: two lines");
  failure.file = "lib.inc";
  EXPECT_EQ(error_line("main.qasm", failure), "lib.inc:3:4: error: two lines");
  EXPECT_EQ(error_line("main.qasm", {"no position", std::nullopt, std::nullopt, std::nullopt}),
            "vell-qasmc: error: no position");
}

}  // namespace
}  // namespace vell_qasm::driver
