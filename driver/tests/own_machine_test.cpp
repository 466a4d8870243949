// The README's example of an embedding application with its own machine: two qubits, three
// operations, and the pipeline run on a small program. Kept compiling and running here.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "vell/tavo.hpp"
#include "vell_qasm/configurations/machine_setup.hpp"
#include "vell_qasm/configurations/op_registry.hpp"
#include "vell_qasm/driver/compile.hpp"

// ---- README example begins
namespace tavo = vell::tavo;
using namespace vell_qasm;

// Hardware qubit k has one element, "qk"; the target functions play its calibrated pulses.
std::shared_ptr<const configurations::MachineSetup> my_machine() {
  auto qubits = std::make_shared<configurations::QubitsMapping>(
      configurations::QubitsMapping{{0, {"q0"}}, {1, {"q1"}}});
  auto element = [](std::int64_t q) { return "q" + std::to_string(q); };
  configurations::OperationsMapping operations{
      {"x ?", configurations::make_tavo_func("x", [=](std::int64_t q) { tavo::play("x180", element(q)); })},
      {"rx(1) ?", configurations::make_tavo_func("rx", [=](tavo::Value theta, std::int64_t q) {
         tavo::play("x180", element(q), theta);  // amplitude scaled by the angle (a toy calibration)
       })},
      {"measure ?", configurations::make_tavo_func("measure", [=](std::int64_t q) -> tavo::Value {
         tavo::Expr level = tavo::declare(tavo::fixed, 0.0);
         tavo::measure("readout", element(q), level);
         return level > 0.0;
       })},
  };
  return std::make_shared<const configurations::MachineSetup>(operations, qubits);
}

std::string compile_for_my_machine(const std::string& source) {
  driver::CompileOptions options;
  options.machine_setup = my_machine();
  options.built_in_gates = std::make_shared<const passes::code_resolving::GateSignatures>(
      passes::code_resolving::GateSignatures{{"x"}, {"rx"}});
  options.inputs = {{"theta", 0.5}};  // a compile-time value for the input `theta`
  auto program = driver::compile(source, options);
  return program->dsl_program().listing();
}
// ---- README example ends

TEST(OwnMachine, TheReadmeExampleCompilesAProgram) {
  const std::string listing = compile_for_my_machine(
      "OPENQASM 3.0;\n"
      "input float[64] theta;\n"
      "output bit b;\n"
      "qubit[2] q;\n"
      "gate flip a { x a; }\n"
      "rx(theta * 2) q[0];\n"
      "flip q[1];\n"
      "b = measure q[1];\n");
  EXPECT_NE(listing.find("play \"x180\""), std::string::npos) << listing;
  EXPECT_NE(listing.find("measure \"readout\""), std::string::npos) << listing;
  EXPECT_NE(listing.find("\"q1\""), std::string::npos) << listing;
  // A gate the machine lacks fails with the node's position.
  try {
    compile_for_my_machine("OPENQASM 3.0;\nqubit q;\nh q;\n");
    ADD_FAILURE() << "h compiled on a machine without it";
  } catch (...) {
    const auto failure = driver::describe_failure(std::current_exception());
    EXPECT_EQ(failure.line, 3) << failure.message;
  }
}
