#include <cmath>
#include <limits>
#include <vector>

#include "vell_test/tavo.hpp"

namespace tavo = vell::tavo;
using tavo::DType;
using tavo::Expr;
using tavo::Value;

namespace {

using vell_test::expect_throw;

// v0: int, v1: fixed, v2: bool, v3: int[3], v4: bool[2].
class Expressions : public ::testing::Test {
 protected:
  void SetUp() override {
    auto entered = scope.enter();
    i = tavo::declare(DType::Int, 0);
    f = tavo::declare(tavo::fixed, 0.0);
    b = tavo::declare(DType::Bool, false);
    arr = tavo::declare(DType::Int, std::vector<Value>{0, 0, 0});
    flags = tavo::declare(DType::Bool, std::vector<Value>{false, true});
  }
  tavo::ProgramScope scope = tavo::program();
  Expr i, f, b, arr, flags;
};

}  // namespace

TEST_F(Expressions, ResultTypesAndTexts) {
  struct Case {
    Expr expr;
    DType type;
    const char* text;
  };
  const std::vector<Case> cases = {
      {i + 1, DType::Int, "(v0 + 1)"},
      {1 - i, DType::Int, "(1 - v0)"},
      {i * 2.5, DType::Fixed, "(v0 * 2.5)"},
      {f - i, DType::Fixed, "(v1 - v0)"},
      {b + 1, DType::Int, "(v2 + 1)"},
      {i / 2, DType::Fixed, "(v0 / 2)"},
      {tavo::binary(tavo::BinaryOp::FloorDiv, i, 2), DType::Int, "(v0 // 2)"},
      {tavo::binary(tavo::BinaryOp::FloorDiv, 7, b), DType::Int, "(7 // v2)"},
      {i >> 1, DType::Int, "(v0 >> 1)"},
      {1 << i, DType::Int, "(1 << v0)"},
      {b & true, DType::Bool, "(v2 & true)"},
      {b | b, DType::Bool, "(v2 | v2)"},
      {i ^ b, DType::Int, "(v0 ^ v2)"},
      {i < f, DType::Bool, "(v0 < v1)"},
      {2.0 >= i, DType::Bool, "(2.0 >= v0)"},
      {b == 1, DType::Bool, "(v2 == 1)"},
      {~(i <= 3), DType::Bool, "~(v0 <= 3)"},
      {-b, DType::Int, "-v2"},
      {-(f + 1), DType::Fixed, "-(v1 + 1)"},
      {tavo::Math::sqrt(i), DType::Fixed, "Math.sqrt(v0)"},
      {tavo::Math::atan(0.5), DType::Fixed, "Math.atan(0.5)"},
      {tavo::Cast::to_int(f * 3), DType::Int, "Cast.to_int((v1 * 3))"},
      {tavo::Cast::to_fixed(2), DType::Fixed, "Cast.to_fixed(2)"},
      {tavo::Cast::to_bool(i), DType::Bool, "Cast.to_bool(v0)"},
      {arr[2], DType::Int, "v3[2]"},
      {flags[i + 1], DType::Bool, "v4[(v0 + 1)]"},
      {arr[i] * 1e-05, DType::Fixed, "(v3[v0] * 1e-05)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expr.text(), c.text);
    EXPECT_EQ(c.expr.dtype(), c.type) << c.text;
    EXPECT_EQ(c.expr.is_fixed(), c.type == DType::Fixed) << c.text;
    EXPECT_TRUE(c.expr.is_scalar()) << c.text;
    EXPECT_FALSE(c.expr.is_variable()) << c.text;
  }
  EXPECT_TRUE(i.is_variable());
  EXPECT_TRUE(arr.is_array());
  EXPECT_FALSE(arr.is_scalar());
  EXPECT_EQ(arr.dtype(), DType::Int);
  EXPECT_TRUE(arr[0].is_cell());
  EXPECT_EQ(tavo::binary(tavo::BinaryOp::Eq, Value(2), Value(i)).text(), "(2 == v0)");
  EXPECT_EQ(tavo::text(Value(-0.0)), "-0.0");
  EXPECT_EQ(tavo::text(Value(1e16)), "1e+16");
  EXPECT_EQ(tavo::dtype_of(Value(std::int64_t{7})), DType::Int);
  EXPECT_EQ(tavo::text(tavo::zero(tavo::fixed)), "0.0");
}

TEST_F(Expressions, OperandRulesRefuseWhatTheyDoNotDefine) {
  using tavo::TavoTypeError;
  using tavo::TavoValueError;
  expect_throw<TavoTypeError>([&] { (void)(f & 1); }, "operator &: needs bool or int operands, got fixed expression v1");
  expect_throw<TavoTypeError>([&] { (void)(i << 1.5); }, "operator <<: needs int operands, got fixed value 1.5");
  expect_throw<TavoValueError>([&] { (void)(i >> 64); }, "operator >>: shift count 64 is outside 0..63");
  expect_throw<TavoValueError>([&] { (void)(i << -1); }, "operator <<: shift count -1 is outside 0..63");
  expect_throw<TavoValueError>([&] { (void)(f / 0); }, "operator /: division by zero");
  expect_throw<TavoValueError>([&] { (void)(i / 0.0); }, "operator /: division by zero");
  expect_throw<TavoValueError>([&] { (void)tavo::binary(tavo::BinaryOp::FloorDiv, i, 0); },
                               "operator //: division by zero");
  expect_throw<TavoTypeError>([&] { (void)tavo::binary(tavo::BinaryOp::FloorDiv, f, 2); },
                              "operator //: needs int operands, got fixed expression v1");
  expect_throw<TavoTypeError>([&] { (void)~i; },
                              "operator ~: is boolean negation and needs a bool operand, got int expression v0");
  expect_throw<TavoTypeError>([&] { (void)tavo::binary(tavo::BinaryOp::Add, Value(1), Value(2)); },
                              "operator +: needs an SDK expression on at least one side, got two plain values 1 and 2");
  expect_throw<TavoTypeError>([&] { (void)tavo::unary(tavo::UnaryOp::Neg, Value(true)); },
                              "operator -: needs an SDK expression, got the plain value true");
  expect_throw<TavoValueError>([&] { (void)(i + std::numeric_limits<double>::infinity()); },
                               "operator +: a fixed value must be finite, got inf");
  expect_throw<TavoValueError>([&] { (void)tavo::Cast::to_fixed(std::nan("")); },
                               "Cast.to_fixed: a fixed value must be finite, got nan");
  expect_throw<TavoTypeError>([&] { (void)(arr + 1); },
                              "operator +: array variable v3 is not a scalar; index it to use one cell");
  expect_throw<TavoValueError>([&] { (void)(Expr() == 1); }, "operator ==: empty expression handle");
  expect_throw<TavoValueError>([&] { (void)Expr().dtype(); }, "dtype: empty expression handle");
  expect_throw<TavoValueError>([&] { (void)tavo::Math::sqrt(-1); },
                               "Math.sqrt: argument -1 is outside the function's domain");
  expect_throw<TavoValueError>([&] { (void)tavo::Math::ln(0.0); },
                               "Math.ln: argument 0.0 is outside the function's domain");
  expect_throw<TavoTypeError>([&] { (void)tavo::Math::apply(tavo::MathFunction::Cos, {}); },
                              "Math.cos: takes exactly 1 argument, got 0");
  expect_throw<TavoValueError>([&] { (void)tavo::Cast::to_int(1e19); }, "Cast.to_int: 1e+19 does not fit an int");
  // Expressions over an SDK variable stay unchecked at build time: the controller computes them.
  EXPECT_EQ(tavo::Math::ln(i - 5).text(), "Math.ln((v0 - 5))");
  EXPECT_EQ((i >> (i + 70)).dtype(), DType::Int);
}

TEST_F(Expressions, IndexingTakesIntegersWithinTheArray) {
  using tavo::TavoTypeError;
  using tavo::TavoValueError;
  expect_throw<TavoValueError>([&] { (void)arr[3]; }, "operator []: index 3 is outside v3 of size 3");
  expect_throw<TavoValueError>([&] { (void)arr[-1]; }, "operator []: index -1 is outside v3 of size 3");
  expect_throw<TavoTypeError>([&] { (void)arr[true]; },
                              "operator []: index into v3 must be an integer, got bool value true");
  expect_throw<TavoTypeError>([&] { (void)arr[1.0]; },
                              "operator []: index into v3 must be an integer, got fixed value 1.0");
  expect_throw<TavoTypeError>([&] { (void)arr[f]; },
                              "operator []: index into v3 must be an integer, got fixed expression v1");
  expect_throw<TavoTypeError>([&] { (void)arr[b]; },
                              "operator []: index into v3 must be an integer, got bool expression v2");
  expect_throw<TavoTypeError>([&] { (void)arr[flags]; },
                              "operator []: array variable v4 is not a scalar; index it to use one cell");
  expect_throw<TavoTypeError>([&] { (void)i[0]; }, "operator []: v0 is not an array variable");
  expect_throw<TavoTypeError>([&] { (void)arr[0][0]; }, "operator []: v3[0] is not an array variable");
  expect_throw<TavoValueError>([&] { (void)Expr()[0]; }, "operator []: empty expression handle");
  EXPECT_EQ(arr[arr[0]].text(), "v3[v3[0]]");
}

TEST_F(Expressions, VariablesOfTwoProgramsDoNotMix) {
  auto other = tavo::program();
  Expr j;
  {
    auto entered = other.enter();
    j = tavo::declare(DType::Int, 0);
  }
  expect_throw<tavo::TavoProgramError>([&] { (void)(i + j); },
                                       "operator +: combines variables of two different programs");
  expect_throw<tavo::TavoProgramError>([&] { (void)arr[j]; },
                                       "operator []: combines variables of two different programs");
  // Plain operands belong to no program.
  EXPECT_EQ((tavo::Math::sqrt(2) + j).text(), "(Math.sqrt(2) + v0)");
}

TEST_F(Expressions, NestingIsBounded) {
  Expr e = i;
  for (int depth = 1; depth < tavo::kMaxExpressionDepth; ++depth) e = e + 1;
  expect_throw<tavo::TavoValueError>([&] { (void)(e + 1); }, "operator +: expression nests deeper than 2000 levels");
  expect_throw<tavo::TavoValueError>([&] { (void)tavo::Math::sin(e); },
                                     "Math.sin: expression nests deeper than 2000 levels");
  EXPECT_EQ(e.text().size(), 2 + 1999 * 6);  // "(" * 1999 + "v0" + " + 1)" * 1999
}

// Operands handed over (Value&&) build what copied operands build, the moved expression living on
// in the new one; a refused operator leaves handed-over operands as they were.
TEST_F(Expressions, HandedOverOperandsBuildTheSameExpressions) {
  using tavo::BinaryOp;
  struct Case {
    BinaryOp op;
    Value lhs, rhs;
    const char* text;
  };
  const std::vector<Case> cases = {
      {BinaryOp::Add, i + 1, 2, "((v0 + 1) + 2)"},
      {BinaryOp::Mul, 2.5, f, "(2.5 * v1)"},
      {BinaryOp::FloorDiv, arr[1], i, "(v3[1] // v0)"},
      {BinaryOp::And, b, flags[0], "(v2 & v4[0])"},
  };
  for (const Case& c : cases) {
    Value lhs = c.lhs, rhs = c.rhs;
    const Expr copied = tavo::binary(c.op, c.lhs, c.rhs);
    const Expr moved = tavo::binary(c.op, std::move(lhs), std::move(rhs));
    EXPECT_EQ(moved.text(), c.text);
    EXPECT_EQ(moved.text(), copied.text());
    EXPECT_EQ(moved.dtype(), copied.dtype());
  }
  Value negated = i + 1;
  EXPECT_EQ(tavo::unary(tavo::UnaryOp::Neg, std::move(negated)).text(), "-(v0 + 1)");

  Value kept = f + 1, zero = 0;
  expect_throw<tavo::TavoValueError>([&] { (void)tavo::binary(BinaryOp::Div, std::move(kept), std::move(zero)); },
                                     "operator /: division by zero");
  EXPECT_EQ(tavo::text(kept), "(v1 + 1)");
  EXPECT_EQ(tavo::text(zero), "0");
  Value not_bool = i;
  expect_throw<tavo::TavoTypeError>([&] { (void)tavo::unary(tavo::UnaryOp::Inv, std::move(not_bool)); },
                                    "operator ~: is boolean negation and needs a bool operand, got int expression v0");
  EXPECT_EQ(tavo::text(not_bool), "v0");
}
