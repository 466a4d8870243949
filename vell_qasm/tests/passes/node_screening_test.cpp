#include "vell_qasm/passes/node_screening.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {
namespace {

namespace ast = openqasm3::ast;
using configurations::create_hw_qubit;

// qubit[2] q;  if (true) { rx(f(1)) $0; }  include "stdgates.inc";
struct Tree {
  ast::Ptr<ast::FunctionCall> call = ast::make<ast::FunctionCall>(
      ast::make<ast::Identifier>("f"), std::vector<ast::ExprPtr>{ast::make<ast::IntegerLiteral>(1)});
  ast::Ptr<ast::QuantumGate> gate =
      ast::make<ast::QuantumGate>(std::vector<ast::Ptr<ast::QuantumGateModifier>>{}, ast::make<ast::Identifier>("rx"),
                                  std::vector<ast::ExprPtr>{call}, std::vector<ast::NodePtr>{create_hw_qubit(0)});
  ast::Ptr<ast::BranchingStatement> branch = ast::make<ast::BranchingStatement>(
      ast::make<ast::BooleanLiteral>(true), std::vector<ast::StmtPtr>{gate}, std::vector<ast::StmtPtr>{});
  ast::Ptr<ast::Include> include = ast::make<ast::Include>("stdgates.inc");
  ast::Ptr<ast::Program> root = ast::make<ast::Program>(
      std::vector<ast::NodePtr>{
          ast::make<ast::QubitDeclaration>(ast::make<ast::Identifier>("q"), ast::make<ast::IntegerLiteral>(2)),
          branch, include},
      "3.0");
  programs::ProgramPtr program = std::make_shared<programs::OpenQasmProgram>(root);
};

// Refuses the nodes of the named classes and writes down every class it is asked about.
AllowedNodeScreening::Criterion refusing(std::vector<std::string_view> refused, std::vector<std::string>& seen) {
  return [refused, &seen](const ast::QASMNode& node) {
    seen.emplace_back(node.class_name());
    return std::find(refused.begin(), refused.end(), node.class_name()) == refused.end();
  };
}

template <class E> ast::NodePtr refused_node(Step& step, const programs::ProgramPtr& program) {
  try {
    step(program);
  } catch (const E& e) {
    return e.node;
  }
  ADD_FAILURE() << "no node was refused";
  return nullptr;
}

TEST(NodeScreening, WalksRootFirstDepthFirstAndStopsAtTheFirstRefusal) {
  Tree t;
  std::vector<std::string> seen;
  AllowedNodeScreening screening(refusing({"FunctionCall", "Include"}, seen));
  EXPECT_EQ(refused_node<InvalidFeatureException>(screening, t.program), t.call);
  EXPECT_EQ(seen, (std::vector<std::string>{"Program", "QubitDeclaration", "Identifier", "IntegerLiteral",
                                            "BranchingStatement", "BooleanLiteral", "QuantumGate", "Identifier",
                                            "FunctionCall"}));

  // A refused parent is reported before anything inside it.
  seen.clear();
  AllowedNodeScreening parents(refusing({"FunctionCall", "BranchingStatement"}, seen));
  EXPECT_EQ(refused_node<InvalidFeatureException>(parents, t.program), t.branch);
  EXPECT_EQ(seen.back(), "BranchingStatement");
}

TEST(NodeScreening, AcceptedProgramComesBackAsTheVeryObjectAndHardwareQubitsAreScreenedToo) {
  Tree t;
  std::vector<std::string> seen;
  AllowedNodeScreening screening(refusing({}, seen));
  EXPECT_EQ(screening(t.program), t.program);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "HwQubit"), seen.end());
  EXPECT_EQ(seen.back(), "Include");
  EXPECT_EQ(t.root->statements.size(), 3u);
}

TEST(NodeScreening, SwitchCasesAndInnerIndexListsAreScreenedToo) {
  // switch (x) { case 1 { f(1); } }  and  reset q[g(2)];
  auto call_in_case = ast::make<ast::FunctionCall>(ast::make<ast::Identifier>("f"), std::vector<ast::ExprPtr>{});
  auto block = ast::make<ast::CompoundStatement>(
      std::vector<ast::StmtPtr>{ast::make<ast::ExpressionStatement>(call_in_case)});
  auto sw = ast::make<ast::SwitchStatement>(
      ast::make<ast::Identifier>("x"),
      std::vector<ast::SwitchCase>{{{ast::make<ast::IntegerLiteral>(1)}, block}}, nullptr);
  auto call_in_index = ast::make<ast::FunctionCall>(ast::make<ast::Identifier>("g"), std::vector<ast::ExprPtr>{});
  auto reset = ast::make<ast::QuantumReset>(ast::make<ast::IndexedIdentifier>(
      ast::make<ast::Identifier>("q"), std::vector<ast::IndexElement>{ast::IndexList{call_in_index}}));
  std::vector<std::string> seen;
  AllowedNodeScreening screening(refusing({"FunctionCall"}, seen));
  auto in_program = [](ast::StmtPtr s) {
    return std::make_shared<programs::OpenQasmProgram>(ast::make<ast::Program>(std::vector<ast::NodePtr>{s}));
  };
  EXPECT_EQ(refused_node<InvalidFeatureException>(screening, in_program(sw)), call_in_case);
  EXPECT_EQ(refused_node<InvalidFeatureException>(screening, in_program(reset)), call_in_index);
}

