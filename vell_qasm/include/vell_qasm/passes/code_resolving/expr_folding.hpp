// ExpressionsOptimizationStep: folds constant expressions, bottom-up, in one walk of the tree.
//
// Every binary expression, unary expression and call of a known math function whose operands are
// all literals (booleans, integers, reals: is_qasm_literal) becomes one new literal holding the
// computed value (create_literal; for a binary expression that nothing else holds, a literal
// operand of the value's class that nothing else holds takes the value in place instead, its span
// cleared: the same tree, one node fewer made and freed). Children are handled before their
// parent, so nested constant arithmetic collapses to one literal; nothing is reassociated:
// (1 + 2) + x becomes 3 + x while (x + 1) + 2 stays. Where the operands are not all literals, or
// the operator or name has no computation, a rewrite rule is tried instead: the algebraic
// identities of binop_rules for binary expressions, the double-minus rule -(-x) -> x for unary
// ones, none for calls. An identity is applied only where it keeps the expression's type, as the
// literals and the declarations met before the expression tell it (see binop_rules.hpp).
//
// Values: the plain arithmetic of plain_arithmetic.hpp, "/" of two integers rounding toward
// negative infinity (7 / 2 is 3, -7 / 2 is -4) as run-time integer division does; ceiling and
// floor give reals, as the language's do. A boolean also counts as the integer 0 or 1; integers
// are int64 and reals double. A result that int64 cannot hold (2 ** 64, 1 << 70, -(least
// int64)) is refused, never wrapped, and so is a complex result ((-8.0) ** 0.5). Every refused computation (zero divisor, negative shift
// count, domain or range error, operand of the wrong kind, wrong number of arguments) throws
// IllegalMathExpression naming the expression by its operand values ("The operation 1 / 0 is
// illegal"); the underlying error is its cause(). With several failing expressions the first one
// in walk order (children first, left to right) is reported.
//
// Records (DEBUG, logger "vell_qasm.passes.code_resolving.expr_folding"), built only when a sink
// records DEBUG: "Replaced 1 + 2 by 3" for a computation (operand values as value_text writes
// them), "Replaced <repr of node> by <repr of replacement>." for a rule that changed something.
//
// The tree is rewritten in place and the returned OpenQasmProgram shares it; a failure part-way
// leaves the replacements made before it. A rule returns an operand as the very node, not a copy.
// The walk also enters switch cases, their labels and their blocks. Trap: like every generic walk
// it does not enter the index lists of an IndexedIdentifier, so the operand q[1 + 1] of a gate or
// measurement keeps its sum (an IndexExpression's index, b[1 + 1] in an expression, is folded).
//
// In a PassPipeline the step is an Optimization: it may be skipped by name, and its failure is
// logged as a warning (the run going on with the partly folded tree) unless it is enforced.
#pragma once

#include <array>
#include <cstdint>
#include <memory_resource>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/code_resolving/binop_rules.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"
#include "vell_qasm/value_text.hpp"

