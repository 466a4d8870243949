#include "vell_qasm/demo_machine.hpp"

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <numbers>
#include <set>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "vell/tavo.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/plain_arithmetic.hpp"

namespace vell_qasm::demo_machine {

namespace {

namespace tavo = vell::tavo;
using configurations::Elements;
using configurations::HwQubitIndex;
using configurations::make_tavo_func;
using configurations::OperationsMapping;
using configurations::QubitsMapping;
using configurations::TavoFunc;
using tavo::Value;
using Q = std::int64_t;

// Every gate names its qubits' elements and pulses: each name is made once for the process, the
// first time a gate needs it, rather than looked up by its text at every call.
struct ElementNames {
  std::atomic<const tavo::Name*> drive[kMaxQubits] = {};
  std::atomic<const tavo::Name*> readout[kMaxQubits] = {};
};
ElementNames& element_names() {
  static ElementNames* names = new ElementNames();  // never destroyed, as the names it holds
  return *names;
}
// Two threads may make one name at once: Names of one text are equal, and the second is dropped.
tavo::Name element_name(std::atomic<const tavo::Name*>* names, Q q, std::string (*text)(HwQubitIndex)) {
  if (q < 0 || q >= kMaxQubits) return tavo::Name(text(q));
  std::atomic<const tavo::Name*>& slot = names[q];
  const tavo::Name* name = slot.load(std::memory_order_acquire);
  if (name == nullptr) {
    auto made = std::make_unique<const tavo::Name>(text(q));
    if (slot.compare_exchange_strong(name, made.get(), std::memory_order_acq_rel)) name = made.release();
  }
  return *name;
}
tavo::Name drive_of(Q q) { return element_name(element_names().drive, q, drive_element); }
tavo::Name readout_of(Q q) { return element_name(element_names().readout, q, readout_element); }

struct Pulses {
  tavo::Name x180{"x180"}, y180{"y180"}, x90{"x90"}, y90{"y90"}, cz{"cz"}, readout{"readout"};
};
const Pulses& pulses() {
  static const Pulses names;
  return names;
}

constexpr double kPi = std::numbers::pi;

// ---- Angle arithmetic: in C++ on plain numbers (the SDK does no constant arithmetic of its own),
// as SDK expressions as soon as one operand is one.

bool is_plain(const Value& v) { return !std::holds_alternative<tavo::Expr>(v); }

PlainValue plain_value(const Value& v) {
  return std::visit(
      [](const auto& x) -> PlainValue {
        if constexpr (std::is_same_v<std::decay_t<decltype(x)>, tavo::Expr>) {
          throw AssertionError("An SDK expression is no plain value");
        } else {
          return x;
        }
      },
      v);
}

double number(const Value& v) { return plain::as_real(plain_value(v)); }

// Angles are real numbers: "/" divides as reals whatever the operands.
Value arithmetic(tavo::BinaryOp op, openqasm3::ast::BinaryOperator source_op, const Value& a, const Value& b) {
  if (!is_plain(a) || !is_plain(b)) return tavo::binary(op, a, b);
  return std::visit([](auto x) { return Value(x); },
                    plain::apply(source_op, plain_value(a), plain_value(b), plain::Division::real));
}

using Op = openqasm3::ast::BinaryOperator;
Value plus(const Value& a, const Value& b) { return arithmetic(tavo::BinaryOp::Add, Op::plus, a, b); }
Value minus(const Value& a, const Value& b) { return arithmetic(tavo::BinaryOp::Sub, Op::minus, a, b); }
Value over(const Value& a, double divisor) { return arithmetic(tavo::BinaryOp::Div, Op::divide, a, divisor); }
Value negated(const Value& a) {
  if (!is_plain(a)) return Value(-std::get<tavo::Expr>(a));
  return std::visit([](auto x) { return Value(x); }, plain::apply(openqasm3::ast::UnaryOperator::negate, plain_value(a)));
}
Value half(const Value& a) { return over(a, 2.0); }

// ---- The gates, as the pulses and frame rotations of one qubit's drive element.

void rz(const Value& angle, Q q) {
  if (is_plain(angle) && number(angle) == 0.0) return;
  tavo::frame_rotation(angle, drive_of(q));
}
void rx(const Value& angle, Q q) { tavo::play(pulses().x180, drive_of(q), over(angle, kPi)); }
void ry(const Value& angle, Q q) { tavo::play(pulses().y180, drive_of(q), over(angle, kPi)); }
void x(Q q) { tavo::play(pulses().x180, drive_of(q)); }
void y(Q q) { tavo::play(pulses().y180, drive_of(q)); }
void sx(Q q) { tavo::play(pulses().x90, drive_of(q)); }
void z(Q q) { rz(kPi, q); }
void s(Q q) { rz(kPi / 2, q); }
void sdg(Q q) { rz(-kPi / 2, q); }
void t(Q q) { rz(kPi / 4, q); }
void tdg(Q q) { rz(-kPi / 4, q); }
void h(Q q) {
  rz(kPi, q);
  tavo::play(pulses().y90, drive_of(q));
}
void u(const Value& theta, const Value& phi, const Value& lambda, Q q) {
  rz(lambda, q);
  ry(theta, q);
  rz(phi, q);
}

// The entangling pulse, on both drive elements at once. Inside a decomposition the two elements
// are aligned first: the single-qubit pulses before it may have left them at different times.
void cz_pulse(Q a, Q b) {
  tavo::play(pulses().cz, drive_of(a));
  tavo::play(pulses().cz, drive_of(b));
}
void cz(Q a, Q b) {
  const tavo::Name pair[] = {drive_of(a), drive_of(b)};
  tavo::align(pair);
  cz_pulse(a, b);
}
void cx(Q c, Q target) {
  h(target);
  cz(c, target);
  h(target);
}
void cy(Q a, Q b) {
  sdg(b);
  cx(a, b);
  s(b);
}
void ch(Q a, Q b) {
  h(b);
  sdg(b);
  cx(a, b);
  h(b);
  t(b);
  cx(a, b);
  t(b);
  h(b);
  s(b);
  x(b);
  s(a);
}
void swap(Q a, Q b) {
  cx(a, b);
  cx(b, a);
  cx(a, b);
}
void cp(const Value& lambda, Q a, Q b) {
  rz(half(lambda), a);
  cx(a, b);
  rz(negated(half(lambda)), b);
  cx(a, b);
  rz(half(lambda), b);
}
void crx(const Value& theta, Q a, Q b) {
  rz(kPi / 2, b);
  cx(a, b);
  u(negated(half(theta)), 0.0, 0.0, b);
  cx(a, b);
  u(half(theta), -kPi / 2, 0.0, b);
}
// A rotation of b about one axis controlled by a: half the angle, cx, back by half, cx.
void controlled_rotation(void (*rotate)(const Value&, Q), const Value& theta, Q a, Q b) {
  rotate(half(theta), b);
  cx(a, b);
  rotate(negated(half(theta)), b);
  cx(a, b);
}
void cry(const Value& theta, Q a, Q b) { controlled_rotation(ry, theta, a, b); }
void crz(const Value& theta, Q a, Q b) { controlled_rotation(rz, theta, a, b); }
void cu(const Value& theta, const Value& phi, const Value& lambda, const Value& gamma, Q a, Q b) {
  rz(gamma, a);
  rz(half(plus(lambda, phi)), a);
  rz(half(minus(lambda, phi)), b);
  cx(a, b);
  u(negated(half(theta)), 0.0, negated(half(plus(phi, lambda))), b);
  cx(a, b);
  u(half(theta), phi, 0.0, b);
}
void ccx(Q a, Q b, Q c) {
  h(c);
  cx(b, c);
  tdg(c);
  cx(a, c);
  t(c);
  cx(b, c);
  tdg(c);
  cx(a, c);
  t(b);
  t(c);
  h(c);
  cx(a, b);
  t(a);
  tdg(b);
  cx(a, b);
}
void cswap(Q a, Q b, Q c) {
  cx(c, b);
  ccx(a, b, c);
  cx(c, b);
}

// A gate on repeated qubits has no meaning: `f` with the check that its call's last `qubits`
// arguments (the qubit indices) are distinct, made before the gate emits anything.
TavoFunc with_distinct_qubits(TavoFunc f, std::size_t qubits) {
  auto check_then_call = [f, qubits](std::span<const Value> args) {
    const auto indices = args.last(std::min(qubits, args.size()));
    for (std::size_t i = 0; i < indices.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        const auto q = std::get<std::int64_t>(indices[i]);
        if (q == std::get<std::int64_t>(indices[j])) {
          throw ValueError("Gate '" + f.name() + "' acts on the hardware qubit $" + std::to_string(q) +
                           " more than once");
        }
      }
    }
    return f(args);
  };
  return TavoFunc(f.name(), f.parameters(), check_then_call);
}

// ---- Operations that are not gates.

Value measure(Q q) {
  auto level = tavo::declare(tavo::fixed, 0.0);
  tavo::measure(pulses().readout, readout_of(q), level);
  return level > kReadoutThreshold;
}

void reset(Q q) {
  Value measured_one = measure(q);
  // The correction may start only once the readout has ended.
  const tavo::Name both[] = {drive_of(q), readout_of(q)};
  tavo::align(both);
  auto corrected = tavo::if_(measured_one);
  x(q);
}

// Both elements of each qubit, in qubit order, a repeated qubit once; every element of the
// machine for no qubits.
Elements elements_of(std::span<const Value> qubits, const QubitsMapping& machine) {
  Elements out;
  if (qubits.empty()) {
    for (const auto& [index, elements] : machine) out.insert(out.end(), elements.begin(), elements.end());
    return out;
  }
  std::set<HwQubitIndex> seen;
  for (const Value& value : qubits) {
    const auto q = std::get<std::int64_t>(value);
    if (!seen.insert(q).second) continue;
    const Elements& elements = machine.at(q);
    out.insert(out.end(), elements.begin(), elements.end());
  }
  return out;
}

void delay(const Value& cycles, std::span<const Value> qubits, const QubitsMapping& machine) {
  const bool fixed_expression = !is_plain(cycles) && std::get<tavo::Expr>(cycles).dtype() == tavo::DType::Fixed;
  tavo::wait(fixed_expression ? Value(tavo::Cast::to_int(cycles)) : cycles, elements_of(qubits, machine));
}

void barrier(std::span<const Value> qubits, const QubitsMapping& machine) {
  if (!qubits.empty()) return;
  Elements all = elements_of(qubits, machine);
  if (all.size() >= 2) tavo::align(all);
}

struct Entry {
  const char* identifier;
  bool is_gate;
  TavoFunc func;
};

// The registration table, in registration order. `machine` is read by delay and barrier when
// they are called; demo_gate_names passes none and calls nothing.
std::vector<Entry> entries(std::shared_ptr<const QubitsMapping> machine) {
  std::vector<Entry> out;
  auto gate = [&](const char* identifier, const char* name, auto f) {
    TavoFunc func = make_tavo_func(name, f);
    const std::size_t qubits = configurations::OperationIdentifier::create_from_string(identifier).qubits().size();
    out.push_back({identifier, true, qubits > 1 ? with_distinct_qubits(std::move(func), qubits) : std::move(func)});
  };
  auto operation = [&](const char* identifier, const char* name, auto f) {
    out.push_back({identifier, false, make_tavo_func(name, f)});
  };
  gate("U(3) ?", "U", [](Value th, Value ph, Value la, Q q) { u(th, ph, la, q); });
  gate("u3(3) ?", "u3", [](Value th, Value ph, Value la, Q q) { u(th, ph, la, q); });
  gate("u2(2) ?", "u2", [](Value ph, Value la, Q q) { u(kPi / 2, ph, la, q); });
  gate("id ?", "id", [](Q q) {
    const tavo::Name element[] = {drive_of(q)};
    tavo::wait(kGateCycles, element);
  });
  gate("x ?", "x", [](Q q) { x(q); });
  gate("y ?", "y", [](Q q) { y(q); });
  gate("z ?", "z", [](Q q) { z(q); });
  gate("h ?", "h", [](Q q) { h(q); });
  gate("s ?", "s", [](Q q) { s(q); });
  gate("sdg ?", "sdg", [](Q q) { sdg(q); });
  gate("t ?", "t", [](Q q) { t(q); });
  gate("tdg ?", "tdg", [](Q q) { tdg(q); });
  gate("sx ?", "sx", [](Q q) { sx(q); });
  gate("rx(1) ?", "rx", [](Value th, Q q) { rx(th, q); });
  gate("ry(1) ?", "ry", [](Value th, Q q) { ry(th, q); });
  gate("rz(1) ?", "rz", [](Value la, Q q) { rz(la, q); });
  gate("p(1) ?", "p", [](Value la, Q q) { rz(la, q); });
  gate("phase(1) ?", "phase", [](Value la, Q q) { rz(la, q); });
  gate("u1(1) ?", "u1", [](Value la, Q q) { rz(la, q); });
  gate("cx ?, ?", "cx", [](Q a, Q b) { cx(a, b); });
  gate("CX ?, ?", "CX", [](Q a, Q b) { cx(a, b); });
  gate("cy ?, ?", "cy", [](Q a, Q b) { cy(a, b); });
  gate("cz ?, ?", "cz", [](Q a, Q b) { cz_pulse(a, b); });
  gate("ch ?, ?", "ch", [](Q a, Q b) { ch(a, b); });
  gate("swap ?, ?", "swap", [](Q a, Q b) { swap(a, b); });
  gate("cp(1) ?, ?", "cp", [](Value la, Q a, Q b) { cp(la, a, b); });
  gate("cphase(1) ?, ?", "cphase", [](Value la, Q a, Q b) { cp(la, a, b); });
  gate("crx(1) ?, ?", "crx", [](Value th, Q a, Q b) { crx(th, a, b); });
  gate("cry(1) ?, ?", "cry", [](Value th, Q a, Q b) { cry(th, a, b); });
  gate("crz(1) ?, ?", "crz", [](Value th, Q a, Q b) { crz(th, a, b); });
  gate("cu(4) ?, ?", "cu", [](Value th, Value ph, Value la, Value ga, Q a, Q b) { cu(th, ph, la, ga, a, b); });
  gate("ccx ?, ?, ?", "ccx", [](Q a, Q b, Q c) { ccx(a, b, c); });
  gate("cswap ?, ?, ?", "cswap", [](Q a, Q b, Q c) { cswap(a, b, c); });
  operation("gphase(1) ...", "gphase", [](Value, std::span<const Value>) {});
  operation("measure ?", "measure", [](Q q) { return measure(q); });
  operation("reset ?", "reset", [](Q q) { reset(q); });
  operation("delay(1) ...", "delay",
            [machine](Value cycles, std::span<const Value> qubits) { delay(cycles, qubits, *machine); });
  operation("barrier ...", "barrier", [machine](std::span<const Value> qubits) { barrier(qubits, *machine); });
  return out;
}

}  // namespace

std::string drive_element(HwQubitIndex qubit) { return "q" + std::to_string(qubit) + ".xy"; }
std::string readout_element(HwQubitIndex qubit) { return "q" + std::to_string(qubit) + ".rr"; }

configurations::MachineSetup demo_machine(std::int64_t qubits) {
  if (qubits < kMinQubits || qubits > kMaxQubits) {
    throw ValueError("The demonstration machine has " + std::to_string(kMinQubits) + " to " +
                     std::to_string(kMaxQubits) + " qubits, not " + std::to_string(qubits));
  }
  auto mapping = std::make_shared<QubitsMapping>();
  for (HwQubitIndex q = 0; q < qubits; ++q)
    mapping->emplace_hint(mapping->end(), q, Elements{drive_element(q), readout_element(q)});
  OperationsMapping operations;
  for (auto& entry : entries(mapping)) operations.emplace_back(std::string(entry.identifier), std::move(entry.func));
  return configurations::MachineSetup(operations, std::move(mapping));
}

std::set<std::string> demo_gate_names() {
  std::set<std::string> names;
  for (const auto& entry : entries(nullptr)) {
    if (entry.is_gate) names.insert(entry.func.name());
  }
  return names;
}

}  // namespace vell_qasm::demo_machine
