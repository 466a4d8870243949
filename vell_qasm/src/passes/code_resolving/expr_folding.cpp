#include "vell_qasm/passes/code_resolving/expr_folding.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <exception>
#include <optional>
#include <vector>

#include "openqasm3/stack_guard.hpp"
#include "vell_qasm/logging.hpp"
#include "vell_qasm/passes/code_resolving/binop_rules.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_qasm/plain_arithmetic.hpp"

namespace vell_qasm::passes::code_resolving {

namespace ast = openqasm3::ast;

namespace {

spdlog::logger& logger() {
  static const auto instance = logging::get_logger("vell_qasm.passes.code_resolving.expr_folding");
  return *instance;
}

using plain::as_real;

// ---- the operator tables: the shared plain-value arithmetic, "/" dividing integers as integers

template <ast::BinaryOperator op> PlainValue binary_entry(const PlainValue& x, const PlainValue& y) {
  return plain::apply(op, x, y, plain::Division::floor_for_integers);
}
template <ast::UnaryOperator op> PlainValue unary_entry(const PlainValue& x) { return plain::apply(op, x); }

// ---- the math functions

using Arguments = FunctionCallModifier::Arguments;

void expect_arguments(const char* name, const Arguments& args, std::size_t count) {
  if (args.size() != count)
    throw TypeError(std::string(name) + "() takes exactly " + std::to_string(count) + " argument" +
                    (count == 1 ? "" : "s") + " (" + std::to_string(args.size()) + " given)");
}

// A real function of one real: a NaN from a number is a domain error, an infinity from a finite
// number a range error (or a domain error for functions that have no overflow, such as tan at a
// pole, which binary64 never reaches).
double real_function(const char* name, const Arguments& args, double (*f)(double), bool can_overflow) {
  expect_arguments(name, args, 1);
  double x = as_real(args[0]);
  double r = f(x);
  if (std::isnan(r) && !std::isnan(x)) throw ValueError("math domain error");
  if (std::isinf(r) && std::isfinite(x)) {
    if (can_overflow) throw OverflowError("math range error");
    throw ValueError("math domain error");
  }
  return r;
}

PlainValue exp_function(const Arguments& args) {
  return real_function("exp", args, [](double x) { return std::exp(x); }, true);
}
PlainValue cos_function(const Arguments& args) {
  return real_function("cos", args, [](double x) { return std::cos(x); }, false);
}
PlainValue sin_function(const Arguments& args) {
  return real_function("sin", args, [](double x) { return std::sin(x); }, false);
}
PlainValue tan_function(const Arguments& args) {
  return real_function("tan", args, [](double x) { return std::tan(x); }, false);
}
PlainValue arccos_function(const Arguments& args) {
  return real_function("arccos", args, [](double x) { return std::acos(x); }, false);
}
PlainValue arcsin_function(const Arguments& args) {
  return real_function("arcsin", args, [](double x) { return std::asin(x); }, false);
}
PlainValue arctan_function(const Arguments& args) {
  return real_function("arctan", args, [](double x) { return std::atan(x); }, false);
}
PlainValue sqrt_function(const Arguments& args) {
  return real_function("sqrt", args, [](double x) { return std::sqrt(x); }, false);
}

// The natural logarithm of a positive number (infinity included).
double positive_log(const PlainValue& v) {
  double x = as_real(v);
  if (std::isnan(x)) return x;
  if (!(x > 0.0)) throw ValueError("math domain error");
  return std::log(x);
}
PlainValue log_function(const Arguments& args) {
  if (args.size() != 1 && args.size() != 2)
    throw TypeError("log() takes 1 or 2 arguments (" + std::to_string(args.size()) + " given)");
  double value = positive_log(args[0]);
  if (args.size() == 1) return value;
  double base = positive_log(args[1]);
  if (base == 0.0) throw ZeroDivisionError("float division by zero");  // base 1
  return value / base;
}

PlainValue mod_function(const Arguments& args) {
  expect_arguments("mod", args, 2);
  return plain::modulo(args[0], args[1]);
}
PlainValue pow_function(const Arguments& args) {
  expect_arguments("pow", args, 2);
  return plain::power(args[0], args[1]);
}

// The real rounded by `round`: a real, as the language's ceiling and floor give (ceiling(2.5) / 2
// is 1.5), also for an integral argument.
PlainValue rounded(const char* name, const Arguments& args, double (*round)(double)) {
  expect_arguments(name, args, 1);
  return round(as_real(args[0]));
}
PlainValue ceiling_function(const Arguments& args) {
  return rounded("ceiling", args, [](double x) { return std::ceil(x); });
}
PlainValue floor_function(const Arguments& args) {
  return rounded("floor", args, [](double x) { return std::floor(x); });
}

}  // namespace

PlainValue _div(const PlainValue& x, const PlainValue& y) {
  return plain::divide(x, y, plain::Division::floor_for_integers);
}

IllegalMathExpression::IllegalMathExpression(const std::string& expression)
    : std::runtime_error("The operation " + expression + " is illegal") {}

// ---- the tables

using BO = ast::BinaryOperator;
const std::array<std::pair<BO, BinaryExpressionModifier::Function>, 19>
    BinaryExpressionModifier::BINARY_OPERATOR_TO_FUNCTION = {{
        {BO::gt, binary_entry<BO::gt>},
        {BO::lt, binary_entry<BO::lt>},
        {BO::ge, binary_entry<BO::ge>},
        {BO::le, binary_entry<BO::le>},
        {BO::eq, binary_entry<BO::eq>},
        {BO::ne, binary_entry<BO::ne>},
        {BO::logical_and, binary_entry<BO::logical_and>},
        {BO::logical_or, binary_entry<BO::logical_or>},
        {BO::bit_or, binary_entry<BO::bit_or>},
        {BO::bit_xor, binary_entry<BO::bit_xor>},
        {BO::bit_and, binary_entry<BO::bit_and>},
        {BO::shl, binary_entry<BO::shl>},
        {BO::shr, binary_entry<BO::shr>},
        {BO::plus, binary_entry<BO::plus>},
        {BO::minus, binary_entry<BO::minus>},
        {BO::times, binary_entry<BO::times>},
        {BO::divide, _div},
        {BO::modulo, binary_entry<BO::modulo>},
        {BO::power, binary_entry<BO::power>},
    }};

using UO = ast::UnaryOperator;
const std::array<std::pair<UO, UnaryExpressionModifier::Function>, 3>
    UnaryExpressionModifier::UNARY_OPERATOR_TO_FUNCTION = {{
        {UO::logical_not, unary_entry<UO::logical_not>},
        {UO::negate, unary_entry<UO::negate>},
        {UO::bit_not, unary_entry<UO::bit_not>},
    }};

const std::array<std::pair<std::string_view, FunctionCallModifier::Function>, 13>
    FunctionCallModifier::NAME_TO_MATH_FUNCTION = {{
        {"exp", exp_function},
        {"log", log_function},
        {"mod", mod_function},
        {"pow", pow_function},
        {"cos", cos_function},
        {"sin", sin_function},
        {"tan", tan_function},
        {"arccos", arccos_function},
        {"arcsin", arcsin_function},
        {"arctan", arctan_function},
        {"ceiling", ceiling_function},
        {"floor", floor_function},
        {"sqrt", sqrt_function},
    }};

}  // namespace vell_qasm::passes::code_resolving

