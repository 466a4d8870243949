#include "vell_qasm/passes/code_generation/emission.hpp"

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_map>

#include "vell_qasm/errors.hpp"
#include "openqasm3/prefetch.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_qasm/plain_arithmetic.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;
namespace tavo = vell::tavo;
using configurations::HwQubit;
using configurations::HwQubitIndex;
using configurations::TavoResult;

namespace {

// The text form of a node's class for messages; an absent node reads as NoneType, as elsewhere.
std::string class_text(const ast::NodePtr& node) {
  return node ? node->node_class().text() : std::string("<class 'NoneType'>");
}

// What the caller's input value is assigned as; nullopt for none.
std::optional<tavo_var::ScalarOrList> input_to_assign(const InputValue& value) {
  return std::visit(
      [](const auto& v) -> std::optional<tavo_var::ScalarOrList> {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::monostate>) {
          return std::nullopt;
        } else if constexpr (std::is_same_v<V, std::vector<PlainValue>>) {
          tavo_var::ScalarList list;
          list.reserve(v.size());
          for (const PlainValue& element : v)
            list.push_back(std::visit([](auto x) { return vell::tavo::Value(x); }, element));
          return tavo_var::ScalarOrList(std::move(list));
        } else {
          return tavo_var::ScalarOrList(vell::tavo::Value(v));
        }
      },
      value);
}

// A condition as the SDK's blocks take it: a bool. A number (or a bit register read as one) is
// true where it is not zero, as the language reads `if (n)` and `while (c)`.
tavo::Value as_condition(const LoweredValue& condition) {
  if (auto plain = condition.plain()) return tavo::Value(plain::truth(*plain));
  tavo::Value scalar = condition.scalar();
  if (tavo::dtype_of(scalar) == tavo::DType::Bool) return scalar;
  return tavo::Cast::to_bool(scalar);
}

// Logical negation: a plain condition is negated by its truth value, an SDK one by the SDK's `~`.
tavo::Value negated(const LoweredValue& condition) {
  if (auto plain = condition.plain()) return tavo::Value(!plain::truth(*plain));
  return tavo::unary(tavo::UnaryOp::Inv, as_condition(condition));
}

// Gate modifiers change what a gate does; emitting the bare gate would silently do something else.
void refuse_modifiers(const std::vector<ast::Ptr<ast::QuantumGateModifier>>& modifiers, std::string_view name) {
  if (!modifiers.empty())
    throw NotImplementedError("Gate modifiers are not supported by TAVO code generation, found on " +
                              std::string(name));
}

void align_if_needed(const std::vector<tavo::Name>& elements) {
  if (elements.size() >= 2) tavo::align(elements);
}

const std::vector<ast::StmtPtr>& statements_of(const ast::Ptr<ast::CompoundStatement>& block) {
  static const std::vector<ast::StmtPtr> none;
  return block ? block->statements : none;
}

}  // namespace

MissingInputException::MissingInputException(ast::Ptr<TavoDeclaration> node_)
    : node(std::move(node_)),
      message_("The input " + (node && node->var ? node->var->name() : std::string("None")) +
               " was not provided to the compiler") {}

// ---- visitor: construction, lowering, declarations and assignments ----

CodeGenerationVisitor::CodeGenerationVisitor(const configurations::MachineSetup& machine_setup,
                                             programs::Tavo1Program& program, const Inputs& inputs,
                                             bool is_inside_scope)
    : _machine_setup(machine_setup), _context(program), _inputs(inputs), _is_inside_scope(is_inside_scope) {}

LoweredValue CodeGenerationVisitor::_lower_expression(const ast::ExprPtr& oq_expression) const {
  return lower_expression(oq_expression, _context.variables_db());
}

void CodeGenerationVisitor::visit_TavoDeclaration(TavoDeclaration& node) {
  // Only a refused input holds the handle: it is made (a reference count up and down) for that
  // case alone.
  _declare_variable(node, _is_inside_scope && node.is_input ? handle() : nullptr);
}

