// Operation identifiers: which calls of an operation a target function serves.
//
// An OperationIdentifier names an OpenQASM gate or operation and says how many parameters a call
// passes and which qubits it may act on. Each qubit slot is either an exact hardware qubit or any
// qubit; the last slot may be "any number of further qubits". The qubits a call passes in "any"
// slots (and in the open tail) are the identifier's parametric qubits: the target function
// receives them, in call order, after the call's parameters. Exact qubits are not passed; the
// target function already knows them.
//
// Text form, as written in machine configurations (create_from_string reads it, text() writes it):
//
//     identifier := name [ "(" count ")" ] [ qubit { "," qubit } [ "," "..." ] | "..." ]
//     qubit      := "$" digits      exactly that hardware qubit
//                 | "?"             any one qubit (parametric)
//     "..."                         any number of further qubits, none included (parametric)
//
//   name   an OpenQASM identifier: a letter, "_" or non-ASCII character, then also digits
//   count  the number of parameters a call passes, in decimal; "(0)" may be left out
//   Blanks may stand between any two tokens.
//
//   "x ?"          gate x on any qubit; target function f(q)
//   "rx(1) ?"      rx with one parameter on any qubit; f(theta, q)
//   "cx $0, $1"    cx on exactly qubits 0 and 1, in this order; f()
//   "cz $0, ?"     cz on qubit 0 and any second qubit; f(q)
//   "measure ..."  measure on any number of qubits; f(*qubits)
//   "gphase(1)"    gphase with one parameter and no qubits; f(theta)
//
// Text that does not follow this form is refused with a ValueError that quotes the text and says
// what was expected where.
//
// Identifiers are values: equal when name, count and qubit slots are equal; hashable.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vell_qasm/configurations/hw_qubit.hpp"

namespace vell_qasm::configurations {

// One call to resolve: the operation's name, the hardware qubits it acts on (operand order) and
// how many parameters it passes. A view: the name and the qubits must outlive the candidate.
struct OperationCandidate {
  OperationCandidate(std::string_view name_, std::span<const HwQubitIndex> qubits_, std::size_t number_of_params_)
      : name(name_), qubits(qubits_), number_of_params(number_of_params_) {}

  std::string_view name;
  std::span<const HwQubitIndex> qubits;
  std::size_t number_of_params;

  // The call in the identifier syntax, with its actual qubits: rx(1) $0, $5
  std::string text() const;
};

class OperationIdentifier {
 public:
  // A qubit slot: the exact hardware qubit, or nullopt for any qubit.
  using QubitSlot = std::optional<HwQubitIndex>;

  OperationIdentifier(std::string name, std::size_t number_of_params, std::vector<QubitSlot> qubits,
                      bool is_varying_number_of_qubits = false);

  // Reads the text form above; ValueError on malformed text.
  static OperationIdentifier create_from_string(std::string_view text);

  const std::string& name() const { return name_; }
  std::size_t number_of_params() const { return number_of_params_; }
  const std::vector<QubitSlot>& qubits() const { return qubits_; }
  // True when a trailing "..." takes any number of further qubits.
  bool is_varying_number_of_qubits() const { return varying_; }
  // How many qubits get_parametric_qubits yields when the number of qubits is fixed (the "any"
  // slots); with a varying number, the "any" slots before the open tail.
  std::size_t number_of_parametric_qubits() const;

  bool matches(const OperationCandidate& candidate) const;
  // The qubits of a matching call that the target function receives, in call order. ValueError
  // when the qubits do not fit the identifier's slots.
  std::vector<HwQubitIndex> get_parametric_qubits(std::span<const HwQubitIndex> hw_qubits) const;

  // The canonical text form; create_from_string(text()) gives an equal identifier.
  std::string text() const;

  friend bool operator==(const OperationIdentifier&, const OperationIdentifier&) = default;

 private:
  std::string name_;
  std::size_t number_of_params_;
  std::vector<QubitSlot> qubits_;
  bool varying_;
};

}  // namespace vell_qasm::configurations

template <>
struct std::hash<vell_qasm::configurations::OperationIdentifier> {
  std::size_t operator()(const vell_qasm::configurations::OperationIdentifier& id) const noexcept;
};