namespace vell_qasm::passes::code_resolving {

// ---- the modifiers

namespace {

// Puts `value` into `literal` where it is a literal of the class create_literal makes for the
// value, as create_literal makes it (no span); false where it is none.
bool reuse_literal(ast::Expression& literal, const PlainValue& value) {
  const ast::NodeKind kind = literal.kind();
  if (const auto* integer = std::get_if<std::int64_t>(&value); integer && kind == ast::NodeKind::IntegerLiteral) {
    static_cast<ast::IntegerLiteral&>(literal).value = *integer;
  } else if (const auto* real = std::get_if<double>(&value); real && kind == ast::NodeKind::FloatLiteral) {
    static_cast<ast::FloatLiteral&>(literal).value = *real;
  } else if (const auto* boolean = std::get_if<bool>(&value); boolean && kind == ast::NodeKind::BooleanLiteral) {
    static_cast<ast::BooleanLiteral&>(literal).value = *boolean;
  } else {
    return false;
  }
  literal.span.reset();
  return true;
}

}  // namespace

template <class Modifier, class Node>
template <class... Context>
ast::ExprPtr ExpressionModifier<Modifier, Node>::run(const ast::Ptr<Node>& node, Context&... context) {
  ast::ExprPtr new_node = replacement(*node, context...);
  if (!new_node) return node;
  return new_node;
}

template <class Modifier, class Node>
template <class... Context>
ast::ExprPtr ExpressionModifier<Modifier, Node>::replacement(const Node& node, Context&... context) {
  return replacement_reusing(node, {nullptr, nullptr}, context...);
}

template <class Modifier, class Node>
template <class... Context>
ast::ExprPtr ExpressionModifier<Modifier, Node>::replacement_reusing(const Node& node,
                                                                     std::array<ast::ExprPtr*, 2> reusable,
                                                                     Context&... context) {
  std::optional<typename Modifier::Arguments> arguments = Modifier::_get_literal_arguments(node);
  typename Modifier::Function func = arguments ? Modifier::_get_func_to_calculate(node) : nullptr;
  if (!arguments || !func) {
    // A rule gives one of the operands or a new literal, or nothing where the node stays.
    ast::ExprPtr new_node = Modifier::_calculate_heuristics(node, context...);
    if (new_node)
      logging::debug(logger(), [&] { return "Replaced " + ast::repr(node) + " by " + ast::repr(new_node) + "."; });
    return new_node;
  }
  // The expression's text is needed only for a record or an error: built then, from the values.
  auto expression_str = [&] { return Modifier::_create_expression_string(node, *arguments); };
  PlainValue new_value;
  try {
    new_value = Modifier::_calculate(func, *arguments);
    logging::debug(logger(), [&] { return "Replaced " + expression_str() + " by " + value_text(new_value); });
  } catch (const std::exception&) {
    IllegalMathExpression error(expression_str());
    error.set_cause(std::current_exception());
    throw error;
  }
  for (ast::ExprPtr* operand : reusable)
    if (operand && reuse_literal(**operand, new_value)) return *operand;
  return utils::create_literal(new_value);
}

template ast::ExprPtr ExpressionModifier<BinaryExpressionModifier, ast::BinaryExpression>::run(
    const ast::Ptr<ast::BinaryExpression>&);
template ast::ExprPtr ExpressionModifier<BinaryExpressionModifier, ast::BinaryExpression>::run(
    const ast::Ptr<ast::BinaryExpression>&, OperandTypes&);
template ast::ExprPtr ExpressionModifier<UnaryExpressionModifier, ast::UnaryExpression>::run(
    const ast::Ptr<ast::UnaryExpression>&);
template ast::ExprPtr ExpressionModifier<FunctionCallModifier, ast::FunctionCall>::run(const ast::Ptr<ast::FunctionCall>&);

std::optional<BinaryExpressionModifier::Arguments> BinaryExpressionModifier::_get_literal_arguments(
    const ast::BinaryExpression& node) {
  auto lhs = utils::qasm_literal_value(node.lhs);
  if (!lhs) return std::nullopt;
  auto rhs = utils::qasm_literal_value(node.rhs);
  if (!rhs) return std::nullopt;
  return Arguments{*lhs, *rhs};
}

BinaryExpressionModifier::Function BinaryExpressionModifier::_get_func_to_calculate(const ast::BinaryExpression& node) {
  // The table follows the enumeration, whose values count from 1.
  const auto i = static_cast<std::size_t>(node.op) - 1;
  if (i < BINARY_OPERATOR_TO_FUNCTION.size() && BINARY_OPERATOR_TO_FUNCTION[i].first == node.op)
    return BINARY_OPERATOR_TO_FUNCTION[i].second;
  return nullptr;
}

ast::ExprPtr BinaryExpressionModifier::_calculate_heuristics(const ast::BinaryExpression& node) {
  return binop_rule_result(node);
}
ast::ExprPtr BinaryExpressionModifier::_calculate_heuristics(const ast::BinaryExpression& node, OperandTypes& types) {
  return binop_rule_result(node, types);
}

std::string BinaryExpressionModifier::_create_expression_string(const ast::BinaryExpression& node,
                                                                const Arguments& arguments) {
  std::string text = value_text(arguments[0]);
  text += ' ';
  text += ast::symbol(node.op);
  text += ' ';
  text += value_text(arguments[1]);
  return text;
}

std::optional<UnaryExpressionModifier::Arguments> UnaryExpressionModifier::_get_literal_arguments(
    const ast::UnaryExpression& node) {
  auto value = utils::qasm_literal_value(node.expression);
  if (!value) return std::nullopt;
  return Arguments{*value};
}

UnaryExpressionModifier::Function UnaryExpressionModifier::_get_func_to_calculate(const ast::UnaryExpression& node) {
  for (const auto& [op, func] : UNARY_OPERATOR_TO_FUNCTION)
    if (op == node.op) return func;
  return nullptr;
}

ast::ExprPtr UnaryExpressionModifier::_calculate_heuristics(const ast::UnaryExpression& node) {
  if (node.op != ast::UnaryOperator::negate) return nullptr;
  auto* inner = ast::dyn_cast<ast::UnaryExpression>(node.expression.get());
  if (!inner || inner->op != ast::UnaryOperator::negate) return nullptr;
  return inner->expression;
}

std::string UnaryExpressionModifier::_create_expression_string(const ast::UnaryExpression& node,
                                                               const Arguments& arguments) {
  std::string text(ast::symbol(node.op));
  text += '(';
  text += value_text(arguments[0]);
  text += ')';
  return text;
}

ast::ExprPtr UnaryExpressionModifier::resolve_minus_minus_heuristic(const ast::Ptr<ast::UnaryExpression>& node) {
  ast::ExprPtr operand = _calculate_heuristics(*node);
  if (!operand) return node;
  return operand;
}

std::optional<FunctionCallModifier::Arguments> FunctionCallModifier::_get_literal_arguments(
    const ast::FunctionCall& node) {
  Arguments values;
  values.reserve(node.arguments.size());
  for (const auto& argument : node.arguments) {
    auto value = utils::qasm_literal_value(argument);
    if (!value) return std::nullopt;
    values.push_back(*value);
  }
  return values;
}

FunctionCallModifier::Function FunctionCallModifier::_get_func_to_calculate(const ast::FunctionCall& node) {
  if (!node.name) return nullptr;
  for (const auto& [name, func] : NAME_TO_MATH_FUNCTION)
    if (name == node.name->name) return func;
  return nullptr;
}

ast::ExprPtr FunctionCallModifier::_calculate_heuristics(const ast::FunctionCall&) { return nullptr; }

std::string FunctionCallModifier::_create_expression_string(const ast::FunctionCall& node,
                                                            const Arguments& arguments) {
  std::string text = node.name ? node.name->name : std::string();
  text += '(';
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i) text += ", ";
    text += value_text(arguments[i]);
  }
  text += ')';
  return text;
}

