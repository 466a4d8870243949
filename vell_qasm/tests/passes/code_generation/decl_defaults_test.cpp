#include "vell_qasm/passes/code_generation/decl_defaults.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "openqasm3/parser.hpp"

namespace vell_qasm::passes::code_generation {
namespace {

namespace ast = openqasm3::ast;
using tavo_var::DType;
using tavo_var::TavoArr;
using tavo_var::TavoVar;

// The type node of the declaration `type_text x;`.
ast::Ptr<InitType> type_of(const std::string& type_text) {
  auto root = openqasm3::parse(type_text + " x;");
  return ast::dyn_cast<ast::ClassicalDeclaration>(root->statements.at(0))->type;
}

ast::Ptr<ast::ArrayType> array_of(ast::Ptr<InitType> base, std::vector<ast::ExprPtr> dimensions) {
  return ast::make<ast::ArrayType>(std::move(base), std::move(dimensions));
}

TEST(GetVariableToInit, ChoosesScalarOrArrayElementTypeAndSize) {
  struct Case {
    const char* type;
    DType dtype;
    long size;  // -1: a scalar
  };
  const Case cases[] = {
      {"bool", DType::Bool, -1},
      {"bit", DType::Bool, -1},
      {"bit[1]", DType::Bool, 1},
      {"bit[5]", DType::Bool, 5},
      {"int", DType::Int, -1},
      {"int[64]", DType::Int, -1},
      {"uint[8]", DType::Int, -1},
      {"float", vell::tavo::fixed, -1},
      {"float[32]", vell::tavo::fixed, -1},
      {"duration", vell::tavo::fixed, -1},
      {"stretch", vell::tavo::fixed, -1},
      {"array[float[64], 4]", vell::tavo::fixed, 4},
      {"array[uint[8], 3]", DType::Int, 3},
      {"array[int, 1]", DType::Int, 1},
      {"array[bool, 2]", DType::Bool, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    auto var = get_variable_to_init("v", type_of(c.type));
    ASSERT_NE(var, nullptr);
    EXPECT_EQ(var->name(), "v");
    EXPECT_EQ(var->dtype, c.dtype);
    if (c.size < 0) {
      EXPECT_NE(std::dynamic_pointer_cast<TavoVar>(var), nullptr);
    } else {
      auto arr = std::dynamic_pointer_cast<TavoArr>(var);
      ASSERT_NE(arr, nullptr);
      EXPECT_EQ(arr->size, c.size);
    }
    // Fresh and undeclared.
    EXPECT_THROW((void)var->tavo_value_exp(), tavo_var::FetchingUndeclaredVariableException);
  }
  EXPECT_NE(get_variable_to_init("v", type_of("int")), get_variable_to_init("v", type_of("int")));
  // The width or size of the element type is not read (the parser refuses this one).
  auto bits = get_variable_to_init("v", array_of(ast::make<ast::BitType>(ast::make<ast::IntegerLiteral>(8)),
                                                 {ast::make<ast::IntegerLiteral>(2)}));
  EXPECT_EQ(bits->dtype, DType::Bool);
  EXPECT_EQ(std::dynamic_pointer_cast<TavoArr>(bits)->size, 2);
  for (ast::Ptr<InitType> base :
       {ast::Ptr<InitType>(ast::make<ast::DurationType>()), ast::Ptr<InitType>(ast::make<ast::StretchType>())}) {
    auto timing = get_variable_to_init("v", array_of(base, {ast::make<ast::IntegerLiteral>(2)}));
    EXPECT_EQ(timing->dtype, vell::tavo::fixed);
    EXPECT_NE(std::dynamic_pointer_cast<TavoArr>(timing), nullptr);
  }
}

template <class E, class F>
E expect_exception(F&& call, const std::string& message) {
  try {
    call();
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
    return e;
  }
  ADD_FAILURE() << "no " << message;
  throw std::logic_error("unreachable");
}

TEST(GetVariableToInit, SizesStayWithinWhatTheControllerHolds) {
  // bit[0] is an empty register; a negative size, or one above the bound, is refused with the
  // literal (or, for a folded literal without position, a copy at its type's position).
  for (std::int64_t size : {std::int64_t{0}, kMaxArraySize}) {
    auto arr = std::dynamic_pointer_cast<TavoArr>(
        get_variable_to_init("c", ast::make<ast::BitType>(ast::make<ast::IntegerLiteral>(size))));
    ASSERT_NE(arr, nullptr);
    EXPECT_EQ(arr->size, size);
  }
  EXPECT_EQ(std::dynamic_pointer_cast<TavoArr>(get_variable_to_init("a", type_of("array[int, 1000000]")))->size,
            kMaxArraySize);

  struct Case {
    std::string type;
    std::string message;
  };
  for (const auto& c : std::vector<Case>{
           {"bit[1000001]", "When declaring 'c' got size 1000001: a bit register holds 0 to 1000000 bits"},
           {"bit[9223372036854775807]",
            "When declaring 'c' got size 9223372036854775807: a bit register holds 0 to 1000000 bits"},
           {"array[bool, 1000000000]", "When declaring 'c' got size 1000000000: an array holds 1 to 1000000 elements"},
       }) {
    auto type = type_of(c.type);
    auto e = expect_exception<ArraySizeOutOfRangeException>([&] { get_variable_to_init("c", type); }, c.message);
    EXPECT_EQ(e.name, "c");
    ASSERT_NE(e.array_size, nullptr);
    EXPECT_TRUE(e.array_size->span.has_value());
  }
  auto folded = ast::make<ast::BitType>(ast::make<ast::IntegerLiteral>(-5));
  folded->span = ast::Span{3, 4, 3, 9};
  auto e = expect_exception<ArraySizeOutOfRangeException>(
      [&] { get_variable_to_init("c", folded); }, "When declaring 'c' got size -5: a bit register holds 0 to 1000000 bits");
  EXPECT_EQ(e.array_size->span, folded->span);
}

TEST(GetVariableToInit, SizesMustBeIntegerLiterals) {
  auto n = ast::make<ast::Identifier>("n");
  auto e = expect_exception<InvalidArraySizeException>(
      [&] { get_variable_to_init("c", ast::make<ast::BitType>(n)); },
      "When declaring 'c' got size of Identifier(span=None, name='n'), Array size currently supports only literal "
      "integers.");
  EXPECT_EQ(e.name, "c");
  EXPECT_EQ(e.array_size, n);

  auto zero = ast::make<ast::IntegerLiteral>(0);
  auto z = expect_exception<InvalidArraySizeException>(
      [&] { get_variable_to_init("a", array_of(ast::make<ast::IntType>(nullptr), {zero})); },
      "When declaring 'a' got size of IntegerLiteral(span=None, value=0), Array size currently supports only literal "
      "integers.");
  EXPECT_EQ(z.array_size, zero);

  EXPECT_THROW(
      get_variable_to_init("a", array_of(ast::make<ast::IntType>(nullptr), {ast::make<ast::IntegerLiteral>(-2)})),
      InvalidArraySizeException);
  EXPECT_THROW(get_variable_to_init("a", type_of("array[int, 1 + 1]")), InvalidArraySizeException);
  EXPECT_THROW(get_variable_to_init("a", array_of(ast::make<ast::IntType>(nullptr), {nullptr})),
               InvalidArraySizeException);
  // The dimension is checked before the element type.
  EXPECT_THROW(get_variable_to_init("a", array_of(ast::make<ast::AngleType>(nullptr), {n})), InvalidArraySizeException);
}

TEST(GetVariableToInit, RefusalsKeepTheirKindAndObjects) {
  // The bare kind: its text is only the name.
  for (const char* type : {"array[int[32], 2, 3]", "array[angle[8], 2]", "array[complex[float[64]], 2]"}) {
    SCOPED_TRACE(type);
    try {
      get_variable_to_init("m", type_of(type));
      ADD_FAILURE();
    } catch (const InvalidArraySizeException&) {
      ADD_FAILURE() << "wrong kind";
    } catch (const UnsupportedTypeException&) {
      ADD_FAILURE() << "wrong kind";
    } catch (const UnsupportedDeclarationException& e) {
      EXPECT_EQ(std::string(e.what()), "m");
      EXPECT_EQ(e.name, "m");
    }
  }
  // Which also says, to a reader of failures, what is refused.
  try {
    get_variable_to_init("m", type_of("array[int[32], 2, 3]"));
  } catch (const UnsupportedArrayException& e) {
    EXPECT_EQ(e.reason, "arrays of 2 dimensions are not supported, only of one");
    EXPECT_NE(e.node_type, nullptr);
  }
  EXPECT_THROW(get_variable_to_init("m", array_of(ast::make<ast::IntType>(nullptr), {})),
               UnsupportedDeclarationException);

  auto angle = ast::make<ast::AngleType>(ast::make<ast::IntegerLiteral>(8));
  auto e = expect_exception<UnsupportedTypeException>(
      [&] { get_variable_to_init("t", angle); },
      "When declaring 't' got type AngleType(span=None, size=IntegerLiteral(span=None, value=8)) which is not "
      "supported.");
  EXPECT_EQ(e.node_type, angle);
  EXPECT_EQ(e.name, "t");
  EXPECT_THROW(get_variable_to_init("z", type_of("complex[float[64]]")), UnsupportedTypeException);
  EXPECT_THROW(get_variable_to_init("z", nullptr), UnsupportedTypeException);
  // Every refusal is an UnsupportedDeclarationException to a caller that catches the family.
  EXPECT_THROW(get_variable_to_init("z", type_of("angle")), UnsupportedDeclarationException);
  EXPECT_THROW(get_variable_to_init("c", ast::make<ast::BitType>(ast::make<ast::Identifier>("n"))),
               UnsupportedDeclarationException);
}

}  // namespace
}  // namespace vell_qasm::passes::code_generation
