#include "vell_qasm/configurations/operation_identifier.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unordered_set>

#include "vell_qasm/errors.hpp"

using namespace vell_qasm::configurations;
using Slots = std::vector<OperationIdentifier::QubitSlot>;
using Qubits = std::vector<HwQubitIndex>;

namespace {

TEST(OperationIdentifierText, ReadsEveryForm) {
  struct Case {
    const char* text;
    OperationIdentifier expected;
    const char* canonical;
  };
  const Case cases[] = {
      {"x ?", OperationIdentifier("x", 0, {std::nullopt}), "x ?"},
      {"rx(1) ?", OperationIdentifier("rx", 1, {std::nullopt}), "rx(1) ?"},
      {"  cx   $0 ,$1  ", OperationIdentifier("cx", 0, {0, 1}), "cx $0, $1"},
      {"cz(0) $0, ?", OperationIdentifier("cz", 0, {0, std::nullopt}), "cz $0, ?"},
      {"measure ...", OperationIdentifier("measure", 0, {}, true), "measure ..."},
      {"u3 ( 3 ) ?, $12, ...", OperationIdentifier("u3", 3, {std::nullopt, 12}, true), "u3(3) ?, $12, ..."},
      {"gphase(1)", OperationIdentifier("gphase", 1, {}), "gphase(1)"},
      {"_op2", OperationIdentifier("_op2", 0, {}), "_op2"},
      {"\xce\xb8gate $3", OperationIdentifier("\xce\xb8gate", 0, {3}), "\xce\xb8gate $3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto id = OperationIdentifier::create_from_string(c.text);
    EXPECT_EQ(id, c.expected);
    EXPECT_EQ(id.text(), c.canonical);
    EXPECT_EQ(OperationIdentifier::create_from_string(id.text()), id);
  }
}

TEST(OperationIdentifierText, RefusesMalformedTextNamingTextAndExpectation) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"", "expected an operation name at the end"},
      {"  ", "expected an operation name at the end"},
      {"1x ?", "expected an operation name at column 1"},
      {"$0", "expected an operation name at column 1"},
      {"rx() ?", "expected the number of parameters at column 4"},
      {"rx(-1) ?", "expected the number of parameters at column 4"},
      {"rx(1 ?", "expected ')' after the number of parameters at column 6"},
      {"rx(1", "expected ')' after the number of parameters at the end"},
      {"rx(99999999999999999999) ?",
       "expected the number of parameters small enough to be held in 64 bits at column 4"},
      {"cx $0 $1", "expected ',' between qubits at column 7"},
      {"cx $0,", "expected a qubit ('$' and an index, or '?') or '...' at the end"},
      {"cx $a", "expected the index of a hardware qubit after '$' at column 5"},
      {"cx $-1", "expected the index of a hardware qubit after '$' at column 5"},
      {"cx $99999999999999999999", "small enough to be held in 64 bits at column 5"},
      {"cx q", "expected a qubit ('$' and an index, or '?') or '...' at column 4"},
      {"cx ,?", "expected a qubit ('$' and an index, or '?') or '...' at column 4"},
      {"m ..., ?", "expected the end of the text after '...' at column 6"},
      {"m ... ...", "expected the end of the text after '...' at column 7"},
      {"m ..", "expected a qubit ('$' and an index, or '?') or '...' at column 3"},
      {"x ? ;", "expected ',' between qubits at column 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      OperationIdentifier::create_from_string(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const vell_qasm::ValueError& e) {
      std::string message = e.what();
      EXPECT_THAT(message, testing::StartsWith("Malformed operation identifier '" + std::string(c.text) + "': "));
      EXPECT_THAT(message, testing::HasSubstr(c.expected));
    }
  }
}