// ---- types

namespace {

ValueType declared_type(const ast::TypePtr& type) {
  if (!type) return ValueType::unknown;
  switch (type->library_kind()) {
    case ast::NodeKind::BoolType: return ValueType::boolean;
    case ast::NodeKind::IntType:
    case ast::NodeKind::UintType: return ValueType::integer;
    case ast::NodeKind::FloatType: return ValueType::real;
    case ast::NodeKind::DurationType: return ValueType::duration;
    default: return ValueType::unknown;  // bits, angles, arrays, ...: no identity is sure of them
  }
}

bool is_real_function(std::string_view name) {
  for (std::string_view real : {"exp", "log", "cos", "sin", "tan", "arccos", "arcsin", "arctan", "sqrt", "ceiling", "floor"})
    if (name == real) return true;
  return false;
}

}  // namespace

std::uint32_t DeclaredTypes::hash(std::string_view name) {
  const std::uint64_t full = std::hash<std::string_view>()(name);
  return static_cast<std::uint32_t>(full ^ (full >> 32));
}

std::string_view DeclaredTypes::copy(std::string_view name) {
  auto* copy = static_cast<char*>(names_.allocate(name.size() + 1, 1));
  std::memcpy(copy, name.data(), name.size());
  copy[name.size()] = '\0';
  return std::string_view(copy, name.size());
}

