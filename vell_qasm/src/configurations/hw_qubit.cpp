#include "vell_qasm/configurations/hw_qubit.hpp"

namespace vell_qasm::configurations {

openqasm3::ast::Ptr<HwQubit> create_hw_qubit(HwQubitIndex index) {
  return std::make_shared<HwQubit>(HwQubit::Key{}, "$" + std::to_string(index), index);
}

std::string ExactQubitPattern::repr() const { return "ExactQubitPattern(" + std::to_string(_value) + ")"; }

}  // namespace vell_qasm::configurations
