#include "vell_qasm/passes/parsing/hw_qubit_resolver.hpp"

#include <cstdint>
#include <limits>
#include <string_view>
#include <tuple>

#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {

namespace ast = openqasm3::ast;
using configurations::HwQubitIndex;

namespace {

// The index a hardware-qubit name stands for, or nullopt when the name is no hardware qubit.
std::optional<HwQubitIndex> hardware_qubit_index(const std::string& name) {
  if (name.size() < 2 || name[0] != '$') return std::nullopt;
  constexpr HwQubitIndex max = std::numeric_limits<HwQubitIndex>::max();
  HwQubitIndex value = 0;
  bool overflow = false;
  for (char c : std::string_view(name).substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
    HwQubitIndex digit = c - '0';
    if (value > (max - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (overflow) throw OverflowError("The hardware qubit " + name + " has an index too large to represent");
  return value;
}

}  // namespace

ast::Rewrite HwQubitsTransformer::visit_Identifier(const ast::Ptr<ast::Identifier>& node) {
  if (auto index = hardware_qubit_index(node->name)) return configurations::create_hw_qubit(*index);
  return node;
}

HwQubitResolver::HwQubitResolver(std::optional<std::string> name) : Step(std::move(name), "HwQubitResolver") {}

programs::ProgramPtr HwQubitResolver::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  HwQubitsTransformer transformer;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(transformer, tree));
}

}  // namespace vell_qasm::passes::parsing
