// Hardware qubits: the vocabulary in which the compiler speaks of the controller's qubits.
//
// - HwQubitIndex, Element, Elements, QubitsMapping: plain aliases, unchecked.
// - HwQubit: the syntax-tree node of one hardware qubit, an Identifier named "$<index>" with an
//   extra field `index`. Make it with create_hw_qubit or create_hw_qubit_in_order, the only makers
//   (the constructor wants a key that only they hold, so the name always matches the index when the
//   node is made).
// - QubitPattern, ExactQubitPattern, AllQubitsValues: predicates over qubit indices.
//
// Trap: dispatch goes by the node's exact class. A visitor's visit_Identifier never sees an
// HwQubit; to handle one, mix HwQubitVisit (or HwQubitTransform for transformers) into the visitor
// and override visit_HwQubit. Without the mixin the node is walked generically. Structural
// equality holds only between two HwQubit nodes (never with a plain Identifier of the same name),
// and HwQubit has no std::hash: it is not meant to be a set member or a map key.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "openqasm3/ast.hpp"

namespace vell_qasm::configurations {

using HwQubitIndex = std::int64_t;
using Element = std::string;
using Elements = std::vector<Element>;
// Every hardware qubit of the machine with the elements that drive it. Ordered by index, so any
// walk over the machine's qubits is deterministic.
using QubitsMapping = std::map<HwQubitIndex, Elements>;

class HwQubit;
openqasm3::ast::Ptr<HwQubit> create_hw_qubit(HwQubitIndex index);
// As create_hw_qubit, but never from the slots freed in the compilation's node arena: carved in
// order from fresh memory. For a node that takes the place of no node freed just before it (the
// arena would hand it the slot freed longest ago, memory that has mostly left the caches).
openqasm3::ast::Ptr<HwQubit> create_hw_qubit_in_order(HwQubitIndex index);

class HwQubit : public openqasm3::ast::NodeImpl<HwQubit, openqasm3::ast::Identifier> {
  struct Key {
    explicit Key() = default;
  };
  friend openqasm3::ast::Ptr<HwQubit> create_hw_qubit(HwQubitIndex index);
  friend openqasm3::ast::Ptr<HwQubit> create_hw_qubit_in_order(HwQubitIndex index);

 public:
  static constexpr std::string_view kName = "HwQubit";
  static constexpr std::string_view kModule = "vell_qasm.configurations.hw_qubit";

  HwQubitIndex index = 0;

  // Public only so that std::make_shared can reach it; the key keeps it create_hw_qubit's.
  HwQubit(Key, std::string_view name_, HwQubitIndex index_) : index(index_) { name.assign(name_); }

  template <class S>
  static auto own_fields(S& s) {
    return std::make_tuple(openqasm3::ast::field("index", s.index));
  }
  std::optional<std::string> printed_text() const override { return name; }
};

// Mixin for a QASMVisitor that handles hardware qubits:
//   class Collector : public ast::QASMVisitor, public HwQubitVisit {
//     void visit_HwQubit(HwQubit& node) override { ... }
//   };
class HwQubitVisit : public openqasm3::ast::ExternalVisit<HwQubit> {
 public:
  virtual void visit_HwQubit(HwQubit& node) = 0;
  void visit_external(HwQubit& node) final { visit_HwQubit(node); }
};

// Mixin for a QASMTransformer that rewrites hardware qubits; the returned Rewrite takes the
// node's place as for any other handler.
class HwQubitTransform : public openqasm3::ast::ExternalTransform<HwQubit> {
 public:
  virtual openqasm3::ast::Rewrite visit_HwQubit(const openqasm3::ast::Ptr<HwQubit>& node) = 0;
  openqasm3::ast::Rewrite visit_external(const openqasm3::ast::Ptr<HwQubit>& node) final { return visit_HwQubit(node); }
};

// Whether a qubit index satisfies a pattern. Patterns compare by identity only.
class QubitPattern {
 public:
  virtual ~QubitPattern() = default;
  virtual bool matches(HwQubitIndex other) const = 0;
};

// Exactly one qubit.
class ExactQubitPattern : public QubitPattern {
 public:
  explicit ExactQubitPattern(HwQubitIndex value) : _value(value) {}
  bool matches(HwQubitIndex other) const override { return _value == other; }
  HwQubitIndex value() const { return _value; }
  // ExactQubitPattern(4)
  std::string repr() const;

 private:
  HwQubitIndex _value;
};

// Every qubit.
class AllQubitsValues : public QubitPattern {
 public:
  bool matches(HwQubitIndex) const override { return true; }
};

}  // namespace vell_qasm::configurations
