// Shared helpers of the code-generation tests: a small test machine whose target functions leave a
// visible mark in the SDK listing, golden listings, and a compile helper from source text.
//
// The SDK has no pulse statements, so each target function marks its call with an alignment whose
// first element names the operation ("@rx") and whose further elements are the arguments as the
// listing writes them: `rx(x * 2) $1;` leaves `align "@rx", "(v0 * 2)", "1"`. The measure function
// declares a bool variable for the result, marks, and returns the variable.
//
// Machine: hardware qubits 0 to 4 with one element each ("q0" ... "q4"); qubit 5 drives two
// elements ("q5.xy", "q5.ro"), so even a one-qubit operation on it is framed by alignments.
//
// Golden files live in vell_qasm/tests/golden/code_generation/. Refresh them with
//   VELL_UPDATE_GOLDEN=1 build-dir/vell_qasm_tests --gtest_filter='CodeGeneration*:Emission*'
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vell/tavo.hpp"
#include "vell_qasm/configurations/machine_setup.hpp"
#include "vell_test/tavo.hpp"

namespace vell_qasm::testing {

namespace tavo = vell::tavo;
using configurations::MachineSetup;
using configurations::OperationsMapping;
using configurations::QubitsMapping;

// align "@<name>", <argument texts...>; a lone name gets "-" so that the alignment has two elements.
inline void mark(const std::string& name, std::span<const tavo::Value> args) {
  std::vector<std::string> elements{"@" + name};
  for (const tavo::Value& arg : args) elements.push_back(tavo::text(arg));
  if (elements.size() < 2) elements.push_back("-");
  tavo::align(elements);
}

// A target function with `arity` positional parameters, then *args when `varying`.
inline configurations::TavoFunc target(const std::string& name, std::size_t arity, bool varying,
                                       std::function<configurations::TavoResult(std::span<const tavo::Value>)> body) {
  std::vector<configurations::Parameter> parameters;
  for (std::size_t i = 0; i < arity; ++i)
    parameters.push_back({"p" + std::to_string(i), configurations::ParameterKind::POSITIONAL_ONLY, false});
  if (varying) parameters.push_back({"args", configurations::ParameterKind::VAR_POSITIONAL, false});
  return configurations::TavoFunc(name, std::move(parameters), std::move(body));
}

inline OperationsMapping test_operations() {
  auto marker = [](const std::string& name, std::size_t arity, bool varying = false) {
    return target(name, arity, varying, [name](std::span<const tavo::Value> args) -> configurations::TavoResult {
      mark(name, args);
      return std::nullopt;
    });
  };
  auto measure = target("measure", 1, false, [](std::span<const tavo::Value> args) -> configurations::TavoResult {
    tavo::Expr result = tavo::declare(tavo::DType::Bool, false);
    mark("measure", args);
    return tavo::Value(result);
  });
  auto refusing = target("fail", 1, false, [](std::span<const tavo::Value>) -> configurations::TavoResult {
    throw std::runtime_error("the target function refuses");
  });
  return OperationsMapping{
      {"h ?", marker("h", 1)},
      {"x ?", marker("x", 1)},
      {"rx(1) ?", marker("rx", 2)},
      {"u3(3) ?", marker("u3", 4)},
      {"cx ?, ?", marker("cx", 2)},
      {"measure $4", marker("measure", 0)},  // yields no result
      {"measure ?", measure},
      {"reset ?", marker("reset", 1)},
      {"delay(1) ...", marker("delay", 1, true)},
      {"barrier ...", marker("barrier", 0, true)},
      {"gphase(1) ...", marker("gphase", 1, true)},
      {"tan(1)", marker("tan", 1)},
      {"fail ?", refusing},
  };
}

inline std::shared_ptr<const MachineSetup> test_machine() {
  auto qubits = std::make_shared<QubitsMapping>(QubitsMapping{
      {0, {"q0"}}, {1, {"q1"}}, {2, {"q2"}}, {3, {"q3"}}, {4, {"q4"}}, {5, {"q5.xy", "q5.ro"}}});
  return std::make_shared<const MachineSetup>(test_operations(), qubits);
}

using vell_test::expect_throw;

inline void expect_golden(const std::string& name, const std::string& actual) {
  vell_test::expect_golden("code_generation/" + name, actual);
}

}  // namespace vell_qasm::testing
