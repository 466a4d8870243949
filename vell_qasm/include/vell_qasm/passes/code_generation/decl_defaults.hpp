// get_variable_to_init: the one mapping from an OpenQASM classical type node to the TAVO variable
// wrapper that holds a variable of that type. It decides scalar or array, the element type and
// the array size, and refuses every type the TAVO side cannot hold.
//
//   bit, bool                      scalar of bool         int[w], uint[w]     scalar of int
//   bit[n] (n an integer literal)  bool array of size n   float[w], duration, stretch   scalar of fixed
//   array[T, n] (n a literal >= 1) array of size n, element int (int, uint), fixed (float,
//                                  stretch, duration) or bool (bit, bool)
//
// Widths are never read. The wrapper is fresh and undeclared: nothing is emitted here.
//
// Traps:
// - Sizes must already be integer literals: a named constant or an expression as size is
//   refused (constant inlining and folding make literals of them, and run first).
// - bit[0] passes (an empty array), while array[T, 0] is refused: the two size checks differ on
//   purpose, as the mapping has always done. A negative bit size, and any size above
//   kMaxArraySize, is ArraySizeOutOfRangeException.
// - Which refusal is raised matters: a multi-dimensional array or an array of an unsupported
//   element type is the bare UnsupportedDeclarationException, whose text is only the name.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "openqasm3/ast.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/tavo_var.hpp"

namespace vell_qasm::passes::code_generation {

// The declared type of every type-node argument here and in io_binding.
using InitType = openqasm3::ast::ClassicalType;

// A declaration the TAVO side cannot hold. On its own its text is the variable's name.
class UnsupportedDeclarationException : public std::exception, public HasLocation {
 public:
  explicit UnsupportedDeclarationException(std::string name_) : name(std::move(name_)), message_(name) {}
  const char* what() const noexcept override { return message_.c_str(); }

  const std::string name;

 protected:
  UnsupportedDeclarationException(std::string name_, std::string message)
      : name(std::move(name_)), message_(std::move(message)) {}

 private:
  std::string message_;
};

// An array type the TAVO side cannot hold (several dimensions, an unsupported element type). Its
// text is the bare name, as for its base; `reason` says what is refused, `node_type` is the type.
class UnsupportedArrayException : public UnsupportedDeclarationException {
 public:
  UnsupportedArrayException(std::string name_, openqasm3::ast::NodePtr node_type_, std::string reason_)
      : UnsupportedDeclarationException(std::move(name_)),
        node_type(std::move(node_type_)),
        reason(std::move(reason_)) {}

  const openqasm3::ast::NodePtr node_type;
  // "multi-dimensional arrays are not supported"
  const std::string reason;

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node_type.get(); }
};

// "When declaring 'x' got type AngleType(...) which is not supported."
class UnsupportedTypeException : public UnsupportedDeclarationException {
 public:
  UnsupportedTypeException(std::string name_, openqasm3::ast::Ptr<InitType> node_type_);

  const openqasm3::ast::Ptr<InitType> node_type;

 protected:
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node_type.get(); }
};

// "When declaring 'x' got size of Identifier(...), Array size currently supports only literal
// integers."
class InvalidArraySizeException : public UnsupportedDeclarationException {
 public:
  InvalidArraySizeException(std::string name_, openqasm3::ast::ExprPtr array_size_);

  const openqasm3::ast::ExprPtr array_size;

 protected:
  InvalidArraySizeException(std::string name_, openqasm3::ast::ExprPtr array_size_, std::string message);
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return array_size.get(); }
};

// The most elements a bit register or an array may have: each element is a value the listing
// writes and the controller holds, so a register of a billion bits is refused rather than
// exhausting memory.
inline constexpr std::int64_t kMaxArraySize = 1'000'000;

// "When declaring 'c' got size -5: a bit register holds 0 to 1000000 bits" (an array: 1 to
// 1000000 elements). `array_size` is the literal.
class ArraySizeOutOfRangeException : public InvalidArraySizeException {
 public:
  ArraySizeOutOfRangeException(std::string name_, openqasm3::ast::ExprPtr array_size_, bool bit_register);
};

// A new undeclared wrapper for a variable `name` of type `node_type`, or one of the three
// exceptions above. A null `node_type` is refused as an unsupported type.
tavo_var::TavoVarPtr get_variable_to_init(const std::string& name, const openqasm3::ast::Ptr<InitType>& node_type);

}  // namespace vell_qasm::passes::code_generation