TEST(NodeScreening, NamesAndMessages) {
  EXPECT_EQ(AllowedNodeScreening([](const ast::QASMNode&) { return true; }).name, "AllowedNodeScreening");
  EXPECT_EQ(AllowedNodeTypesValidator(std::make_shared<NodeClassSet>()).name, "AllowedNodeTypesValidator");

  auto literal = ast::make<ast::IntegerLiteral>(3);
  EXPECT_STREQ(InvalidFeatureException(literal).what(),
               "The node IntegerLiteral(span=None, value=3) contains an invalid feature.");
  const std::string disallowed =
      "Nodes of type <class 'openqasm3.ast.IntegerLiteral'> are not allowed, either because they are not "
      "supported or because they were removed during the compilation process.";
  EXPECT_EQ(DisallowedNodeTypeException(literal).what(), disallowed);
  EXPECT_EQ(DisallowedNodeTypeException(ast::make<ast::IntegerLiteral>(9)).what(), disallowed);
  EXPECT_STREQ(DisallowedNodeTypeException(create_hw_qubit(4)).what(),
               "Nodes of type <class 'vell_qasm.configurations.hw_qubit.HwQubit'> are not allowed, either because "
               "they are not supported or because they were removed during the compilation process.");
  EXPECT_STREQ(InvalidFeatureException(nullptr).what(), "The node None contains an invalid feature.");
  EXPECT_NE(std::string(DisallowedNodeTypeException(nullptr).what()).find("<class 'NoneType'>"), std::string::npos);
}

TEST(NodeTypesValidator, ComparesExactClassesThroughTheSharedSet) {
  Tree t;
  auto allowed = std::make_shared<NodeClassSet>();
  AllowedNodeTypesValidator validator(allowed);
  EXPECT_EQ(refused_node<DisallowedNodeTypeException>(validator, t.program), t.root);

  for (const ast::NodeClass& c :
       {ast::node_class_of<ast::Program>(), ast::node_class_of<ast::QubitDeclaration>(),
        ast::node_class_of<ast::Identifier>(), ast::node_class_of<ast::IntegerLiteral>(),
        ast::node_class_of<ast::BranchingStatement>(), ast::node_class_of<ast::BooleanLiteral>(),
        ast::node_class_of<ast::QuantumGate>(), ast::node_class_of<ast::FunctionCall>(),
        ast::node_class_of<ast::Include>()})
    allowed->insert(c);
  // HwQubit derives from Identifier, which is a member: still refused.
  auto refused = refused_node<DisallowedNodeTypeException>(validator, t.program);
  EXPECT_EQ(refused, t.gate->qubits[0]);

  allowed->insert(ast::node_class_of<configurations::HwQubit>());
  EXPECT_EQ(validator(t.program), t.program);

  allowed->erase(ast::node_class_of<ast::Include>());
  EXPECT_EQ(refused_node<DisallowedNodeTypeException>(validator, t.program), t.include);
}