const std::string& CodeGenerationVisitor::_declare_variable(TavoDeclaration& node, const ast::NodePtr& handle) {
  const tavo_var::TavoVarPtr& var = node.var;
  check(var != nullptr, "A TavoDeclaration carries its variable");
  std::optional<tavo_var::ScalarOrList> input_value;
  if (auto found = _inputs.find(var->name()); found != _inputs.end()) input_value = input_to_assign(found->second);

  if (_is_inside_scope && node.is_input && !input_value)
    // A declaration visited by reference has no handle: the exception then holds a copy of it.
    throw MissingInputException(handle ? std::static_pointer_cast<TavoDeclaration>(handle)
                                       : ast::make<TavoDeclaration>(node));
  const bool is_stream = !_is_inside_scope && !input_value;
  _context.declare_variable(var, node.is_input, node.is_output, is_stream);
  if (input_value) _context.assign(var->name(), *input_value);
  return var->name();
}

void CodeGenerationVisitor::visit_ClassicalAssignment(ast::ClassicalAssignment& node) {
  check(node.op == ast::AssignmentOperator::assign, "Only regular assignment is supported");
  const ast::NodePtr& target = node.lvalue;
  const LoweredValue value = _lower_expression(node.rvalue);
  _assign_to_target(target, value);
}

void CodeGenerationVisitor::_assign_to_target(const ast::NodePtr& target, const LoweredValue& value) {
  if (auto* identifier = ast::dyn_cast<ast::Identifier>(target.get())) {
    // The wrapper is looked up once, for its kind and for the assignment (as _context[name] and
    // _context.assign(name, ...) would, one after the other).
    tavo_var::TavoVarBase& variable = _context.variables_db().wrapper(identifier->name);
    const tavo_var::ScalarOrList assigned = value.for_target(variable.tavo_value_exp().is_array());
    programs::with_program_scope(_context, [&] { variable.assign(assigned); });
  } else if (auto* indexed = ast::dyn_cast<ast::IndexedIdentifier>(target.get())) {
    check(indexed->indices.size() == 1, "Only 1-dimensional arrays are supported.");
    check(indexed->name != nullptr, "An indexed identifier names its array");
    const LoweredValue index = lower_expression(single_index(indexed->indices.front()), _context.variables_db());
    _context.assign_at_index(indexed->name->name, index.scalar(), value.scalar());
  } else {
    throw ValueError("Unexpected target type - " + class_text(target));
  }
}

// ---- operations ----

namespace {

// Appends the operands' hardware-qubit indices to `indices`.
void append_qubit_indices(std::span<const ast::NodePtr> qubits, std::vector<HwQubitIndex>& indices) {
  for (const ast::NodePtr& qubit : qubits) {
    const auto* hw_qubit = ast::dyn_cast<HwQubit>(qubit.get());
    if (hw_qubit == nullptr) {
      // Qubit allocation binds every declared qubit: an operand left unbound names no register.
      std::string name = qubit ? std::string(qubit->class_name()) : "nothing";
      if (const auto* id = ast::dyn_cast<ast::Identifier>(qubit.get())) name = "'" + id->name + "'";
      if (const auto* indexed = ast::dyn_cast<ast::IndexedIdentifier>(qubit.get()); indexed && indexed->name)
        name = "'" + indexed->name->name + "'";
      throw AssertionError("The qubit operand " + name + " is not bound to a hardware qubit");
    }
    indices.push_back(hw_qubit->index);
  }
}

}  // namespace

std::vector<HwQubitIndex> CodeGenerationVisitor::get_qubit_indices(std::span<const ast::NodePtr> qubits) {
  std::vector<HwQubitIndex> indices;
  indices.reserve(qubits.size());
  append_qubit_indices(qubits, indices);
  return indices;
}

TavoResult CodeGenerationVisitor::run_operation(std::string_view name, std::span<const ast::NodePtr> qubits,
                                                std::span<const ast::ExprPtr> params) {
  // The argument and index vectors are the visitor's, reused by every operation: nothing in an
  // operation runs another one.
  configurations::TavoArgs& arguments = _arguments;
  arguments.clear();
  for (const ast::ExprPtr& param : params) arguments.push_back(_lower_expression(param).scalar());
  _indices.clear();
  append_qubit_indices(qubits, _indices);
  const CallKeyView key{name, _indices, params.size()};
  auto found = _resolved_calls.find(key);
  if (found == _resolved_calls.end()) {
    configurations::ResolvedOperation resolved = _machine_setup.resolve_operation(name, _indices, arguments);
    check(resolved.params.size() >= params.size());
    ResolvedCall call{resolved.func,
                      configurations::TavoArgs(resolved.params.begin() + static_cast<std::ptrdiff_t>(params.size()),
                                               resolved.params.end()),
                      {}};
    call.elements_to_align.reserve(resolved.elements_to_align.size());
    for (const configurations::Element& element : resolved.elements_to_align)
      call.elements_to_align.emplace_back(element);
    found = _resolved_calls.emplace(CallKey{std::string(name), _indices, params.size()}, std::move(call)).first;
  }
  const ResolvedCall& call = found->second;
  arguments.insert(arguments.end(), call.qubit_arguments.begin(), call.qubit_arguments.end());
  align_if_needed(call.elements_to_align);
  TavoResult result = call.func(arguments);
  align_if_needed(call.elements_to_align);
  return result;
}

