#include "vell_qasm/passes/utils.hpp"

#include "vell/tavo/program.hpp"

namespace vell_qasm::passes::utils {

bool is_inside_scope() { return vell::tavo::is_inside_scope(); }

}  // namespace vell_qasm::passes::utils
