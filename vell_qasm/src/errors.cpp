#include "vell_qasm/errors.hpp"

namespace vell_qasm {

std::string NotImplementedError::render(const std::string& text, const Subject& subject) {
  std::string out = "(";
  openqasm3::ast::detail::repr_string(out, text);
  out += ", ";
  if (auto* node = std::get_if<openqasm3::ast::NodePtr>(&subject)) {
    out += openqasm3::ast::repr(*node);
  } else if (auto* s = std::get_if<std::string>(&subject)) {
    out += *s;
  } else {
    out += "None";
  }
  out += ")";
  return out;
}

}  // namespace vell_qasm