namespace vell_qasm::passes::code_resolving {

// A computation that cannot be carried out: "The operation " + expression + " is illegal".
// cause() holds the error the computation raised.
class IllegalMathExpression : public std::runtime_error, public HasCause, public HasLocation {
 public:
  explicit IllegalMathExpression(const std::string& expression);
};

// The "/" of folding: integers (booleans included) divide rounding toward negative infinity
// (-7 / 2 is -4), anything else divides as reals; a zero divisor is a ZeroDivisionError either way.
PlainValue _div(const PlainValue& x, const PlainValue& y);

// The replacement of one expression node whose children are already folded. `Modifier` supplies
// the hooks (all static):
//   _get_literal_arguments(node) -> optional<Arguments>   the operand values, nullopt unless all
//                                                           are literals
//   _get_func_to_calculate(node) -> Function or nullptr   nullptr when nothing computes it
//   _calculate_heuristics(node) -> ExprPtr                 the rule's result, null when no rule
//                                                           changes the node
//   _create_expression_string(node, arguments) -> string   the text that messages name
//   _calculate(func, arguments) -> PlainValue              applies func (throws when refused)
// The host's two internal signals (operands not all literals, no function) are the two empty
// results of the first hooks: no exception is thrown for the common case of a variable operand.
// `context` (the operand types, for a binary expression) is handed on to _calculate_heuristics.
template <class Modifier, class Node> class ExpressionModifier {
 public:
  // The replacement, or `node` itself.
  template <class... Context>
  static openqasm3::ast::ExprPtr run(const openqasm3::ast::Ptr<Node>& node, Context&... context);
  // The replacement, or null where the node stays: the walk needs no handle of the node.
  template <class... Context>
  static openqasm3::ast::ExprPtr replacement(const Node& node, Context&... context);
  // The same, a computed value going into the first of `reusable` (null: none) that is a literal
  // of the class create_literal would make for it, its span cleared, rather than into a new
  // literal. For a walk that knows those operands held by the replaced node alone, which it drops.
  template <class... Context>
  static openqasm3::ast::ExprPtr replacement_reusing(const Node& node,
                                                     std::array<openqasm3::ast::ExprPtr*, 2> reusable,
                                                     Context&... context);
};

class BinaryExpressionModifier : public ExpressionModifier<BinaryExpressionModifier, openqasm3::ast::BinaryExpression> {
 public:
  using Arguments = std::array<PlainValue, 2>;
  using Function = PlainValue (*)(const PlainValue&, const PlainValue&);
  // One entry per operator, in the enumeration's order (">" first, "**" last).
  static const std::array<std::pair<openqasm3::ast::BinaryOperator, Function>, 19> BINARY_OPERATOR_TO_FUNCTION;

  static std::optional<Arguments> _get_literal_arguments(const openqasm3::ast::BinaryExpression& node);
  static Function _get_func_to_calculate(const openqasm3::ast::BinaryExpression& node);
  // The rules of binop_rules; without `types` only literal operands have a known type.
  static openqasm3::ast::ExprPtr _calculate_heuristics(const openqasm3::ast::BinaryExpression& node);
  static openqasm3::ast::ExprPtr _calculate_heuristics(const openqasm3::ast::BinaryExpression& node, OperandTypes& types);
  // "1 + 2", "True && False"
  static std::string _create_expression_string(const openqasm3::ast::BinaryExpression& node, const Arguments& arguments);
  static PlainValue _calculate(Function func, const Arguments& arguments) { return func(arguments[0], arguments[1]); }
};

class UnaryExpressionModifier : public ExpressionModifier<UnaryExpressionModifier, openqasm3::ast::UnaryExpression> {
 public:
  using Arguments = std::array<PlainValue, 1>;
  using Function = PlainValue (*)(const PlainValue&);
  // "!", "-", "~".
  static const std::array<std::pair<openqasm3::ast::UnaryOperator, Function>, 3> UNARY_OPERATOR_TO_FUNCTION;

  static std::optional<Arguments> _get_literal_arguments(const openqasm3::ast::UnaryExpression& node);
  static Function _get_func_to_calculate(const openqasm3::ast::UnaryExpression& node);
  static openqasm3::ast::ExprPtr _calculate_heuristics(const openqasm3::ast::UnaryExpression& node);
  // "-(5)", "~(2.5)"
  static std::string _create_expression_string(const openqasm3::ast::UnaryExpression& node, const Arguments& arguments);
  static PlainValue _calculate(Function func, const Arguments& arguments) { return func(arguments[0]); }

  // -(-x) -> x itself (two levels only); any other node is returned as it is.
  static openqasm3::ast::ExprPtr resolve_minus_minus_heuristic(
      const openqasm3::ast::Ptr<openqasm3::ast::UnaryExpression>& node);
};

class FunctionCallModifier : public ExpressionModifier<FunctionCallModifier, openqasm3::ast::FunctionCall> {
 public:
  using Arguments = std::vector<PlainValue>;
  using Function = PlainValue (*)(const Arguments&);
  // exp, log, mod, pow, cos, sin, tan, arccos, arcsin, arctan, ceiling, floor, sqrt. A function
  // checks its own number of arguments.
  static const std::array<std::pair<std::string_view, Function>, 13> NAME_TO_MATH_FUNCTION;

