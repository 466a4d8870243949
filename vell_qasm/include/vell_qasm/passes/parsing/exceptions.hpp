// ParsingException: the one type by which an embedding application catches every failure of the
// front end's parsing at once (a source that does not parse, includes nested too deep, an included
// file that declares a version).
//
// It carries nothing: built without arguments its text is empty. Subclasses bring their own
// fields and message; nothing in the compiler catches it or reads from it.
#pragma once

#include <exception>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {

class ParsingException : public std::exception, public HasLocation {
 public:
  ParsingException() = default;
  const char* what() const noexcept override { return ""; }
};

}  // namespace vell_qasm::passes::parsing
