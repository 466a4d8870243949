#include "vell_qasm/demo_machine.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <numbers>
#include <string>
#include <vector>

// Golden files of these tests live in demo_machine/tests/golden.
#include "vell_test/tavo.hpp"

namespace tavo = vell::tavo;
using namespace vell_qasm::configurations;
using vell_qasm::demo_machine::demo_gate_names;
using vell_qasm::demo_machine::demo_machine;
using Qubits = std::vector<HwQubitIndex>;

namespace {

constexpr double kPi = std::numbers::pi;

// One call as code generation makes it: resolved by the machine, the target function framed by
// the alignment of its qubits' elements.
struct Call {
  std::string name;
  Qubits qubits;
  // Builds the parameters inside the program scope, so that they may use its variables.
  std::function<TavoArgs()> params = [] { return TavoArgs{}; };
};

std::string call_text(const Call& call) {
  std::string out = call.name;
  for (std::size_t i = 0; i < call.qubits.size(); ++i) out += (i ? ", $" : " $") + std::to_string(call.qubits[i]);
  return out;
}

// The listing of the call in a program of its own, and the result's text after "-> " if any.
std::string run(const MachineSetup& machine, const Call& call) {
  auto scope = tavo::program();
  std::string result;
  {
    auto entered = scope.enter();
    ResolvedOperation op = machine.resolve_operation(call.name, call.qubits, call.params());
    if (op.elements_to_align.size() >= 2) tavo::align(op.elements_to_align);
    if (TavoResult value = op.func(op.params)) result = "-> " + tavo::text(*value) + "\n";
    if (op.elements_to_align.size() >= 2) tavo::align(op.elements_to_align);
  }
  return scope.program().listing() + result;
}

// A fixed input variable, as code generation declares an `input float` without a value.
tavo::Expr angle(const char* name) { return tavo::declare_input_stream(tavo::fixed, name, 0.0); }

}  // namespace

TEST(DemoMachine, QubitsAndElementsForEachSize) {
  for (std::int64_t n : {1, 2, 3, 8, 1024}) {
    SCOPED_TRACE(n);
    MachineSetup machine = demo_machine(n);
    ASSERT_EQ(machine.hw_qubits->size(), static_cast<std::size_t>(n));
    HwQubitIndex expected = 0;
    for (const auto& [index, elements] : *machine.hw_qubits) {
      EXPECT_EQ(index, expected);
      EXPECT_EQ(elements, (Elements{"q" + std::to_string(index) + ".xy", "q" + std::to_string(index) + ".rr"}));
      ++expected;
    }
    EXPECT_THROW(machine.resolve_operation("x", Qubits{n}), NotSupportedQubits);
  }
  EXPECT_EQ(demo_machine().hw_qubits->size(), 8u);
  EXPECT_EQ(*demo_machine(2).hw_qubits, (QubitsMapping{{0, {"q0.xy", "q0.rr"}}, {1, {"q1.xy", "q1.rr"}}}));
  for (std::int64_t n : {0, -1, 1025}) {
    vell_test::expect_throw<vell_qasm::ValueError>(
        [&] { demo_machine(n); }, "The demonstration machine has 1 to 1024 qubits, not " + std::to_string(n));
  }
}

TEST(DemoMachine, BuiltInGatesAreExactlyTheRegisteredGates) {
  std::set<std::string> registered;
  for (const auto& identifier : demo_machine().quantum_op_registry->available_identifiers()) {
    registered.insert(identifier.name());
  }
  for (const char* operation : {"measure", "reset", "delay", "barrier", "gphase"}) {
    EXPECT_EQ(registered.erase(operation), 1u) << operation;
  }
  EXPECT_EQ(demo_gate_names(), registered);
  for (const char* gate :
       {"U", "id", "x", "y", "z", "h", "s", "sdg", "t", "tdg", "sx", "rx", "ry", "rz", "p", "cx", "cz", "cp", "swap"}) {
    EXPECT_TRUE(demo_gate_names().contains(gate)) << gate;
  }
}