void CodeGenerationVisitor::visit_QuantumGate(ast::QuantumGate& node) {
  check(node.name != nullptr, "A gate call names its gate");
  refuse_modifiers(node.modifiers, node.name->name);
  run_operation(node.name->name, node.qubits, node.arguments);
}

void CodeGenerationVisitor::visit_QuantumPhase(ast::QuantumPhase& node) {
  refuse_modifiers(node.modifiers, "gphase");
  const ast::ExprPtr params[] = {node.argument};
  run_operation("gphase", node.qubits, params);
}

void CodeGenerationVisitor::visit_DelayInstruction(ast::DelayInstruction& node) {
  const ast::ExprPtr params[] = {node.duration};
  run_operation("delay", node.qubits, params);
}

void CodeGenerationVisitor::visit_QuantumReset(ast::QuantumReset& node) {
  const ast::NodePtr qubits[] = {node.qubits};
  run_operation("reset", qubits);
}

void CodeGenerationVisitor::visit_QuantumBarrier(ast::QuantumBarrier& node) { run_operation("barrier", node.qubits); }

void CodeGenerationVisitor::visit_QuantumMeasurementStatement(ast::QuantumMeasurementStatement& node) {
  const auto* measure = ast::dyn_cast<ast::QuantumMeasurement>(node.measure.get());
  check(measure != nullptr, "A measurement statement holds a measurement");
  const ast::NodePtr qubits[] = {measure->qubit};
  TavoResult measurement = run_operation("measure", qubits);
  check(measurement.has_value());
  if (node.target) _assign_to_target(node.target, LoweredValue(std::move(*measurement)));
}

TavoResult CodeGenerationVisitor::call_function(const ast::FunctionCall& node) {
  check(node.name != nullptr, "A function call names its function");
  const std::string& name = node.name->name;
  for (const auto& [function_name, function] : classical_function_mapping) {
    if (function_name != name) continue;
    std::vector<tavo::Value> arguments;
    arguments.reserve(node.arguments.size());
    for (const ast::ExprPtr& argument : node.arguments) arguments.push_back(_lower_expression(argument).scalar());
    return tavo::Value(tavo::Math::apply(function, arguments));
  }
  return run_operation(name, {}, node.arguments);
}

void CodeGenerationVisitor::visit_FunctionCall(ast::FunctionCall& node) { call_function(node); }

// ---- control flow ----