TEST(OperationIdentifier, ConstructorRefusesNamesThatNoCallCarries) {
  for (const char* name : {"", "r x", "2x", "rx(1)"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(OperationIdentifier(name, 0, {}), vell_qasm::ValueError);
  }
}

TEST(OperationIdentifier, MatchesByNameCountAndQubits) {
  auto id = OperationIdentifier::create_from_string("cz(1) $0, ?");
  const Qubits q01{0, 1}, q07{0, 7}, q10{1, 0}, q0{0}, q012{0, 1, 2};
  EXPECT_TRUE(id.matches({"cz", q01, 1}));
  EXPECT_TRUE(id.matches({"cz", q07, 1}));
  EXPECT_FALSE(id.matches({"cz", q10, 1}));   // exact qubit in the wrong place
  EXPECT_FALSE(id.matches({"cz", q0, 1}));    // too few
  EXPECT_FALSE(id.matches({"cz", q012, 1}));  // too many
  EXPECT_FALSE(id.matches({"cz", q01, 0}));   // parameter count
  EXPECT_FALSE(id.matches({"cx", q01, 1}));   // name

  auto varying = OperationIdentifier::create_from_string("m $2, ...");
  const Qubits none{}, q2{2}, q25{2, 5}, q259{2, 5, 9}, q52{5, 2};
  EXPECT_FALSE(varying.matches({"m", none, 0}));
  EXPECT_TRUE(varying.matches({"m", q2, 0}));
  EXPECT_TRUE(varying.matches({"m", q25, 0}));
  EXPECT_TRUE(varying.matches({"m", q259, 0}));
  EXPECT_FALSE(varying.matches({"m", q52, 0}));

  auto open = OperationIdentifier::create_from_string("barrier ...");
  EXPECT_TRUE(open.matches({"barrier", none, 0}));
  EXPECT_TRUE(open.matches({"barrier", q259, 0}));
}

TEST(OperationIdentifier, ParametricQubitsInCallOrder) {
  auto fixed = OperationIdentifier::create_from_string("f ?, $3, ?");
  EXPECT_FALSE(fixed.is_varying_number_of_qubits());
  EXPECT_EQ(fixed.number_of_parametric_qubits(), 2u);
  EXPECT_EQ(fixed.get_parametric_qubits(Qubits{8, 3, 1}), (Qubits{8, 1}));

  auto exact = OperationIdentifier::create_from_string("cx $0, $1");
  EXPECT_EQ(exact.number_of_parametric_qubits(), 0u);
  EXPECT_EQ(exact.get_parametric_qubits(Qubits{0, 1}), Qubits{});

  auto varying = OperationIdentifier::create_from_string("g ?, $4, ...");
  EXPECT_TRUE(varying.is_varying_number_of_qubits());
  EXPECT_EQ(varying.get_parametric_qubits(Qubits{6, 4}), (Qubits{6}));
  EXPECT_EQ(varying.get_parametric_qubits(Qubits{6, 4, 2, 2, 0}), (Qubits{6, 2, 2, 0}));

  // Qubits that the identifier does not accept are refused, not cut or padded.
  EXPECT_THROW(fixed.get_parametric_qubits(Qubits{8, 3}), vell_qasm::ValueError);
  EXPECT_THROW(fixed.get_parametric_qubits(Qubits{8, 2, 1}), vell_qasm::ValueError);
  EXPECT_THROW(varying.get_parametric_qubits(Qubits{6}), vell_qasm::ValueError);
}

TEST(OperationIdentifier, ValueEqualityAndHash) {
  auto a = OperationIdentifier::create_from_string("rx(1) ?");
  std::unordered_set<OperationIdentifier> set{a, OperationIdentifier("rx", 1, {std::nullopt})};
  EXPECT_EQ(set.size(), 1u);
  for (const char* other : {"rx(2) ?", "rx(1) $0", "rx(1) ?, ?", "rx(1) ?, ...", "ry(1) ?", "rx(1)"}) {
    SCOPED_TRACE(other);
    auto b = OperationIdentifier::create_from_string(other);
    EXPECT_NE(a, b);
    set.insert(b);
  }
  EXPECT_EQ(set.size(), 7u);
}

TEST(OperationCandidate, TextShowsTheCall) {
  const Qubits q{0, 5};
  EXPECT_EQ(OperationCandidate("cx", q, 0).text(), "cx $0, $5");
  EXPECT_EQ(OperationCandidate("rx", Qubits{3}, 2).text(), "rx(2) $3");
  EXPECT_EQ(OperationCandidate("f", Qubits{}, 0).text(), "f");
}

}  // namespace