// Every registered operation, called as code generation calls it; plain and expression angles.
TEST(DemoMachine, EachOperationEmitsItsPulses) {
  const MachineSetup machine = demo_machine(3);
  const auto plain = [](TavoArgs values) { return [values] { return values; }; };
  const std::vector<Call> calls = {
      {"U", {0}, plain({kPi / 2, 0.0, kPi})},
      {"U",
       {1},
       [] {
         return TavoArgs{angle("theta"), angle("phi"), 0.25};
       }},
      {"u3", {0}, plain({1.0, 2.0, 3.0})},
      {"u2", {0}, plain({std::int64_t{0}, kPi})},
      {"u1", {0}, plain({0.5})},
      {"gphase", {}, plain({kPi})},
      {"id", {2}},
      {"x", {0}},
      {"y", {0}},
      {"z", {0}},
      {"h", {1}},
      {"s", {0}},
      {"sdg", {0}},
      {"t", {0}},
      {"tdg", {0}},
      {"sx", {0}},
      {"rx", {0}, plain({kPi / 2})},
      {"rx", {0}, [] { return TavoArgs{angle("theta")}; }},
      {"ry", {0}, plain({std::int64_t{-1}})},
      {"rz", {0}, plain({0.5})},
      {"rz", {0}, plain({0.0})},
      {"rz", {0}, [] { return TavoArgs{angle("theta")}; }},
      {"p", {0}, plain({true})},
      {"phase", {0}, plain({0.5})},
      {"cx", {0, 1}},
      {"CX", {1, 0}},
      {"cy", {0, 1}},
      {"cz", {2, 0}},
      {"ch", {0, 1}},
      {"swap", {0, 1}},
      {"cp", {0, 1}, plain({kPi / 2})},
      {"cp", {0, 1}, [] { return TavoArgs{angle("lambda")}; }},
      {"cphase", {0, 1}, plain({kPi})},
      {"crx", {0, 1}, plain({kPi})},
      {"cry", {0, 1}, plain({kPi})},
      {"crz", {0, 1}, [] { return TavoArgs{angle("theta")}; }},
      {"cu", {0, 1}, plain({kPi, 0.0, kPi, 0.5})},
      {"ccx", {0, 1, 2}},
      {"cswap", {2, 0, 1}},
      {"measure", {1}},
      {"reset", {2}},
      {"delay", {0, 2}, plain({std::int64_t{25}})},
      {"delay", {}, plain({std::int64_t{0}})},
      {"delay", {1}, [] { return TavoArgs{tavo::declare(tavo::fixed, 100.0)}; }},
      {"delay", {1, 1}, [] { return TavoArgs{tavo::declare(tavo::DType::Int, 7) * 2}; }},
      {"barrier", {0, 1}},
      {"barrier", {}},
  };
  std::set<std::string> registered, called;
  for (const auto& identifier : machine.quantum_op_registry->available_identifiers())
    registered.insert(identifier.name());
  for (const Call& call : calls) called.insert(call.name);
  EXPECT_EQ(called, registered) << "every registered operation has its golden listing";

  std::string listing;
  for (const Call& call : calls) listing += "== " + call_text(call) + "\n" + run(machine, call);
  vell_test::expect_golden("operations.txt", listing);
}

TEST(DemoMachine, RefusedCallsEmitNothing) {
  const MachineSetup machine = demo_machine(3);
  auto scope = tavo::program();
  auto entered = scope.enter();
  auto call = [&](const char* name, Qubits qubits, TavoArgs params = {}) {
    return [&machine, name, qubits, params] {
      ResolvedOperation op = machine.resolve_operation(name, qubits, params);
      op.func(op.params);
    };
  };
  using vell_test::expect_refusal;
  expect_refusal<vell_qasm::ValueError>(scope, call("cx", {1, 1}),
                                        "Gate 'cx' acts on the hardware qubit $1 more than once");
  expect_refusal<vell_qasm::ValueError>(scope, call("cp", {2, 2}, {0.5}),
                                        "Gate 'cp' acts on the hardware qubit $2 more than once");
  expect_refusal<vell_qasm::ValueError>(scope, call("cswap", {0, 1, 0}),
                                        "Gate 'cswap' acts on the hardware qubit $0 more than once");
  expect_refusal<tavo::TavoValueError>(scope, call("delay", {0}, {std::int64_t{-2}}),
                                       "wait: the cycle count must not be negative, got -2");
  expect_refusal<tavo::TavoTypeError>(scope,
                                      call("rx", {0}, {tavo::declare(tavo::fixed, std::vector<tavo::Value>{0.0})}),
                                      "operator /: array variable v0 is not a scalar; index it to use one cell");
  expect_refusal<NotSupportedQubits>(scope, call("x", {3}),
                                     "Operation 'x' is operating on qubits (3,). Some of these qubits are not "
                                     "supported. Supported qubits - (0, 1, 2).");
  expect_refusal<UnresolvableOperation>(scope, call("rx", {0}), "Not found relevant operation for rx $0");
}
