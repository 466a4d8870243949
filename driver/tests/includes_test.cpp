// Include files as the driver finds them: beside the including file, in the search folders, or
// served (the standard library); OpenQASM 2 programs with qelib1.inc; errors inside included
// files; compilations on two threads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vell_qasm/driver/compile.hpp"
#include "vell_qasm/driver/includes.hpp"

namespace vell_qasm::driver {
namespace {

namespace fs = std::filesystem;
using passes::code_resolving::GateSignatures;

// A fresh folder of files, removed at the end.
class Folder {
 public:
  Folder() : path_(fs::temp_directory_path() / ("vell_includes_" + std::to_string(::getpid()) + "_" + std::to_string(next_++))) {
    fs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  void write(const std::string& name, const std::string& text) const {
    fs::create_directories((path_ / name).parent_path());
    std::ofstream(path_ / name, std::ios::binary) << text;
  }

 private:
  static inline int next_ = 0;
  fs::path path_;
};

std::string listing(const std::string& source, const CompileOptions& options) {
  return compile(source, options)->dsl_program().listing();
}

std::optional<FailureDescription> failure_of(const std::string& source, const CompileOptions& options) {
  try {
    compile(source, options);
    return std::nullopt;
  } catch (...) {
    return describe_failure(std::current_exception());
  }
}

// The demonstration machine with only U and CX built in: every other gate must come from a
// definition.
CompileOptions u_cx_only() {
  CompileOptions options = demo_compile_options();
  options.built_in_gates = std::make_shared<const GateSignatures>(GateSignatures{{"U"}, {"CX"}});
  return options;
}

TEST(Includes, AreSearchedBesideTheIncludingFileThenInTheSearchPathThenServed) {
  Folder source, library;
  source.write("sub/a.inc", "include \"b.inc\";\n");
  source.write("sub/b.inc", "gate beside a { x a; }\n");  // beside a.inc, which names it
  source.write("b.inc", "gate wrong a { y a; }\n");
  library.write("lib.inc", "gate from_library a { z a; }\n");
  library.write("stdgates.inc", "gate from_file a { h a; }\n");  // a file of the name wins over the served one
  CompileOptions options = demo_compile_options();
  options.include_directory = source.path();
  options.include_path = {fs::path("/nonexistent"), library.path()};
  const fs::path before = fs::current_path();
  const std::string text = listing(
      "OPENQASM 3.0;\ninclude \"sub/a.inc\";\ninclude \"lib.inc\";\ninclude \"stdgates.inc\";\n"
      "qubit q;\nbeside q;\nfrom_library q;\nfrom_file q;\n",
      options);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(fs::current_path(), before);
  auto missing = failure_of("OPENQASM 3.0;\ninclude \"sub/a.inc\";\nqubit q;\nwrong q;\n", options);
  ASSERT_TRUE(missing);
  EXPECT_NE(missing->message.find("wrong"), std::string::npos) << missing->message;
  auto absent = failure_of("include \"nowhere.inc\";\n", options);
  ASSERT_TRUE(absent);
  EXPECT_EQ(absent->message, "File nowhere.inc not found");
}

TEST(Includes, TheStandardLibraryIsServedLessTheBuiltInGates) {
  // The demonstration machine builds in every gate of stdgates.inc; of qelib1.inc it lacks two.
  const auto demo = demo_compile_options();
  EXPECT_EQ(standard_include_text("stdgates.inc", *demo.built_in_gates), "");
  const std::string qelib = *standard_include_text("qelib1.inc", *demo.built_in_gates);
  EXPECT_NE(qelib.find("gate cu1(lambda) a, b"), std::string::npos) << qelib;
  EXPECT_NE(qelib.find("gate cu3("), std::string::npos) << qelib;
  EXPECT_EQ(qelib.find("gate h "), std::string::npos) << qelib;
  EXPECT_FALSE(standard_include_text("other.inc", *demo.built_in_gates));
  // A definition that would call a gate nobody defines is left out (the gate stays unknown).
  const std::string bare = *standard_include_text("stdgates.inc", GateSignatures{{"x"}});
  EXPECT_EQ(bare, "");
  const std::string cx_only = *standard_include_text("stdgates.inc", GateSignatures{{"U"}, {"cx"}});
  EXPECT_NE(cx_only.find("gate CX a, b { cx a, b; }"), std::string::npos) << cx_only;
  EXPECT_EQ(cx_only.find("gate cx "), std::string::npos) << cx_only;
}

TEST(Includes, EveryStandardGateCompilesOnAMachineWithOnlyUAndCX) {
  const std::string stdgates_program =
      "OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[3] q;\n"
      "p(0.1) q[0]; x q[0]; y q[0]; z q[0]; h q[0]; s q[0]; sdg q[0]; t q[0]; tdg q[0]; sx q[0];\n"
      "rx(0.2) q[0]; ry(0.3) q[0]; rz(0.4) q[0]; cx q[0], q[1]; CX q[0], q[1]; cy q[0], q[1];\n"
      "cz q[0], q[1]; cp(0.5) q[0], q[1]; crx(0.6) q[0], q[1]; cry(0.7) q[0], q[1]; crz(0.8) q[0], q[1];\n"
      "ch q[0], q[1]; cu(0.1, 0.2, 0.3, 0.4) q[0], q[1]; swap q[0], q[1]; ccx q[0], q[1], q[2];\n"
      "cswap q[0], q[1], q[2]; phase(0.9) q[0]; cphase(1.0) q[0], q[1]; id q[0]; u1(1.1) q[0];\n"
      "u2(1.2, 1.3) q[0]; u3(1.4, 1.5, 1.6) q[0];\n";
  const std::string qelib_program =
      "OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[3];\n"
      "u3(1, 2, 3) q[0]; u2(1, 2) q[0]; u1(1) q[0]; cx q[0], q[1]; id q[0]; x q[0]; y q[0]; z q[0];\n"
      "h q[0]; s q[0]; sdg q[0]; t q[0]; tdg q[0]; rx(1) q[0]; ry(1) q[0]; rz(1) q[0]; cz q[0], q[1];\n"
      "cy q[0], q[1]; ch q[0], q[1]; ccx q[0], q[1], q[2]; crz(1) q[0], q[1]; cu1(1) q[0], q[1];\n"
      "cu3(1, 2, 3) q[0], q[1];\n";
  for (const CompileOptions& options : {u_cx_only(), demo_compile_options()}) {
    for (const std::string& program : {stdgates_program, qelib_program}) {
      auto failure = failure_of(program, options);
      EXPECT_FALSE(failure) << failure->message << "\n" << program;
    }
  }
  // An integer argument is not halved by integer division inside a served definition.
  EXPECT_EQ(listing("OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\ncp(1) q[0], q[1];\n", u_cx_only()),
            listing("OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\ncp(1.0) q[0], q[1];\n", u_cx_only()));
  // On U and CX alone, h is U(pi/2, 0, pi): the listing is the one of that call.
  EXPECT_EQ(listing("OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit q;\nh q;\n", u_cx_only()),
            listing("OPENQASM 3.0;\nqubit q;\nU(pi / 2, 0, pi) q;\n", u_cx_only()));
}

TEST(Includes, AVersionTwoProgramHasRealGateParameters) {
  // OpenQASM 2 has no integers: -3/10 is -0.3, not a folded integer division. Indices stay whole.
  const std::string v2 = listing("OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\nrz(-3/10) q[1];\n",
                                 demo_compile_options());
  const std::string real = listing("OPENQASM 3.0;\nqubit[2] q;\nrz(-0.3) q[1];\n", demo_compile_options());
  EXPECT_EQ(v2, real);
  // In a definition from qelib1.inc as well: cu1(1) halves a real 1.
  const std::string cu1 = listing("OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\ncu1(1) q[0], q[1];\n",
                                  demo_compile_options());
  EXPECT_EQ(cu1, listing("OPENQASM 2.0;\ninclude \"qelib1.inc\";\nqreg q[2];\ncu1(1.0) q[0], q[1];\n",
                         demo_compile_options()));
  EXPECT_NE(listing("OPENQASM 3.0;\ninclude \"stdgates.inc\";\nqubit[2] q;\nrz(-3/10) q[1];\n", demo_compile_options()),
            real);
}

TEST(Includes, AnErrorInsideAnIncludedFileNamesThatFileAndItsLine) {
  Folder source;
  source.write("inner.inc", "gate ok a { x a; }\n\n  qubit q\n");
  source.write("outer.inc", "\ninclude \"inner.inc\";\n");
  CompileOptions options = demo_compile_options();
  options.include_directory = source.path();
  auto failure = failure_of("OPENQASM 3.0;\ninclude \"outer.inc\";\n", options);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->file, (source.path() / "inner.inc").string());
  EXPECT_EQ(failure->line, 4);
  EXPECT_EQ(failure->column, 0);
  // A missing file: where the include statement stands, in the file that holds it.
  source.write("outer.inc", "\n  include \"absent.inc\";\n");
  auto absent = failure_of("OPENQASM 3.0;\ninclude \"outer.inc\";\n", options);
  ASSERT_TRUE(absent);
  EXPECT_EQ(absent->message, "File absent.inc not found");
  EXPECT_EQ(absent->file, (source.path() / "outer.inc").string());
  EXPECT_EQ(absent->line, 2);
  EXPECT_EQ(absent->column, 2);
  // An error of the program itself names no other file.
  auto own = failure_of("OPENQASM 3.0;\nqubit q\n", options);
  ASSERT_TRUE(own);
  EXPECT_FALSE(own->file);
}

TEST(Includes, AFailureOfALaterStepNamesTheIncludedFileOfItsStatement) {
  // Each body is inner.inc, included by outer.inc (after a line of its own), included by the
  // program; the failure lies on line 3, column 2 of inner.inc.
  struct Case {
    const char* inner;
    const char* message_part;
  };
  const Case cases[] = {
      {"int x;\nqubit q;\n  array[int[32], 2, 2] a;\n", "arrays of 2 dimensions"},
      {"int x;\nint y;\n  y = x[0];\n", "cannot be indexed"},
      {"int x;\nwhile (x < 3) {\n  x = 1 / 0;\n}\n", "division or modulo by zero"},
      {"gate g a {\n  h a;\n  nope a;\n}\n", "Unresolved gate call"},
  };
  Folder source;
  source.write("outer.inc", "gate ok a { x a; }\ninclude \"inner.inc\";\n");
  CompileOptions options = demo_compile_options();
  options.include_directory = source.path();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inner);
    source.write("inner.inc", c.inner);
    auto failure = failure_of("OPENQASM 3.0;\ninclude \"outer.inc\";\nqubit[2] r;\n", options);
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->message.find(c.message_part), std::string::npos) << failure->message;
    EXPECT_EQ(failure->file, (source.path() / "inner.inc").string());
    EXPECT_EQ(failure->line, 3);
    EXPECT_EQ(failure->column, 2);
  }
  // A failure of the program's own statement names no file, includes or not.
  source.write("inner.inc", "gate g a { h a; }\n");
  auto own = failure_of("OPENQASM 3.0;\ninclude \"outer.inc\";\nint x;\nint y;\ny = x[0];\n", options);
  ASSERT_TRUE(own);
  EXPECT_FALSE(own->file);
  EXPECT_EQ(own->line, 5);
}

TEST(Includes, TwoThreadsCompileAtOnceEachWithItsOwnFolder) {
  Folder first, second;
  first.write("g.inc", "gate g a { x a; }\n");
  second.write("g.inc", "gate g a { h a; }\n");
  CompileOptions one = demo_compile_options(), two = demo_compile_options();
  one.include_directory = first.path();
  two.include_directory = second.path();
  const std::string source = "OPENQASM 3.0;\ninclude \"g.inc\";\nqubit q;\ng q;\n";
  const std::string expected_one = listing(source, one), expected_two = listing(source, two);
  ASSERT_NE(expected_one, expected_two);
  std::vector<std::string> results_one(20), results_two(20);
  std::thread a([&] {
    for (auto& r : results_one) r = listing(source, one);
  });
  std::thread b([&] {
    for (auto& r : results_two) r = listing(source, two);
  });
  a.join();
  b.join();
  for (const auto& r : results_one) EXPECT_EQ(r, expected_one);
  for (const auto& r : results_two) EXPECT_EQ(r, expected_two);
}

}  // namespace
}  // namespace vell_qasm::driver