  static std::optional<Arguments> _get_literal_arguments(const openqasm3::ast::FunctionCall& node);
  static Function _get_func_to_calculate(const openqasm3::ast::FunctionCall& node);
  // No rule: null.
  static openqasm3::ast::ExprPtr _calculate_heuristics(const openqasm3::ast::FunctionCall& node);
  // "pow(2, 10)", "sin()"
  static std::string _create_expression_string(const openqasm3::ast::FunctionCall& node, const Arguments& arguments);
  static PlainValue _calculate(Function func, const Arguments& arguments) { return func(arguments); }
};

// The types that declarations give to names, for the identities: a name declared with two
// different types has none (unknown), and so has a name never declared. Declarations are many and
// questions few (a type is asked only where an identity matches), and the questions mostly ask
// again about the same few names: a declaration is only noted, in order, and a question takes the
// notes in. A note of a name asked about before goes to the small table of such names; the others
// wait, and go to the table of all names only when a name not asked about before is asked, so
// that a program of many declared names and a few asked ones keeps the big table empty, where one
// cache miss per declaration would go into it. Each note enters each table at most once. The names
// are copied.
class DeclaredTypes {
 public:
  void declare(std::string_view name, ValueType type);
  ValueType find(std::string_view name);

 private:
  struct Note {
    std::uint32_t hash;  // computed only when the note goes to a table
    std::string_view name;
    ValueType type;
  };
  // Open addressing over the entries, kept small so that most of the table stays in the caches:
  // each slot holds the name's hash, compared before the name, and 1 + the entry's index (0: an
  // empty slot).
  class Table {
   public:
    // Takes in one more declaration of the name; with `declared` false, enters the name alone.
    void enter(const Note& note, bool declared = true);
    // The type of a name, null where the table does not hold it. Valid until the next enter().
    const ValueType* find(std::uint32_t hash, std::string_view name) const;
    // Room for `more` names on top of those held, so that enter() does not grow the slots.
    void reserve(std::size_t more);
    // The slot of hash & mask, to be fetched ahead of enter().
    const void* home(std::uint32_t hash) const;

   private:
    struct Entry {
      std::string_view name;
      ValueType type;     // unknown until declared
      bool declared;
    };
    struct Slot {
      std::uint32_t hash = 0;
      std::uint32_t entry = 0;
    };
    // The slot holding `name`, or the empty slot where it goes (the slots are not empty).
    std::size_t slot_of(std::uint32_t hash, std::string_view name) const;

    std::vector<Entry> entries_;
    std::vector<Slot> slots_;  // a power of two long, at most three quarters full
  };

  static std::uint32_t hash(std::string_view name);
  std::string_view copy(std::string_view name);
  void take_notes();

  std::pmr::monotonic_buffer_resource names_;  // the copies of the names, freed with the table
  Table asked_;   // the names asked about so far, with all their declarations
  utils::NameScreen asked_screen_;  // of asked_: most notes are of other names, and go unhashed
  Table others_;  // the declarations that waited until a name not asked about before was asked
  // The notes not yet in a table: [0, checked_) are of names not asked about, [checked_, end)
  // are still to be checked.
  std::vector<Note> notes_;
  std::size_t checked_ = 0;
};

// The walk: every node goes through the generic walk (switch cases entered); binary and unary
// expressions and calls are then replaced by generic_modify_node's result (for a walker of this
// class itself, the same result with the children folded in their fields, fold_call / fold_unary). A chain of binary
// expressions along their left operands is folded in a loop, not by recursion, and the operands
// of a binary expression are folded in their fields, with no Rewrite made for an operand that
// stays. Declarations met
// on the way (classical, input/output, constant, loop variables) give their names a type for the
// identities; a name declared with two different types has none.
class ConstantExpressionsTransformer : public Transformer<ConstantExpressionsTransformer> {
 public:
  ConstantExpressionsTransformer();

