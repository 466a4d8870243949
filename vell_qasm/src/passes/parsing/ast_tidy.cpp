#include "vell_qasm/passes/parsing/ast_tidy.hpp"

#include <algorithm>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "openqasm3/prefetch.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/logging.hpp"
#include "vell_qasm/passes/node_type_counter.hpp"
#include "vell_qasm/passes/parsing/node_search.hpp"

namespace vell_qasm::passes::parsing {

namespace ast = openqasm3::ast;

namespace {

spdlog::logger& logger() {
  static const std::shared_ptr<spdlog::logger> instance = logging::get_logger("vell_qasm.passes.parsing.ast_tidy");
  return *instance;
}

// A version piece as the number it writes: its digits without leading zeros. Such texts compare
// as their numbers do by length first, then digit by digit, so no piece is too long to compare.
std::string_view without_leading_zeros(std::string_view digits) {
  std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : digits.substr(first);
}

int compare_numbers(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

std::vector<std::string_view> version_pieces(const std::string& version) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (true) {
    std::size_t end = std::min(version.find('.', start), version.size());
    std::string_view piece(version.data() + start, end - start);
    bool digits_only = !piece.empty();
    for (char c : piece) digits_only = digits_only && c >= '0' && c <= '9';
    if (!digits_only)
      throw ValueError("The version " + version + " is not made of decimal integers: '" + std::string(piece) +
                       "' is not one");
    pieces.push_back(without_leading_zeros(piece));
    if (end == version.size()) return pieces;
    start = end + 1;
  }
}

// Whether `version` is lower than the target, as tuples of integers compare.
bool lower_than_target(const std::string& version) {
  std::vector<std::string_view> pieces = version_pieces(version);
  const auto& target = AstTidy::TARGET_VERSION;
  for (std::size_t i = 0; i < pieces.size() && i < target.size(); ++i) {
    std::string target_text = std::to_string(target[i]);
    int order = compare_numbers(pieces[i], without_leading_zeros(target_text));
    if (order != 0) return order < 0;
  }
  return pieces.size() < target.size();
}

// One walk of the whole tree before the input/output rewrite, over everything the counting walk
// reaches (switch cases and inner index lists included). It ends at the first input/output
// declaration; otherwise it notes which statements of the program's own list hold a classical
// declaration. The rewrite changes nothing but classical declarations, so those statements are
// the only ones its walk needs to enter.
class DeclarationSurvey : public NodeSearch<DeclarationSurvey>, public ast::EveryNode {
 public:
  explicit DeclarationSurvey(const ast::Program& root) : root_(&root) { enter_index_lists(); }

  // The positions in the root's list, in order, once a walk has found no input/output declaration.
  std::vector<std::size_t> holding_declarations;

  void visit_Program(ast::Program& node) override {
    if (&node != root_) return generic_visit(node);
    // The statements are the root's only child nodes.
    holding_declarations.clear();
    for (std::size_t i = 0; i < node.statements.size(); ++i) {
      ast::prefetch_subtree_ahead(node.statements, i);
      declaration_ = false;
      visit(node.statements[i]);
      if (declaration_) holding_declarations.push_back(i);
    }
  }
  void visit_IODeclaration(ast::IODeclaration&) override { found(); }
  void visit_ClassicalDeclaration(ast::ClassicalDeclaration& node) override {
    declaration_ = true;
    generic_visit(node);
  }
 private:
  const ast::Program* root_;
  bool declaration_ = false;
};

std::string join_target_version() {
  std::string text;
  for (std::int64_t part : AstTidy::TARGET_VERSION) {
    if (!text.empty()) text += '.';
    text += std::to_string(part);
  }
  return text;
}

// OpenQASM 2 has no integer type: every expression of a gate's parameters is real, so that
// `rz(-3/10) q;` rotates by -0.3. Integer literals there become real ones, except where they
// select an element (an index stays an integer).
class RealLiterals : public Transformer<RealLiterals> {
 public:
  ast::Rewrite visit_IntegerLiteral(const ast::Ptr<ast::IntegerLiteral>& node) override {
    auto real = ast::make<ast::FloatLiteral>(static_cast<double>(node->value));
    real->span = node->span;
    return real;
  }
  ast::Rewrite visit_IndexExpression(const ast::Ptr<ast::IndexExpression>& node) override {
    node->collection = std::static_pointer_cast<ast::Expression>(visit(node->collection).node());
    return node;
  }
  ast::Rewrite visit_IndexedIdentifier(const ast::Ptr<ast::IndexedIdentifier>& node) override { return node; }
};

class RealGateArguments : public Transformer<RealGateArguments> {
 public:
  ast::Rewrite visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) override {
    for (ast::ExprPtr& argument : node->arguments) argument = real(argument);
    return node;
  }
  ast::Rewrite visit_QuantumPhase(const ast::Ptr<ast::QuantumPhase>& node) override {
    node->argument = real(node->argument);
    return node;
  }

 private:
  ast::ExprPtr real(const ast::ExprPtr& expression) {
    return expression ? std::static_pointer_cast<ast::Expression>(literals_.visit(expression).node()) : expression;
  }
  RealLiterals literals_;
};

}  // namespace

const std::string AstTidy::target_version_str = join_target_version();

ast::StmtPtr IOVariablesTransformer::_get_new_declaration_node(const ast::Ptr<ast::ClassicalDeclaration>& node) const {
  auto output = ast::make<ast::IODeclaration>(ast::IOKeyword::output, node->type, node->identifier);
  output->span = node->span;  // errors about the declaration point at the source
  return output;
}

ast::Rewrite IOVariablesTransformer::visit_Program(const ast::Ptr<ast::Program>& node) {
  DeclarationSurvey survey(*node);
  if (survey.holds(*node)) {
    // The count is needed only for the record.
    logging::debug(logger(), [&] {
      return "Encountered existing (" + std::to_string(count_node_types(*node).of<ast::IODeclaration>()) +
             ") I/O variables.";
    });
    return node;
  }
  if (typeid(*this) == typeid(IOVariablesTransformer)) {
    rewrite_statements(node->statements, &survey.holding_declarations);
  } else {
    QASMTransformer::generic_visit(node);  // a derived class may rewrite other nodes too
  }
  logging::debug(logger(), "No pre existing I/O variables, modified all variables.");
  return node;
}

AstTidy::AstTidy(std::optional<std::string> name) : Step(std::move(name), "AstTidy") {}

programs::ProgramPtr AstTidy::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  IOVariablesTransformer transformer;
  auto root = programs::transform_root(transformer, tree);

  if (root->version && lower_than_target(*root->version)) {
    // Lower than 3.0 and not 3 itself: a version without integers, whose gate parameters are real.
    if (version_pieces(*root->version).front() != "3") {
      RealGateArguments arguments;
      arguments.visit(root);
    }
    root->version = target_version_str;
  }
  return std::make_shared<programs::OpenQasmProgram>(root);
}

}  // namespace vell_qasm::passes::parsing