void DeclaredTypes::declare(std::string_view name, ValueType type) { notes_.push_back(Note{0, copy(name), type}); }

std::size_t DeclaredTypes::Table::slot_of(std::uint32_t hash, std::string_view name) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == 0 || (slot.hash == hash && entries_[slot.entry - 1].name == name)) return i;
  }
}

const void* DeclaredTypes::Table::home(std::uint32_t hash) const {
  return slots_.empty() ? nullptr : &slots_[hash & (slots_.size() - 1)];
}

void DeclaredTypes::Table::reserve(std::size_t more) {
  const std::size_t most = entries_.size() + more;
  if (most * 4 <= slots_.size() * 3) return;
  slots_.assign(std::bit_ceil(std::max<std::size_t>(64, most * 2)), Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t e = 0; e < entries_.size(); ++e) {
    // The names are distinct: only a free slot is sought.
    const std::uint32_t hash = DeclaredTypes::hash(entries_[e].name);
    std::size_t i = hash & mask;
    while (slots_[i].entry != 0) i = (i + 1) & mask;
    slots_[i] = Slot{hash, static_cast<std::uint32_t>(e + 1)};
  }
}

void DeclaredTypes::Table::enter(const Note& note, bool declared) {
  reserve(1);
  Slot& slot = slots_[slot_of(note.hash, note.name)];
  if (slot.entry == 0) {
    entries_.push_back(Entry{note.name, declared ? note.type : ValueType::unknown, declared});
    slot = Slot{note.hash, static_cast<std::uint32_t>(entries_.size())};
    return;
  }
  if (!declared) return;
  Entry& entry = entries_[slot.entry - 1];
  if (!entry.declared) {
    entry = Entry{entry.name, note.type, true};
  } else if (entry.type != note.type) {
    // A name declared twice with two types (in two scopes) has no one type.
    entry.type = ValueType::unknown;
  }
}