TEST(NodeTypesValidator, AnAllowedKindPassedWithoutAskingStillLeavesEveryRefusalToBeFound) {
  // Ten gates on indexed qubits first, so that every kind of them is known to be allowed before
  // the refused node comes: the refused node is found wherever the full walk reaches it.
  auto refused_in = [](std::function<ast::StmtPtr(ast::NodePtr)> make, ast::NodePtr refused) {
    std::vector<ast::NodePtr> statements;
    for (int i = 0; i < 10; ++i) {
      auto qubit = ast::make<ast::IndexedIdentifier>(ast::make<ast::Identifier>("q"),
                                                     std::vector<ast::IndexElement>{ast::IndexList{
                                                         ast::make<ast::IntegerLiteral>(i)}});
      statements.push_back(ast::make<ast::QuantumGate>(std::vector<ast::Ptr<ast::QuantumGateModifier>>{},
                                                       ast::make<ast::Identifier>("h"), std::vector<ast::ExprPtr>{},
                                                       std::vector<ast::NodePtr>{qubit}));
    }
    statements.push_back(make(refused));
    return std::make_shared<programs::OpenQasmProgram>(ast::make<ast::Program>(statements));
  };
  auto call = [] { return ast::make<ast::FunctionCall>(ast::make<ast::Identifier>("f"), std::vector<ast::ExprPtr>{}); };
  auto reset_of = [](ast::NodePtr qubit) { return ast::make<ast::QuantumReset>(qubit); };
  auto inner_list = [&](ast::NodePtr item) {
    return reset_of(ast::make<ast::IndexedIdentifier>(
        ast::make<ast::Identifier>("q"), std::vector<ast::IndexElement>{ast::IndexList{std::move(item)}}));
  };
  auto case_label = [](ast::NodePtr label) {
    return ast::make<ast::SwitchStatement>(
        ast::make<ast::Identifier>("x"),
        std::vector<ast::SwitchCase>{{{std::static_pointer_cast<ast::Expression>(label)},
                                      ast::make<ast::CompoundStatement>(std::vector<ast::StmtPtr>{})}},
        nullptr);
  };
  const std::vector<std::pair<std::string, std::function<ast::StmtPtr(ast::NodePtr)>>> places = {
      {"inner index list", inner_list}, {"switch case label", case_label}, {"hardware qubit", reset_of}};
  auto allowed = std::make_shared<NodeClassSet>(std::initializer_list<ast::NodeClass>{
      ast::node_class_of<ast::Program>(), ast::node_class_of<ast::QuantumGate>(), ast::node_class_of<ast::Identifier>(),
      ast::node_class_of<ast::IndexedIdentifier>(), ast::node_class_of<ast::IntegerLiteral>(),
      ast::node_class_of<ast::QuantumReset>(), ast::node_class_of<ast::SwitchStatement>(),
      ast::node_class_of<ast::CompoundStatement>()});
  AllowedNodeTypesValidator validator(allowed);
  for (const auto& [place, make] : places) {
    ast::NodePtr refused = place == "hardware qubit" ? ast::NodePtr(create_hw_qubit(2)) : ast::NodePtr(call());
    EXPECT_EQ(refused_node<DisallowedNodeTypeException>(validator, refused_in(make, refused)), refused) << place;
  }

  auto program = refused_in(inner_list, ast::make<ast::IntegerLiteral>(7));
  // A criterion put in the validator's place, even one wrapping its own, is asked about every node.
  AllowedNodeTypesValidator wrapped(allowed);
  int asked = 0;
  wrapped.criterion = [own = wrapped.criterion, &asked](const ast::QASMNode& node) {
    ++asked;
    return own(node);
  };
  EXPECT_EQ(wrapped(program), program);
  EXPECT_EQ(asked, 1 + 10 * 5 + 4);

  // A class derived from the validator hears of every refused node, of kinds met before too.
  struct Noting : AllowedNodeTypesValidator {
    using AllowedNodeTypesValidator::AllowedNodeTypesValidator;
    std::vector<ast::NodePtr> refused;
    void _raise_exception(const ast::NodePtr& node) override { refused.push_back(node); }
  };
  Noting noting(std::make_shared<NodeClassSet>(std::initializer_list<ast::NodeClass>{
      ast::node_class_of<ast::Program>(), ast::node_class_of<ast::QuantumGate>(),
      ast::node_class_of<ast::Identifier>(), ast::node_class_of<ast::IndexedIdentifier>()}));
  EXPECT_EQ(noting(program), program);
  EXPECT_EQ(noting.refused.size(), 12u);  // every IntegerLiteral and the QuantumReset
}

TEST(NodeTypesValidator, RefusesAMissingSetAndNonTreePrograms) {
  try {
    AllowedNodeTypesValidator validator(nullptr);
    FAIL() << "a missing set should be refused";
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "Argument 'allowed_node_types' has incorrect type (expected set, got NoneType)");
  }
  AllowedNodeTypesValidator validator(std::make_shared<NodeClassSet>());
  EXPECT_THROW(validator(std::make_shared<programs::TextualProgram>("OPENQASM 3.0;")), AssertionError);
  EXPECT_THROW(validator(nullptr), AssertionError);
  EXPECT_THROW(validator(std::make_shared<programs::OpenQasmProgram>(nullptr)), AssertionError);
}

TEST(NodeScreening, HooksAndCriterionFailures) {
  Tree t;
  // A hook that only notes the refusal lets the walk go on into the refused node's children.
  struct Noting : AllowedNodeScreening {
    std::vector<ast::NodePtr> refused;
    explicit Noting(Criterion c) : AllowedNodeScreening(std::move(c), "Noting") {}
    void _raise_exception(const ast::NodePtr& node) override { refused.push_back(node); }
  };
  std::vector<std::string> seen;
  Noting noting(refusing({"BranchingStatement", "FunctionCall", "Include"}, seen));
  EXPECT_EQ(noting.name, "Noting");
  EXPECT_EQ(noting(t.program), t.program);
  EXPECT_EQ(noting.refused, (std::vector<ast::NodePtr>{t.branch, t.call, t.include}));

  AllowedNodeScreening failing([](const ast::QASMNode&) -> bool { throw std::out_of_range("criterion"); });
  EXPECT_THROW(failing(t.program), std::out_of_range);
}

TEST(NodeScreening, RunsAsAValidationInAPipeline) {
  Tree t;
  auto validator = std::make_shared<AllowedNodeTypesValidator>(std::make_shared<NodeClassSet>());
  auto settings = [](std::optional<std::string> skip) {
    return std::make_shared<configurations::BuildSettings>(configurations::BuildSettings::Fields{
        .validations_to_skip = std::move(skip)});
  };
  EXPECT_THROW(PassPipeline({validator}, settings(std::nullopt))(t.program), DisallowedNodeTypeException);
  EXPECT_EQ(PassPipeline({validator}, settings("AllowedNode"))(t.program), t.program);
}

}  // namespace
}  // namespace vell_qasm::passes