namespace {

// Emitting a statement follows pointers from its node: to its operands' nodes, which the steps
// that rewrote them made far from the statement (hardware qubits, folded expressions), to the
// lists that hold them, and for a declaration to its variable wrapper and the wrapper's place in
// the variables table. In a tree that outgrows the caches each hop is a miss; asking for one hop
// per statement, a statement ahead of the next, lets every line arrive before it is read.

// What the fields of `node` point to (two statements ahead: the node itself has arrived).
void prefetch_fields(const ast::QASMNode& node) {
  switch (node.library_kind()) {
    case ast::NodeKind::QuantumGate: {
      const auto& gate = static_cast<const ast::QuantumGate&>(node);
      __builtin_prefetch(gate.qubits.data());
      __builtin_prefetch(gate.arguments.data());
      return;
    }
    case ast::NodeKind::ClassicalAssignment: {
      const auto& assignment = static_cast<const ast::ClassicalAssignment&>(node);
      __builtin_prefetch(assignment.lvalue.get());
      __builtin_prefetch(assignment.rvalue.get());
      return;
    }
    case ast::NodeKind::QuantumMeasurementStatement: {
      const auto& measurement = static_cast<const ast::QuantumMeasurementStatement&>(node);
      __builtin_prefetch(measurement.measure.get());
      __builtin_prefetch(measurement.target.get());
      return;
    }
    case ast::NodeKind::BranchingStatement: {
      const auto& branch = static_cast<const ast::BranchingStatement&>(node);
      __builtin_prefetch(branch.condition.get());
      __builtin_prefetch(branch.if_block.data());
      return;
    }
    case ast::NodeKind::WhileLoop:
      __builtin_prefetch(static_cast<const ast::WhileLoop&>(node).while_condition.get());
      return;
    case ast::NodeKind::External:
      if (const auto* declaration = ast::dyn_cast<TavoDeclaration>(&node)) __builtin_prefetch(declaration->var.get());
      return;
    default:
      return;
  }
}

void prefetch_children(const ast::ExprPtr& expression) {
  if (const auto* binary = ast::dyn_cast<ast::BinaryExpression>(expression.get())) {
    __builtin_prefetch(binary->lhs.get());
    __builtin_prefetch(binary->rhs.get());
  }
}

// What those point to in turn (one statement ahead).
void prefetch_operands(const ast::QASMNode& node, const programs::VariablesDB& variables) {
  switch (node.library_kind()) {
    case ast::NodeKind::QuantumGate: {
      const auto& gate = static_cast<const ast::QuantumGate&>(node);
      for (const ast::NodePtr& qubit : gate.qubits) __builtin_prefetch(qubit.get());
      for (const ast::ExprPtr& argument : gate.arguments) __builtin_prefetch(argument.get());
      return;
    }
    case ast::NodeKind::ClassicalAssignment: {
      const auto& assignment = static_cast<const ast::ClassicalAssignment&>(node);
      prefetch_children(assignment.rvalue);
      if (const auto* identifier = ast::dyn_cast<ast::Identifier>(assignment.lvalue.get()))
        variables.prefetch_slot(programs::VariablesDB::hashed(identifier->name));
      return;
    }
    case ast::NodeKind::QuantumMeasurementStatement:
      if (const auto* measure =
              ast::dyn_cast<ast::QuantumMeasurement>(static_cast<const ast::QuantumMeasurementStatement&>(node).measure.get()))
        __builtin_prefetch(measure->qubit.get());
      return;
    case ast::NodeKind::BranchingStatement: {
      const auto& branch = static_cast<const ast::BranchingStatement&>(node);
      prefetch_children(branch.condition);
      if (!branch.if_block.empty()) __builtin_prefetch(branch.if_block.front().get());
      return;
    }
    case ast::NodeKind::WhileLoop:
      prefetch_children(static_cast<const ast::WhileLoop&>(node).while_condition);
      return;
    case ast::NodeKind::External:
      if (const auto* declaration = ast::dyn_cast<TavoDeclaration>(&node); declaration && declaration->var)
        variables.prefetch_slot(programs::VariablesDB::hashed(declaration->var->name()));
      return;
    default:
      return;
  }
}

// Visits `statements` in order. A long program's tree outgrows the caches: the statement a few
// places ahead is asked for, with its subtree, and the nodes the next two statements lead to (see
// above), while this one is emitted. The subtree is taken as the two kilobytes below the node:
// by the time code is generated, the steps before have added nodes of their own next to the
// parser's (measured: a narrower window leaves misses that cost more than its prefetches).
template <class Element>
void visit_in_order(ast::QASMVisitor& visitor, const programs::VariablesDB& variables,
                    std::span<const ast::Ptr<Element>> statements) {
  for (std::size_t i = 0; i < statements.size(); ++i) {
    ast::prefetch_subtree_ahead(statements, i, 4, 2048);
    if (i + 2 < statements.size() && statements[i + 2]) prefetch_fields(*statements[i + 2]);
    if (i + 1 < statements.size() && statements[i + 1]) prefetch_operands(*statements[i + 1], variables);
    // As visit() does, with the statement's own handle: visit() takes a handle to a node, which
    // a statement's handle would be converted into, a reference count up and down.
    if (const auto& statement = statements[i]) statement->accept(visitor, ast::detail::handle_ref(statement));
  }
}

}  // namespace

void CodeGenerationVisitor::_visit_all(std::span<const ast::StmtPtr> statements) {
  visit_in_order(*this, _context.variables_db(), statements);
}