const ValueType* DeclaredTypes::Table::find(std::uint32_t hash, std::string_view name) const {
  if (slots_.empty()) return nullptr;
  const Slot& slot = slots_[slot_of(hash, name)];
  return slot.entry == 0 ? nullptr : &entries_[slot.entry - 1].type;
}

void DeclaredTypes::take_notes() {
  // The notes of names asked about before go to their table, the others wait at the front.
  for (std::size_t i = checked_; i < notes_.size(); ++i) {
    Note& note = notes_[i];
    if (asked_screen_.may_hold(note.name)) {
      note.hash = hash(note.name);
      if (asked_.find(note.hash, note.name)) {
        asked_.enter(note);
        continue;
      }
    }
    notes_[checked_++] = note;
  }
  notes_.resize(checked_);
}

ValueType DeclaredTypes::find(std::string_view name) {
  take_notes();
  const std::uint32_t h = hash(name);
  if (asked_screen_.may_hold(name)) {
    if (const ValueType* type = asked_.find(h, name)) return *type;
  }
  // A name not asked about before: its declarations so far are in others_ or among the notes
  // waiting, which go there now. The slots of the next kAhead notes are on their way while a
  // note is entered.
  others_.reserve(notes_.size());
  constexpr std::size_t kAhead = 8;
  const auto ahead = [&](Note& note) {
    note.hash = hash(note.name);
    __builtin_prefetch(others_.home(note.hash));
  };
  for (std::size_t i = 0; i < kAhead && i < notes_.size(); ++i) ahead(notes_[i]);
  for (std::size_t i = 0; i < notes_.size(); ++i) {
    if (i + kAhead < notes_.size()) ahead(notes_[i + kAhead]);
    others_.enter(notes_[i]);
  }
  notes_.clear();
  checked_ = 0;
  const ValueType* declared = others_.find(h, name);
  asked_.enter(Note{h, copy(name), declared ? *declared : ValueType::unknown}, declared != nullptr);
  asked_screen_.add(name);
  return declared ? *declared : ValueType::unknown;
}

