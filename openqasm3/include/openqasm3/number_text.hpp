// Number texts shared by the repr, the printer and the compiler's messages.
#pragma once

#include <string>

namespace openqasm3 {

// The shortest text that reads back to the same double, laid out as the reference front end's
// host writes reals: 1.0, 0.1, 1000000000000000.0, 1e+16, 1.5e-05, -0.0, inf, -inf, nan.
std::string float_text(double value);

}  // namespace openqasm3
