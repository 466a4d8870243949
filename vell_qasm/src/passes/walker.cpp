#include "vell_qasm/passes/walker.hpp"

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {

void Visitor::failed_in(openqasm3::ast::QASMNode& statement) { locate_failure(statement); }
void Transformer::failed_in(openqasm3::ast::QASMNode& statement) { locate_failure(statement); }

}  // namespace vell_qasm::passes