void ConstantExpressionsTransformer::declare(const ast::Ptr<ast::Identifier>& name, const ast::TypePtr& type) {
  if (name) declared_.declare(name->name, declared_type(type));
}

ValueType ConstantExpressionsTransformer::type_of(const ast::ExprPtr& expression) const {
  if (!expression) return ValueType::unknown;
  openqasm3::check_stack("constant folding");
  // Along the left spine in a loop: a flat chain a + b + ... is as deep as it is long. The spine
  // goes on spine_ above what enclosing calls keep there, so that no call allocates.
  const utils::StackMark mark(spine_);
  const ast::Expression* leaf = expression.get();
  while (ast::isa<ast::BinaryExpression>(*leaf)) {
    const auto& binary = static_cast<const ast::BinaryExpression&>(*leaf);
    if (!binary.lhs) return ValueType::unknown;
    spine_.push_back(&binary);
    leaf = binary.lhs.get();
  }
  ValueType type = leaf_type(*leaf);
  // By index: the right operands' calls grow spine_ above our part and shrink it back.
  for (std::size_t i = spine_.size(); i-- > mark.base();) type = binary_result_type(spine_[i]->op, type, type_of(spine_[i]->rhs));
  return type;
}

ValueType ConstantExpressionsTransformer::leaf_type(const ast::Expression& node) const {
  if (auto value = utils::qasm_literal_value(node)) return type_of_value(*value);
  switch (node.library_kind()) {
    case ast::NodeKind::DurationLiteral: return ValueType::duration;
    case ast::NodeKind::Identifier: {
      return declared_.find(static_cast<const ast::Identifier&>(node).name);
    }
    case ast::NodeKind::UnaryExpression: {
      const auto& unary = static_cast<const ast::UnaryExpression&>(node);
      if (unary.op == ast::UnaryOperator::logical_not) return ValueType::boolean;
      const ValueType operand = type_of(unary.expression);
      if (unary.op == ast::UnaryOperator::bit_not)
        return operand == ValueType::integer || operand == ValueType::boolean ? ValueType::integer : ValueType::unknown;
      return operand == ValueType::boolean ? ValueType::integer : operand;
    }
    case ast::NodeKind::Cast: return declared_type(static_cast<const ast::Cast&>(node).type);
    case ast::NodeKind::FunctionCall: {
      const auto& call = static_cast<const ast::FunctionCall&>(node);
      if (!call.name) return ValueType::unknown;
      if (is_real_function(call.name->name)) return ValueType::real;
      if (call.arguments.size() == 2 && (call.name->name == "mod" || call.name->name == "pow"))
        return binary_result_type(call.name->name == "mod" ? ast::BinaryOperator::modulo : ast::BinaryOperator::power,
                                  type_of(call.arguments[0]), type_of(call.arguments[1]));
      return ValueType::unknown;
    }
    default: return ValueType::unknown;
  }
}

// ---- the walk

ConstantExpressionsTransformer::ConstantExpressionsTransformer() {}

template <class Node> ast::Rewrite ConstantExpressionsTransformer::walk_children(const ast::Ptr<Node>& node) {
  if (!plain()) return generic_visit(node);
  // generic_visit's walk, keeping the node with no handle of it made.
  node->transform_children(*this);
  return ast::Rewrite::keep();
}

ast::Rewrite ConstantExpressionsTransformer::visit_ClassicalDeclaration(const ast::Ptr<ast::ClassicalDeclaration>& node) {
  declare(node->identifier, node->type);
  return walk_children(node);
}
ast::Rewrite ConstantExpressionsTransformer::visit_IODeclaration(const ast::Ptr<ast::IODeclaration>& node) {
  declare(node->identifier, node->type);
  return walk_children(node);
}
ast::Rewrite ConstantExpressionsTransformer::visit_ConstantDeclaration(const ast::Ptr<ast::ConstantDeclaration>& node) {
  declare(node->identifier, node->type);
  return walk_children(node);
}
ast::Rewrite ConstantExpressionsTransformer::visit_ForInLoop(const ast::Ptr<ast::ForInLoop>& node) {
  declare(node->identifier, node->type);
  return walk_children(node);
}

