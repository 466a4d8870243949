#include "vell_qasm/passes/code_generation/decl_defaults.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;
using tavo_var::DType;
using tavo_var::TavoArr;
using tavo_var::TavoVar;
using tavo_var::TavoVarPtr;

UnsupportedTypeException::UnsupportedTypeException(std::string name_, ast::Ptr<InitType> node_type_)
    : UnsupportedDeclarationException(
          name_, "When declaring '" + name_ + "' got type " + ast::repr(node_type_) + " which is not supported."),
      node_type(std::move(node_type_)) {}

InvalidArraySizeException::InvalidArraySizeException(std::string name_, ast::ExprPtr array_size_)
    : UnsupportedDeclarationException(name_, "When declaring '" + name_ + "' got size of " + ast::repr(array_size_) +
                                                 ", Array size currently supports only literal integers."),
      array_size(std::move(array_size_)) {}

InvalidArraySizeException::InvalidArraySizeException(std::string name_, ast::ExprPtr array_size_, std::string message)
    : UnsupportedDeclarationException(std::move(name_), std::move(message)), array_size(std::move(array_size_)) {}

namespace {

std::string size_text(const ast::ExprPtr& size) {
  return std::to_string(static_cast<const ast::IntegerLiteral&>(*size).value);
}

// The size literal as the refusal carries it: a literal made by folding (bit[-5]) has no source
// position, so it takes its type's.
ast::ExprPtr located(const ast::ExprPtr& size, const ast::QASMNode& type) {
  if (size->span || !type.span) return size;
  auto copy = ast::make<ast::IntegerLiteral>(static_cast<const ast::IntegerLiteral&>(*size).value);
  copy->span = type.span;
  return copy;
}

}  // namespace

ArraySizeOutOfRangeException::ArraySizeOutOfRangeException(std::string name_, ast::ExprPtr array_size_,
                                                           bool bit_register)
    : InvalidArraySizeException(name_, array_size_,
                                "When declaring '" + name_ + "' got size " + size_text(array_size_) +
                                    (bit_register ? ": a bit register holds 0 to " : ": an array holds 1 to ") +
                                    std::to_string(kMaxArraySize) + (bit_register ? " bits" : " elements")) {}

namespace {

// The element type of an array's base type, or nullopt when arrays of it are not supported.
std::optional<DType> array_element_type(const ast::QASMNode* base) {
  if (!base) return std::nullopt;
  switch (base->library_kind()) {
    case ast::NodeKind::IntType:
    case ast::NodeKind::UintType:
      return DType::Int;
    case ast::NodeKind::FloatType:
    case ast::NodeKind::StretchType:
    case ast::NodeKind::DurationType:
      return vell::tavo::fixed;
    case ast::NodeKind::BitType:
    case ast::NodeKind::BoolType:
      return DType::Bool;
    default:
      return std::nullopt;
  }
}

TavoVarPtr array_variable(const std::string& name, const ast::ArrayType& node, const ast::Ptr<InitType>& type) {
  if (node.dimensions.size() != 1)
    throw UnsupportedArrayException(name, type, "arrays of " + std::to_string(node.dimensions.size()) +
                                                    " dimensions are not supported, only of one");
  const ast::ExprPtr& dimension = node.dimensions[0];
  if (!dimension || !ast::isa<ast::IntegerLiteral>(*dimension))
    throw InvalidArraySizeException(name, dimension);
  const std::int64_t size = static_cast<const ast::IntegerLiteral&>(*dimension).value;
  if (size < 1) throw InvalidArraySizeException(name, dimension);
  if (size > kMaxArraySize) throw ArraySizeOutOfRangeException(name, located(dimension, node), false);
  auto dtype = array_element_type(node.base_type.get());
  if (!dtype)
    throw UnsupportedArrayException(name, type,
                                    "arrays of " + (node.base_type ? std::string(node.base_type->class_name()) :
                                                                     std::string("no element type")) +
                                        " elements are not supported (int, uint, float, duration, stretch, bit "
                                        "and bool are)");
  return std::make_shared<TavoArr>(name, *dtype, size);
}

}  // namespace

TavoVarPtr get_variable_to_init(const std::string& name, const ast::Ptr<InitType>& node_type) {
  switch (node_type ? node_type->library_kind() : ast::NodeKind::External) {
    case ast::NodeKind::BitType: {
      const ast::ExprPtr& size = static_cast<const ast::BitType&>(*node_type).size;
      if (size) {
        if (!ast::isa<ast::IntegerLiteral>(*size)) throw InvalidArraySizeException(name, size);
        // Unlike arrays, bit[0] is an empty register.
        const std::int64_t bits = static_cast<const ast::IntegerLiteral&>(*size).value;
        if (bits < 0 || bits > kMaxArraySize) throw ArraySizeOutOfRangeException(name, located(size, *node_type), true);
        return std::make_shared<TavoArr>(name, DType::Bool, bits);
      }
      return std::make_shared<TavoVar>(name, DType::Bool);
    }
    case ast::NodeKind::BoolType:
      return std::make_shared<TavoVar>(name, DType::Bool);
    case ast::NodeKind::IntType:
    case ast::NodeKind::UintType:
      return std::make_shared<TavoVar>(name, DType::Int);
    case ast::NodeKind::FloatType:
    case ast::NodeKind::DurationType:
    case ast::NodeKind::StretchType:
      return std::make_shared<TavoVar>(name, vell::tavo::fixed);
    case ast::NodeKind::ArrayType:
      return array_variable(name, static_cast<const ast::ArrayType&>(*node_type), node_type);
    default:
      throw UnsupportedTypeException(name, node_type);
  }
}

}  // namespace vell_qasm::passes::code_generation
