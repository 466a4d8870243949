// Small helpers shared by several steps.
#pragma once

namespace vell_qasm::passes::utils {

// Whether an SDK program scope is entered on this thread now: the caller's or a program's own,
// whichever was entered and not yet left.
bool is_inside_scope();

}  // namespace vell_qasm::passes::utils
