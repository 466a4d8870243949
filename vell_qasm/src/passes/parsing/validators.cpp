#include "vell_qasm/passes/parsing/validators.hpp"

namespace vell_qasm::passes::parsing {

RedeclarationException::RedeclarationException(openqasm3::ast::NodePtr node_, std::string name_,
                                               std::string_view kind)
    : node(std::move(node_)), name(std::move(name_)) {
  _message = "The " + std::string(kind) + " '" + name + "' is declared again";
  if (node && node->span)
    _message += " at line " + std::to_string(node->span->start_line) + ", column " +
                std::to_string(node->span->start_column);
  _message += '.';
}

}  // namespace vell_qasm::passes::parsing
