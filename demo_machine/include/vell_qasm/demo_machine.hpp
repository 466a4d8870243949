// The demonstration machine: the hardware configuration that vell-qasmc compiles for, so that
// OpenQASM programs compile out of the box. Not a model of any real device.
//
// Hardware qubits 0..N-1 (N = 8 unless the caller says otherwise). Qubit k has two controller
// elements: the drive element "qk.xy", which plays the gate pulses, and the readout element
// "qk.rr", which plays the readout pulse and demodulates the answer.
//
// Target functions, one per operation, every qubit parametric ("x ?", "rx(1) ?", "cx ?, ?", ...):
// - Rotations about z are virtual: frame_rotation(angle) on the drive element, no pulse (z, s,
//   sdg, t, tdg, rz, p and its aliases, and the z parts of the gates below). A rotation by a plain
//   zero is left out.
// - x, y and sx play the calibrated pulses "x180", "y180" and "x90". rx(θ) and ry(θ) play "x180"
//   and "y180" with the amplitude scaled by θ/π (a negative factor rotates the other way).
// - h: z then ry(π/2), i.e. frame_rotation(π) and "y90". U(θ, φ, λ) = rz(φ)·ry(θ)·rz(λ), emitted
//   as frame_rotation(λ), the scaled "y180", frame_rotation(φ); u3 is U and u2(φ, λ) is U(π/2, φ, λ).
// - id idles the drive element for one single-qubit gate length (kGateCycles).
// - cz plays "cz" on both drive elements at once. cx is h, cz, h on the target; the other two-
//   and three-qubit gates (cy, ch, swap, cp, crx, cry, crz, cu, ccx, cswap) are emitted through
//   the decompositions of stdgates.inc. Within a decomposition the two drive elements are aligned
//   before each "cz"; around the whole gate the compiler aligns every element of its qubits.
//   A multi-qubit gate whose qubits repeat has no meaning: refused (ValueError) before the gate
//   emits anything (the compiler's alignment before it stands).
// - measure q: declares a fixed variable, measures "readout" on "qk.rr" into it and returns the
//   bool expression `variable > kReadoutThreshold`.
// - reset q: measure, align the qubit's two elements, then play "x180" if the result was true.
// - delay(cycles) q...: one wait of `cycles` (a lowered duration, an int; a fixed expression, as
//   a duration variable gives, is cast to int) on both elements of each qubit, in qubit order;
//   with no qubits on every element of the machine, as OpenQASM's bare delay means.
// - barrier q...: emits nothing; the alignment the compiler places around every operation is the
//   whole barrier. A bare barrier (no qubits) aligns every element of the machine.
// - gphase: a global phase, unobservable: emits nothing.
//
// Angles may be plain numbers or SDK expressions; arithmetic on angles (θ/π, λ/2, θ + π) is done
// in C++ when every operand is plain, so that constant calls list plain numbers, and as SDK
// expressions otherwise.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "vell_qasm/configurations/machine_setup.hpp"

namespace vell_qasm::demo_machine {

inline constexpr std::int64_t kDefaultQubits = 8;
// Bounds of the qubit count the caller may ask for.
inline constexpr std::int64_t kMinQubits = 1;
inline constexpr std::int64_t kMaxQubits = 1024;
// One single-qubit gate, in clock cycles: what `id` idles.
inline constexpr std::int64_t kGateCycles = 5;
// A demodulated readout above this value is the answer 1.
inline constexpr double kReadoutThreshold = 0.0;

// "q3.xy" and "q3.rr" for qubit 3.
std::string drive_element(configurations::HwQubitIndex qubit);
std::string readout_element(configurations::HwQubitIndex qubit);

// The machine with `qubits` hardware qubits; ValueError unless kMinQubits <= qubits <= kMaxQubits.
configurations::MachineSetup demo_machine(std::int64_t qubits = kDefaultQubits);

// The names of the gates the machine registers (not measure, reset, delay, barrier or gphase,
// which are no gate calls): the built-in gate set for gate inlining, so that every gate call the
// machine can run is left to it and the program may define any other gate.
std::set<std::string> demo_gate_names();

}  // namespace vell_qasm::demo_machine