void CodeGenerationVisitor::visit_BranchingStatement(ast::BranchingStatement& node) {
  const bool has_if = !node.if_block.empty();
  const bool has_else = !node.else_block.empty();
  if (!has_if && !has_else) return;
  const LoweredValue condition = _lower_expression(node.condition);
  if (!has_if) {
    _run_block_in_context(tavo::if_, node.else_block, negated(condition));
    return;
  }
  _run_block_in_context(tavo::if_, node.if_block, as_condition(condition));
  if (has_else) _run_block_in_context(tavo::else_, node.else_block);
}

void CodeGenerationVisitor::visit_WhileLoop(ast::WhileLoop& node) {
  if (node.block.empty()) return;
  const LoweredValue condition = _lower_expression(node.while_condition);
  _run_block_in_context(tavo::while_, node.block, as_condition(condition));
}

namespace {

// The bounds and step of a range, lowered before the loop's iterator exists.
struct LoweredRange {
  tavo::Value start;
  tavo::Value end;
  tavo::Value step;
};

// The sign of a plain step (-1, 0 or 1), nullopt for a step known only at run time. A NaN counts
// as positive, for the SDK to refuse.
std::optional<int> plain_sign(const tavo::Value& step) {
  if (const auto* b = std::get_if<bool>(&step)) return *b ? 1 : 0;
  if (const auto* i = std::get_if<std::int64_t>(&step)) return (*i > 0) - (*i < 0);
  if (const auto* d = std::get_if<double>(&step)) return *d < 0 ? -1 : (*d == 0 ? 0 : 1);
  return std::nullopt;
}

LoweredRange lower_range(const CodeGenerationVisitor& visitor, const ast::RangeDefinition& range) {
  check(range.start != nullptr && range.end != nullptr);
  LoweredRange lowered{visitor._lower_expression(range.start).scalar(), visitor._lower_expression(range.end).scalar(),
                       tavo::Value(std::int64_t{1})};
  if (range.step) lowered.step = visitor._lower_expression(range.step).scalar();
  if (plain_sign(lowered.step) == 0) throw ValueError("A range with a step of 0 never reaches its end");
  return lowered;
}

// Whether the loop goes on: up to the end for a positive step, down to it for a negative one; a
// step known only at run time decides by its sign then (a step of 0 runs no pass).
tavo::Value range_condition(const tavo::Expr& iterator, const LoweredRange& range) {
  using tavo::BinaryOp;
  if (const auto sign = plain_sign(range.step))
    return tavo::binary(*sign < 0 ? BinaryOp::Ge : BinaryOp::Le, iterator, range.end);
  const tavo::Value zero(std::int64_t{0});
  const tavo::Expr up = tavo::binary(BinaryOp::And, tavo::binary(BinaryOp::Gt, range.step, zero),
                                     tavo::binary(BinaryOp::Le, iterator, range.end));
  const tavo::Expr down = tavo::binary(BinaryOp::And, tavo::binary(BinaryOp::Lt, range.step, zero),
                                       tavo::binary(BinaryOp::Ge, iterator, range.end));
  return tavo::binary(BinaryOp::Or, up, down);
}

}  // namespace

void CodeGenerationVisitor::visit_ForInLoop(ast::ForInLoop& node) {
  if (node.block.empty()) return;
  check(node.identifier != nullptr, "A for loop names its iterator");

  const auto* range = ast::dyn_cast<ast::RangeDefinition>(node.set_declaration.get());
  std::optional<LoweredRange> lowered_range;
  if (range != nullptr) {
    lowered_range = lower_range(*this, *range);
    // The end and step are read once, before the first pass: a body that changes what they are
    // made of does not change the number of passes.
    lowered_range->end = _evaluated_once(range->end, lowered_range->end, node);
    if (range->step) lowered_range->step = _evaluated_once(range->step, lowered_range->step, node);
  }

  std::string name = node.identifier->name;
  if (name == "_") name = "_" + std::to_string(_underscore_counter++);
  const ast::NodePtr declaration = ast::make<TavoDeclaration>(name, node.type);
  const std::string& declared = _declare_variable(static_cast<TavoDeclaration&>(*declaration), declaration);
  const tavo::Expr iterator = _context[declared];
  check(iterator.is_variable());

  const ast::NodePtr& set = node.set_declaration;
  if (auto* discrete = ast::dyn_cast<ast::DiscreteSet>(set.get())) {
    std::vector<tavo::Value> values;
    values.reserve(discrete->values.size());
    for (const ast::ExprPtr& value : discrete->values) {
      auto plain = utils::qasm_literal_value(value);
      if (!plain) throw NotImplementedError("Non literal values are not supported by TAVO.");
      values.push_back(std::visit([](auto v) { return tavo::Value(v); }, *plain));
    }
    _run_block_in_context([](const tavo::Expr& var, const std::vector<tavo::Value>& list) { return tavo::for_each_(var, list); },
                          node.block, iterator, values);
  } else if (auto* identifier = ast::dyn_cast<ast::Identifier>(set.get())) {
    const tavo::Expr array = _context[identifier->name];
    _run_block_in_context([](const tavo::Expr& var, const tavo::Expr& over) { return tavo::for_each_(var, over); },
                          node.block, iterator, array);
  } else if (lowered_range) {
    // A body that assigns the loop variable must not change the values it takes: the loop then
    // counts in a hidden variable and copies it into the loop variable at the top of each pass.
    const bool assigned = _is_assigned_in(node.identifier->name, node);
    const tavo::Expr counter = assigned ? tavo::declare(iterator.dtype(), tavo::zero(iterator.dtype())) : iterator;
    const tavo::Value condition = range_condition(counter, *lowered_range);
    const tavo::Value update = tavo::binary(tavo::BinaryOp::Add, counter, lowered_range->step);
    vell::tavo::ScopeGuard loop = tavo::for_(counter, lowered_range->start, condition, update);
    if (assigned) tavo::assign(iterator, counter);
    _visit_all(node.block);
  } else {
    throw TypeError("Type of set declaration - " + class_text(set) + " is not supported");
  }
}