namespace {

// Frees the operands of a replaced expression that nothing else holds before the expression
// itself: they are mostly leaves, freed at once, where the freeing of the expression would first
// gather them in a list.
void drop_operands(ast::BinaryExpression& replaced) {
  replaced.lhs.reset();
  replaced.rhs.reset();
}

}  // namespace

void ConstantExpressionsTransformer::fold_operand(ast::ExprPtr& child) {
  if (!child) return;
  ast::Expression& node = *child;
  if (ast::is_exactly<ast::BinaryExpression>(node)) {
    openqasm3::check_stack("a transformer's walk");
    const bool alone = child.use_count() == 1;
    if (ast::ExprPtr folded = fold_chain(static_cast<ast::BinaryExpression&>(node), alone)) {
      if (alone) drop_operands(static_cast<ast::BinaryExpression&>(node));
      child = std::move(folded);
    }
    return;
  }
  // A node this walk has no handler for keeps its place; only its children are walked.
  if (node.transform_generically(*this)) return;
  const ast::NodeKind kind = node.kind();
  if ((kind == ast::NodeKind::FunctionCall || kind == ast::NodeKind::UnaryExpression) && plain()) {
    openqasm3::check_stack("a transformer's walk");
    ast::ExprPtr folded = kind == ast::NodeKind::FunctionCall ? fold_call(static_cast<ast::FunctionCall&>(node))
                                                              : fold_unary(static_cast<ast::UnaryExpression&>(node));
    if (folded) child = std::move(folded);
    return;
  }
  ast::Rewrite visited = node.accept(*this, ast::detail::handle_ref(child));
  if (visited.is_keep()) return;
  if (visited.is_none()) {
    child = nullptr;
    return;
  }
  check(visited.is_node(), "An expression was rewritten into a list");
  if (visited.node().get() == child.get()) return;
  auto expression = ast::dyn_cast<ast::Expression>(visited.node());
  check(expression != nullptr, "An expression was rewritten into a node that is no expression");
  child = std::move(expression);
}

namespace {

// The operand types of one link of a chain: the left one carried along the chain once known.
class ChainTypes : public OperandTypes {
 public:
  ChainTypes(const ConstantExpressionsTransformer& walk, const ast::BinaryExpression& node,
             std::optional<ValueType>& running)
      : walk_(walk), node_(node), running_(running) {}
  ValueType lhs() override {
    if (!running_) running_ = walk_.type_of(node_.lhs);
    return *running_;
  }
  ValueType rhs() override {
    if (!rhs_) rhs_ = walk_.type_of(node_.rhs);
    return *rhs_;
  }

 private:
  const ConstantExpressionsTransformer& walk_;
  const ast::BinaryExpression& node_;
  std::optional<ValueType>& running_;
  std::optional<ValueType> rhs_;
};

}  // namespace