  openqasm3::ast::Rewrite visit_ClassicalDeclaration(const openqasm3::ast::Ptr<openqasm3::ast::ClassicalDeclaration>& node) override;
  openqasm3::ast::Rewrite visit_IODeclaration(const openqasm3::ast::Ptr<openqasm3::ast::IODeclaration>& node) override;
  openqasm3::ast::Rewrite visit_ConstantDeclaration(const openqasm3::ast::Ptr<openqasm3::ast::ConstantDeclaration>& node) override;
  openqasm3::ast::Rewrite visit_ForInLoop(const openqasm3::ast::Ptr<openqasm3::ast::ForInLoop>& node) override;

  openqasm3::ast::Rewrite visit_BinaryExpression(const openqasm3::ast::Ptr<openqasm3::ast::BinaryExpression>& node) override;
  openqasm3::ast::Rewrite visit_UnaryExpression(const openqasm3::ast::Ptr<openqasm3::ast::UnaryExpression>& node) override;
  openqasm3::ast::Rewrite visit_FunctionCall(const openqasm3::ast::Ptr<openqasm3::ast::FunctionCall>& node) override;

  // Folds the children, then returns the node's replacement. An AssertionError ("Node was
  // modified during the generic visit, aborting.") when the child walk did not give the node back
  // as a node of its own class; NotImplementedError ("Unsupported visit node: <class ...>") for a
  // node that is no binary or unary expression or call.
  openqasm3::ast::ExprPtr generic_modify_node(const openqasm3::ast::NodePtr& node);

  // The type of an expression's value from the literals and the declarations met so far; unknown
  // where that does not tell it.
  ValueType type_of(const openqasm3::ast::ExprPtr& expression) const;

 private:
  ValueType leaf_type(const openqasm3::ast::Expression& node) const;
  void declare(const openqasm3::ast::Ptr<openqasm3::ast::Identifier>& name, const openqasm3::ast::TypePtr& type);
  // Sets the operand field `child` to its visit's result (null stays null).
  void fold_operand(openqasm3::ast::ExprPtr& child);
  // The chain of binary expressions down the left operands of `top`, folded; the replacement of
  // `top`, or null where it stays. `top_alone`: only one field holds `top`, which its replacement
  // takes, so that a literal operand that only `top` holds may become the replacement.
  openqasm3::ast::ExprPtr fold_chain(openqasm3::ast::BinaryExpression& top, bool top_alone);
  // A call's arguments or a unary expression's operand folded in their fields, then the node's
  // replacement, or null where it stays: generic_modify_node's result with no handle of the node
  // made and no Rewrite, for a walker of this very class (plain()), whose generic walk of these
  // nodes is that of their expression fields.
  openqasm3::ast::ExprPtr fold_call(openqasm3::ast::FunctionCall& call);
  openqasm3::ast::ExprPtr fold_unary(openqasm3::ast::UnaryExpression& unary);
  // A declaration's generic walk: its children are folded, and the declaration stays.
  template <class Node> openqasm3::ast::Rewrite walk_children(const openqasm3::ast::Ptr<Node>& node);
  // Whether this walker is of this class itself, not of a derived one that may walk otherwise.
  bool plain() const { return typeid(*this) == typeid(ConstantExpressionsTransformer); }

  // Mutable: a question takes in the declarations noted before it.
  mutable DeclaredTypes declared_;
  // The links of the chains being folded and the spines being typed, innermost calls on top:
  // kept from call to call so that a chain costs no allocation.
  std::vector<openqasm3::ast::BinaryExpression*> chain_;
  mutable std::vector<const openqasm3::ast::BinaryExpression*> spine_;
};

class ExpressionsOptimizationStep : public Optimization {
 public:
  explicit ExpressionsOptimizationStep(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, folded tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::code_resolving