tavo::Value CodeGenerationVisitor::_evaluated_once(const ast::ExprPtr& source, const tavo::Value& lowered,
                                                   const ast::ForInLoop& loop) const {
  if (!std::holds_alternative<tavo::Expr>(lowered)) return lowered;
  // A variable that the body does not assign keeps its value while the loop runs: no copy needed.
  if (source && ast::is_exactly<ast::Identifier>(*source) &&
      !_is_assigned_in(static_cast<const ast::Identifier&>(*source).name, loop))
    return lowered;
  const tavo::DType type = tavo::dtype_of(lowered);
  tavo::Expr held = tavo::declare(type, tavo::zero(type));
  tavo::assign(held, lowered);
  return held;
}

// Where assignments and measurements in the body of a for loop write, in walk order, and which of
// those writes lie in the body of each loop nested in it: a loop's writes are one run of
// positions. Made for the outermost loop that asks (see _is_assigned_in), so that the loops inside
// it find their answers without walking their bodies again, and statements outside every loop are
// never walked for it.
struct CodeGenerationVisitor::Assignments : public ast::QASMVisitor {
  Assignments() : QASMVisitor(ast::SwitchCases::enter) {}

  // A program writes thousands of names, most of them once: rather than a list per name, the
  // writes are noted as (name number, position) in walk order and, once the walk is done
  // (finish), laid out by name number, each name's positions ascending, in one vector.
  std::unordered_map<std::string, std::uint32_t> name_numbers;
  std::vector<std::pair<std::uint32_t, std::size_t>> noted;
  std::vector<std::size_t> positions;  // by name number, then ascending
  std::vector<std::size_t> starts;     // name number -> its first place in positions; one more at the end
  std::vector<std::size_t> fill;       // finish()'s scratch, kept for the next loop
  // Every loop met with its run, sorted by address at finish: a loop is recorded without an
  // allocation of its own.
  struct Loop {
    const ast::ForInLoop* loop;
    std::pair<std::size_t, std::size_t> run;
  };
  std::vector<Loop> loops;
  std::size_t next = 0;
  std::size_t loop_depth = 0;

  // Forgets everything, keeping the memory, to note the writes of another loop.
  void reset() {
    // Clearing a hash map costs its bucket count: a map grown by one large loop is dropped, so
    // that the many small loops after it do not each pay for it.
    if (name_numbers.size() > 64) {
      name_numbers = {};
    } else {
      name_numbers.clear();
    }
    noted.clear();
    positions.clear();
    starts.clear();
    loops.clear();
    next = 0;
    loop_depth = 0;
  }