ast::ExprPtr ConstantExpressionsTransformer::fold_chain(ast::BinaryExpression& top, bool top_alone) {
  // A flat chain a + b + c + ... leans left as deep as it is long: its links are folded in a
  // loop, innermost first, in the order a recursive walk takes (left operand, right operand, the
  // link itself), and only the right operands recurse. The links go on chain_ above those of the
  // chains this one stands in.
  const utils::StackMark mark(chain_);
  ast::BinaryExpression* link = &top;
  chain_.push_back(link);
  while (link->lhs && ast::is_exactly<ast::BinaryExpression>(*link->lhs)) {
    link = static_cast<ast::BinaryExpression*>(link->lhs.get());
    chain_.push_back(link);
  }
  fold_operand(link->lhs);
  std::optional<ValueType> running;  // the type of the folded left operand, once asked for
  ast::ExprPtr folded;               // the replacement of the link, null where it stays
  // By index: the right operands' chains grow chain_ above our part and shrink it back.
  for (std::size_t i = chain_.size(); i-- > mark.base();) {
    ast::BinaryExpression& current = *chain_[i];
    fold_operand(current.rhs);
    ChainTypes types(*this, current, running);
    // A link that only the next link out (or, for the top, its one field) holds is dropped once
    // replaced: a literal operand that only it holds can take the computed value, rather than
    // a new literal be made and the operand freed.
    const bool alone = i > mark.base() ? chain_[i - 1]->lhs.use_count() == 1 : top_alone;
    const auto only_here = [&](ast::ExprPtr& operand) { return alone && operand.use_count() == 1 ? &operand : nullptr; };
    folded = BinaryExpressionModifier::replacement_reusing(current, {only_here(current.lhs), only_here(current.rhs)}, types);
    if (auto value = utils::qasm_literal_value(folded)) {
      running = type_of_value(*value);
    } else if (running) {
      if (folded && folded == current.rhs) running = types.rhs();
      else if (!folded || folded != current.lhs) running = binary_result_type(current.op, *running, types.rhs());
    }
    // The next link out holds this one as its left operand. (This may free `current`.)
    if (i > mark.base() && folded) {
      if (chain_[i - 1]->lhs.use_count() == 1) drop_operands(current);
      chain_[i - 1]->lhs = std::move(folded);
    }
  }
  return folded;
}

ast::Rewrite ConstantExpressionsTransformer::visit_BinaryExpression(const ast::Ptr<ast::BinaryExpression>& node) {
  if (ast::ExprPtr folded = fold_chain(*node, false)) return folded;
  return node;
}
ast::Rewrite ConstantExpressionsTransformer::visit_UnaryExpression(const ast::Ptr<ast::UnaryExpression>& node) {
  if (!plain()) return generic_modify_node(node);
  if (ast::ExprPtr folded = fold_unary(*node)) return folded;
  return node;
}
ast::Rewrite ConstantExpressionsTransformer::visit_FunctionCall(const ast::Ptr<ast::FunctionCall>& node) {
  if (!plain()) return generic_modify_node(node);
  if (ast::ExprPtr folded = fold_call(*node)) return folded;
  return node;
}

ast::ExprPtr ConstantExpressionsTransformer::fold_call(ast::FunctionCall& call) {
  // The generic walk of the name, an identifier, changes nothing.
  for (ast::ExprPtr& argument : call.arguments) fold_operand(argument);
  return FunctionCallModifier::replacement(call);
}
ast::ExprPtr ConstantExpressionsTransformer::fold_unary(ast::UnaryExpression& unary) {
  fold_operand(unary.expression);
  return UnaryExpressionModifier::replacement(unary);
}

ast::ExprPtr ConstantExpressionsTransformer::generic_modify_node(const ast::NodePtr& node) {
  const ast::NodeClass& before = node->node_class();
  ast::Rewrite visited = generic_visit(node);
  check(visited.is_node() && visited.node()->node_class() == before,
        "Node was modified during the generic visit, aborting.");
  const ast::NodePtr& folded = visited.node();
  ast::ExprPtr replacement;
  if (auto* call = ast::dyn_cast<ast::FunctionCall>(folded.get())) {
    replacement = FunctionCallModifier::replacement(*call);
  } else if (auto* unary = ast::dyn_cast<ast::UnaryExpression>(folded.get())) {
    replacement = UnaryExpressionModifier::replacement(*unary);
  } else if (auto* binary = ast::dyn_cast<ast::BinaryExpression>(folded.get())) {
    std::optional<ValueType> running;
    ChainTypes types(*this, *binary, running);
    replacement = BinaryExpressionModifier::replacement(*binary, types);
  } else {
    throw NotImplementedError("Unsupported visit node: " + folded->node_class().text());
  }
  if (replacement) return replacement;
  return std::static_pointer_cast<ast::Expression>(folded);
}

ExpressionsOptimizationStep::ExpressionsOptimizationStep(std::optional<std::string> name)
    : Optimization(std::move(name), "ExpressionsOptimizationStep") {}

programs::ProgramPtr ExpressionsOptimizationStep::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  ConstantExpressionsTransformer transformer;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(transformer, tree));
}

}  // namespace vell_qasm::passes::code_resolving
