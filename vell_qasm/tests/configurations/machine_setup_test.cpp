#include "vell_qasm/configurations/machine_setup.hpp"

#include <gtest/gtest.h>

#include "vell_test/tavo.hpp"

using namespace vell_qasm::configurations;
using vell::tavo::Expr;
using vell::tavo::Value;
using Qubits = std::vector<HwQubitIndex>;

namespace {

std::string message_of(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "<no exception>";
}

struct Machine {
  TavoFunc rx = make_tavo_func("rx", [](Value, std::int64_t) {});
  TavoFunc cx = make_tavo_func("cx", [](std::int64_t, std::int64_t) {});
  TavoFunc measure = make_tavo_func("measure", [](std::span<const Value>) {});
  std::shared_ptr<QubitsMapping> qubits = std::make_shared<QubitsMapping>(QubitsMapping{
      {0, {"q0.xy", "q0.z", "shared"}},
      {1, {"shared", "a1"}},
      {2, {"Z2"}},
  });
  MachineSetup setup{OperationsMapping{{"rx(1) ?", rx}, {"cx ?, ?", cx}, {"measure ...", measure}}, qubits};
};

TEST(MachineSetup, ResolvesFunctionArgumentsAndElements) {
  Machine m;
  Expr theta = vell_test::fresh_variable();
  auto r = m.setup.resolve_operation("rx", Qubits{1}, {theta});
  EXPECT_TRUE(r.func == m.rx);
  ASSERT_EQ(r.params.size(), 2u);
  EXPECT_EQ(std::get<Expr>(r.params[0]).node(), theta.node());
  EXPECT_EQ(std::get<std::int64_t>(r.params[1]), 1);
  EXPECT_EQ(r.elements_to_align, (Elements{"a1", "shared"}));
  EXPECT_TRUE(r == (ResolvedOperation{m.rx, {theta, std::int64_t{1}}, {"a1", "shared"}}));
  EXPECT_FALSE(r == (ResolvedOperation{m.rx, {vell_test::fresh_variable(), std::int64_t{1}}, {"a1", "shared"}}));
  EXPECT_FALSE(r == (ResolvedOperation{m.rx, {theta, std::int64_t{1}}, {"a1"}}));
  EXPECT_FALSE(r == (ResolvedOperation{m.cx, {theta, std::int64_t{1}}, {"a1", "shared"}}));
  EXPECT_FALSE(r == (ResolvedOperation{m.rx, {theta, 1.0}, {"a1", "shared"}}));
}

TEST(MachineSetup, ElementsToAlignAreDistinctAndSortedByCodePoint) {
  Machine m;
  const Elements all{"Z2", "a1", "q0.xy", "q0.z", "shared"};
  EXPECT_EQ(m.setup.resolve_operation("measure", Qubits{0, 1, 2}).elements_to_align, all);
  EXPECT_EQ(m.setup.resolve_operation("measure", Qubits{2, 1, 0}).elements_to_align, all);
  EXPECT_EQ(m.setup.resolve_operation("cx", Qubits{1, 0}).elements_to_align,
            (Elements{"a1", "q0.xy", "q0.z", "shared"}));
  // Repeated qubits pass unchanged to the registry; their elements occur once.
  auto twice = m.setup.resolve_operation("cx", Qubits{0, 0});
  EXPECT_EQ(twice.elements_to_align, (Elements{"q0.xy", "q0.z", "shared"}));
  EXPECT_EQ(std::get<std::int64_t>(twice.params[0]), 0);
  EXPECT_EQ(std::get<std::int64_t>(twice.params[1]), 0);
  // No qubits: nothing to check, nothing to align, the registry still asked.
  auto none = m.setup.resolve_operation("measure", Qubits{});
  EXPECT_TRUE(none.func == m.measure);
  EXPECT_TRUE(none.elements_to_align.empty());

  EXPECT_EQ(m.setup.get_elements_to_align(Qubits{}), Elements{});
  EXPECT_EQ(m.setup.get_elements_to_align(Qubits{2, 2}), Elements{"Z2"});
  EXPECT_THROW(m.setup.get_elements_to_align(Qubits{0, 5}), vell_qasm::KeyError);
  EXPECT_EQ(message_of([&] { m.setup.get_elements_to_align(Qubits{0, 5}); }), "5");
}

TEST(MachineSetup, UnsupportedQubitsAreRefusedBeforeTheRegistryIsAsked) {
  Machine m;
  // "nosuch" is not registered either: the qubits are what the caller hears about.
  try {
    m.setup.resolve_operation("nosuch", Qubits{0, 5, 5});
    ADD_FAILURE();
  } catch (const NotSupportedQubits& e) {
    EXPECT_EQ(e.name, "nosuch");
    EXPECT_EQ(e.called_qubits, (Qubits{0, 5, 5}));
    EXPECT_EQ(e.supported_qubits, (std::set<HwQubitIndex>{0, 1, 2}));
    EXPECT_STREQ(e.what(),
                 "Operation 'nosuch' is operating on qubits (0, 5, 5). Some of these qubits are not supported. "
                 "Supported qubits - (0, 1, 2).");
  }
  // Known qubits, unknown operation: the registry's failure, unchanged.
  EXPECT_EQ(message_of([&] { m.setup.resolve_operation("nosuch", Qubits{0}); }),
            "Not found relevant operation for nosuch $0");
  // Whoever handles UnresolvableOperation handles unsupported qubits too.
  EXPECT_THROW(m.setup.resolve_operation("cx", Qubits{0, 9}), UnresolvableOperation);
}

TEST(MachineSetup, NotSupportedQubitsMessageTuples) {
  EXPECT_STREQ(NotSupportedQubits("cx", {0, 5}, {2, 0, 1}).what(),
               "Operation 'cx' is operating on qubits (0, 5). Some of these qubits are not supported. Supported "
               "qubits - (0, 1, 2).");
  EXPECT_STREQ(NotSupportedQubits("x", {4}, {3}).what(),
               "Operation 'x' is operating on qubits (4,). Some of these qubits are not supported. Supported qubits "
               "- (3,).");
  EXPECT_STREQ(NotSupportedQubits("x", {}, {}).what(),
               "Operation 'x' is operating on qubits (). Some of these qubits are not supported. Supported qubits - "
               "().");

  auto empty = std::make_shared<QubitsMapping>();
  MachineSetup setup(OperationsMapping{}, empty);
  EXPECT_EQ(message_of([&] { setup.resolve_operation("x", Qubits{-1}); }),
            "Operation 'x' is operating on qubits (-1,). Some of these qubits are not supported. Supported qubits - "
            "().");
  // An empty registry is valid: calls on supported qubits fail in the registry.
  empty->emplace(0, Elements{"q0"});
  try {
    setup.resolve_operation("x", Qubits{0});
    ADD_FAILURE();
  } catch (const NotSupportedQubits&) {
    ADD_FAILURE();
  } catch (const UnresolvableOperation& e) {
    EXPECT_STREQ(e.what(), "Not found relevant operation for x $0");
  }
}

TEST(MachineSetup, SeesLaterChangesToTheCallersQubitMapping) {
  Machine m;
  EXPECT_THROW(m.setup.resolve_operation("cx", Qubits{0, 7}), NotSupportedQubits);
  m.qubits->emplace(7, Elements{"q7"});
  EXPECT_EQ(m.setup.resolve_operation("cx", Qubits{0, 7}).elements_to_align,
            (Elements{"q0.xy", "q0.z", "q7", "shared"}));
  (*m.qubits)[7] = {"q7.new"};
  EXPECT_EQ(m.setup.get_elements_to_align(Qubits{7}), Elements{"q7.new"});
  m.qubits->erase(0);
  EXPECT_EQ(message_of([&] {
              m.setup.resolve_operation("cx", Qubits{0, 7});
            }),
            "Operation 'cx' is operating on qubits (0, 7). Some of these qubits are not supported. Supported "
            "qubits - (1, 2, 7).");
  EXPECT_EQ(m.setup.hw_qubits, m.qubits);  // the caller's object, not a copy
}

TEST(MachineSetup, ConstructionFromMappingOrReadyRegistry) {
  auto qubits = std::make_shared<QubitsMapping>(QubitsMapping{{0, {"q0"}}});
  auto registry =
      std::make_shared<const OperationsDatabase>(OperationsMapping{{"x ?", make_tavo_func("x", [](std::int64_t) {})}});
  MachineSetup ready(registry, qubits);
  EXPECT_EQ(ready.quantum_op_registry, registry);
  EXPECT_EQ(ready.resolve_operation("x", Qubits{0}).func.name(), "x");

  // A target function that does not fit ends construction with the definition error.
  EXPECT_THROW(MachineSetup(OperationsMapping{{"x ?", make_tavo_func("x", [] {})}}, qubits),
               NumberOfParametersMismatch);
  EXPECT_THROW(MachineSetup(OperationsMapping{{"x(", make_tavo_func("x", [] {})}}, qubits), vell_qasm::ValueError);

  // Null pointers are refused at once instead of failing on the first call.
  EXPECT_EQ(message_of([&] { MachineSetup(registry, nullptr); }),
            "Argument 'hw_qubits' has incorrect type (expected QubitsMapping, got NoneType)");
  EXPECT_EQ(message_of([&] { MachineSetup(std::shared_ptr<const OperationsDatabase>(), qubits); }),
            "Argument 'quantum_op_registry' has incorrect type (expected OperationsDatabase, got NoneType)");
  ready.hw_qubits = nullptr;
  EXPECT_THROW(ready.resolve_operation("x", Qubits{0}), vell_qasm::TypeError);
}

}  // namespace