  // Expressions hold no statements: the walk stops at the statements that hold only
  // expressions (and operands), which are most of a program's nodes.
  void visit_ClassicalAssignment(ast::ClassicalAssignment& node) override { note(node.lvalue); }
  void visit_QuantumMeasurementStatement(ast::QuantumMeasurementStatement& node) override { note(node.target); }
  void visit_QuantumGate(ast::QuantumGate&) override {}
  void visit_QuantumPhase(ast::QuantumPhase&) override {}
  void visit_QuantumReset(ast::QuantumReset&) override {}
  void visit_QuantumBarrier(ast::QuantumBarrier&) override {}
  void visit_DelayInstruction(ast::DelayInstruction&) override {}
  void visit_ExpressionStatement(ast::ExpressionStatement&) override {}
  // Of the blocks, only the statements: conditions, ranges and switch values are expressions.
  void visit_BranchingStatement(ast::BranchingStatement& node) override {
    walk(node.if_block);
    walk(node.else_block);
  }
  void visit_WhileLoop(ast::WhileLoop& node) override { walk(node.block); }
  void visit_SwitchStatement(ast::SwitchStatement& node) override {
    for (const ast::SwitchCase& switch_case : node.cases)
      if (switch_case.block) visit(switch_case.block);
    if (node.default_) visit(node.default_);
  }
  void visit_ForInLoop(ast::ForInLoop& node) override {
    const std::size_t first = next;
    ++loop_depth;
    walk(node.block);
    --loop_depth;
    loops.push_back({&node, {first, next}});
  }
  // Each statement through its own handle, as visit_in_order does.
  void walk(const std::vector<ast::StmtPtr>& statements) {
    for (const ast::StmtPtr& statement : statements)
      if (statement) statement->accept(*this, ast::detail::handle_ref(statement));
  }

  void finish() {
    starts.assign(name_numbers.size() + 1, 0);
    for (const auto& write : noted) ++starts[write.first + 1];
    for (std::size_t i = 1; i < starts.size(); ++i) starts[i] += starts[i - 1];
    positions.resize(noted.size());
    fill.assign(starts.begin(), starts.end() - 1);
    for (const auto& [number, position] : noted) positions[fill[number]++] = position;
    noted.clear();
    // A loop walked twice (a tree that shares a block) keeps its first run: both are the same.
    // Most loops hold none: the sort (and its buffer) is left out for a single one.
    if (loops.size() > 1)
      std::stable_sort(loops.begin(), loops.end(), [](const Loop& a, const Loop& b) { return std::less<>()(a.loop, b.loop); });
  }

  // The run of `loop`, or none when the walk did not meet it.
  std::optional<std::pair<std::size_t, std::size_t>> run_of(const ast::ForInLoop& loop) const {
    auto at = std::lower_bound(loops.begin(), loops.end(), &loop,
                               [](const Loop& entry, const ast::ForInLoop* key) { return std::less<>()(entry.loop, key); });
    if (at == loops.end() || at->loop != &loop) return std::nullopt;
    return at->run;
  }

  bool in(const std::string& name, std::pair<std::size_t, std::size_t> run) const {
    if (run.first == run.second) return false;
    auto found = name_numbers.find(name);
    if (found == name_numbers.end()) return false;
    const auto first = positions.begin() + static_cast<std::ptrdiff_t>(starts[found->second]);
    const auto last = positions.begin() + static_cast<std::ptrdiff_t>(starts[found->second + 1]);
    auto at = std::lower_bound(first, last, run.first);
    return at != last && *at < run.second;
  }

 private:
  void note(const ast::NodePtr& target) {
    if (loop_depth == 0) return;
    const std::string* name = nullptr;
    if (const auto* identifier = ast::dyn_cast<ast::Identifier>(target.get())) name = &identifier->name;
    if (const auto* indexed = ast::dyn_cast<ast::IndexedIdentifier>(target.get()); indexed && indexed->name)
      name = &indexed->name->name;
    if (name == nullptr) return;
    const auto number = name_numbers.try_emplace(*name, static_cast<std::uint32_t>(name_numbers.size())).first->second;
    noted.emplace_back(number, next++);
  }
};

CodeGenerationVisitor::~CodeGenerationVisitor() = default;

bool CodeGenerationVisitor::_is_assigned_in(const std::string& name, const ast::ForInLoop& loop) const {
  if (!_assignments) _assignments = std::make_unique<Assignments>();
  auto run = _assignments->run_of(loop);
  if (!run) {
    // Neither this loop nor one around it has asked yet: note the writes of this loop's body,
    // and so of every loop inside it, which ask next. The walk does not change the loop.
    _assignments->reset();
    _assignments->visit_ForInLoop(const_cast<ast::ForInLoop&>(loop));
    _assignments->finish();
    run = _assignments->run_of(loop);
    check(run.has_value(), "The writes of a for loop are noted with it");
  }
  return _assignments->in(name, *run);
}

