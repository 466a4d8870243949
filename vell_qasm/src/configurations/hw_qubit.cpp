#include "vell_qasm/configurations/hw_qubit.hpp"

#include <charconv>

namespace vell_qasm::configurations {

openqasm3::ast::Ptr<HwQubit> create_hw_qubit(HwQubitIndex index) {
  char name[24] = {'$'};  // "$" and at most 20 characters of an int64
  char* end = std::to_chars(name + 1, name + sizeof name, index).ptr;
  return std::make_shared<HwQubit>(HwQubit::Key{}, std::string(name, static_cast<std::size_t>(end - name)), index);
}

std::string ExactQubitPattern::repr() const { return "ExactQubitPattern(" + std::to_string(_value) + ")"; }

}  // namespace vell_qasm::configurations
