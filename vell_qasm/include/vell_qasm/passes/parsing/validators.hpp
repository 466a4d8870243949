// RedeclarationException: a name declared a second time where the language allows one declaration
// (constant inlining raises it for a second constant of one name, or a constant that takes the
// name of a built-in one such as pi; scope renaming for a second declaration in one scope).
//
// `node` is the second declaration met, `name` the name it declares. The message names the
// constant (or variable) and, when the declaration carries its source position, the line (from 1) and column
// (from 0) where it starts: "The constant 'n' is declared again at line 3, column 0."
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "openqasm3/ast.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {

class RedeclarationException : public std::exception, public HasLocation {
 public:
  // `kind`: what the name is declared as, "constant" or "variable".
  RedeclarationException(openqasm3::ast::NodePtr node, std::string name, std::string_view kind = "constant");

  const openqasm3::ast::NodePtr node;
  const std::string name;

  const char* what() const noexcept override { return _message.c_str(); }

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node.get(); }

 private:
  std::string _message;
};

}  // namespace vell_qasm::passes::parsing