void CodeGenerationVisitor::visit_SwitchStatement(ast::SwitchStatement& node) {
  const LoweredValue target = _lower_expression(node.target);
  std::vector<std::vector<tavo::Value>> labels;
  labels.reserve(node.cases.size());
  bool listed_labels = false;  // a case with more than one label
  bool seen_false = false, seen_true = false;
  for (const ast::SwitchCase& switch_case : node.cases) {
    std::vector<tavo::Value>& values = labels.emplace_back();
    values.reserve(switch_case.values.size());
    for (const ast::ExprPtr& value : switch_case.values) {
      values.push_back(_lower_expression(value).scalar());
      if (const auto* b = std::get_if<bool>(&values.back())) (*b ? seen_true : seen_false) = true;
    }
    listed_labels = listed_labels || values.size() > 1;
  }
  // A value no case matches runs nothing (or the default): only where the labels cover every
  // value of the target's type, both truth values of a bool, may the controller skip that guard.
  const bool switch_is_unsafe =
      !node.default_ && tavo::dtype_of(target.scalar()) == tavo::DType::Bool && seen_false && seen_true;

  if (!listed_labels) {
    vell::tavo::ScopeGuard scope = tavo::switch_(target.scalar(), switch_is_unsafe);
    for (std::size_t i = 0; i < node.cases.size(); ++i)
      if (!labels[i].empty()) _run_block_in_context(tavo::case_, statements_of(node.cases[i].block), labels[i].front());
    if (node.default_) _run_block_in_context(tavo::default_, node.default_->statements);
    return;
  }
  // Cases with several labels: each block is emitted once. A first switch notes which case
  // matched (1, 2, ... in a hidden variable; 0 for none), a second one runs that case's block.
  const tavo::Expr matched = tavo::declare(tavo::DType::Int, tavo::zero(tavo::DType::Int));
  {
    vell::tavo::ScopeGuard scope = tavo::switch_(target.scalar(), switch_is_unsafe);
    for (std::size_t i = 0; i < node.cases.size(); ++i) {
      for (const tavo::Value& value : labels[i]) {
        vell::tavo::ScopeGuard label = tavo::case_(value);
        tavo::assign(matched, tavo::Value(static_cast<std::int64_t>(i + 1)));
      }
    }
  }
  vell::tavo::ScopeGuard scope = tavo::switch_(matched, false);
  for (std::size_t i = 0; i < node.cases.size(); ++i)
    _run_block_in_context(tavo::case_, statements_of(node.cases[i].block), tavo::Value(static_cast<std::int64_t>(i + 1)));
  if (node.default_) _run_block_in_context(tavo::default_, node.default_->statements);
}

void CodeGenerationVisitor::visit_Program(ast::Program& node) {
  visit_in_order(*this, _context.variables_db(), std::span<const ast::NodePtr>(node.statements));
}

void CodeGenerationVisitor::visit_CompoundStatement(ast::CompoundStatement& node) { _visit_all(node.statements); }

void CodeGenerationVisitor::visit_Box(ast::Box& node) { _visit_all(node.body); }

// ---- the step ----

CodeGeneration::CodeGeneration(std::shared_ptr<const configurations::MachineSetup> machine_setup,
                               std::shared_ptr<const Inputs> inputs)
    : Step(std::nullopt, "CodeGeneration"),
      _machine_setup(std::move(machine_setup)),
      _inputs(inputs && !inputs->empty() ? std::move(inputs) : std::make_shared<const Inputs>()) {
  if (_machine_setup == nullptr) throw TypeError("CodeGeneration needs a MachineSetup, got none");
}

programs::ProgramPtr CodeGeneration::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  const bool caller_scope_open = utils::is_inside_scope();
  std::optional<tavo::ProgramScope> scope;
  if (!caller_scope_open) scope = tavo::program();
  auto result = std::make_shared<programs::Tavo1Program>(scope);
  CodeGenerationVisitor visitor(*_machine_setup, *result, *_inputs, caller_scope_open);
  if (scope) {
    tavo::ScopeGuard entered = scope->enter();
    visitor.visit(tree);
  } else {
    visitor.visit(tree);
  }
  return result;
}

}  // namespace vell_qasm::passes::code_generation
