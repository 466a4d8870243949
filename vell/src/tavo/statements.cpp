#include "vell/tavo/statements.hpp"

#include <charconv>
#include <cmath>
#include <span>

#include "internal.hpp"
#include "vell/tavo/errors.hpp"

namespace vell::tavo {

using namespace detail;

namespace {

// Where a call may stand: an ordinary statement or block, a case of a switch, or a save_all of
// a stream-processing section.
enum class Place { Statement, SwitchCase, SaveAll };

// Out of line, so that current(), called for every statement, needs no frame for building the
// message.
[[noreturn]] [[gnu::cold]] void refuse_place(std::string_view operation, const char* why) {
  throw TavoScopeError(std::string(operation), why);
}

// Inlined: every recorded statement asks it, and with `place` known the checks fold to two.
[[gnu::always_inline]] inline Frame& current(std::string_view operation, Place place = Place::Statement) {
  auto& frames = open_frames();
  if (frames.empty()) refuse_place(operation, "no program scope is entered on this thread");
  Frame& top = frames.back();
  switch (place) {
    case Place::Statement:
      if (top.kind == FrameKind::Switch) refuse_place(operation, "only case_ and default_ may stand directly inside switch_");
      if (top.kind == FrameKind::StreamProcessing) refuse_place(operation, "only save_all may stand inside stream_processing");
      break;
    case Place::SwitchCase:
      if (top.kind != FrameKind::Switch) refuse_place(operation, "allowed only directly inside switch_");
      break;
    case Place::SaveAll:
      if (top.kind != FrameKind::StreamProcessing) refuse_place(operation, "allowed only inside stream_processing");
      break;
  }
  return top;
}

std::string described(const Value& value) {
  if (const auto* expr = std::get_if<Expr>(&value); expr != nullptr && expr->is_array()) {
    return "array variable " + expr->text();
  }
  std::string out(dtype_name(dtype_of(value)));
  out += std::holds_alternative<Expr>(value) ? " expression " : " value ";
  append_text(out, value);
  return out;
}

void check_finite(std::string_view operation, const Value& value) {
  if (const auto* real = std::get_if<double>(&value); real != nullptr && !std::isfinite(*real)) {
    throw TavoValueError(std::string(operation), "a fixed value must be finite, got " + fixed_text(*real));
  }
}

[[noreturn]] void refuse_foreign(std::string_view operation, const VarInfo& foreign) {
  throw TavoProgramError(std::string(operation), foreign.name + " is a variable of another program");
}


const ExprNode& expression(std::string_view operation, const Frame& frame, const Expr& expr,
                           std::string_view role) {
  if (expr.empty()) throw TavoValueError(std::string(operation), std::string(role) + " is an empty expression handle");
  // The node itself, not a Value copy of the handle: no reference count changes hands.
  const ExprNode& node = *expr.node();
  if (const VarInfo* foreign = foreign_variable(node, frame.program->id)) refuse_foreign(operation, *foreign);
  return node;
}

// A plain value or a scalar expression of the current program; gives its type.
DType scalar_value(std::string_view operation, const Frame& frame, const Value& value, std::string_view role) {
  if (const auto* expr = std::get_if<Expr>(&value)) {
    const ExprNode& node = expression(operation, frame, *expr, role);
    if (node.kind == NodeKind::Array) {
      throw TavoTypeError(std::string(operation), std::string(role) + " must be a scalar, got array variable " + node.var->name);
    }
    return node.dtype;
  }
  check_finite(operation, value);
  return dtype_of(value);
}

// A plain value (only), finite.
void plain_value(std::string_view operation, const Value& value, std::string_view role) {
  if (std::holds_alternative<Expr>(value)) {
    throw TavoTypeError(std::string(operation), std::string(role) + " must be a plain value, got " +
                                       (std::get<Expr>(value).empty() ? std::string("an empty expression handle")
                                                                       : described(value)));
  }
  check_finite(operation, value);
}

bool fits(DType value, DType target) {
  return value == target || target == DType::Fixed || (target == DType::Int && value == DType::Bool);
}

void check_fit(std::string_view operation, const Value& value, DType value_type, DType target,
               std::string_view target_text) {
  if (!fits(value_type, target)) {
    throw TavoTypeError(std::string(operation), text(value) + " of type " + std::string(dtype_name(value_type)) +
                                                    " does not fit " + std::string(target_text) + " of type " +
                                                    std::string(dtype_name(target)));
  }
}

void check_condition(std::string_view operation, const Frame& frame, const Value& condition) {
  if (scalar_value(operation, frame, condition, "the condition") != DType::Bool) {
    throw TavoTypeError(std::string(operation), "the condition must be bool, got " + described(condition));
  }
}

}  // namespace

Value detail::converted(const Value& value, DType type) {
  if (type == DType::Fixed) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
    if (const auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
  } else if (type == DType::Int) {
    if (const auto* b = std::get_if<bool>(&value)) return std::int64_t{*b};
  }
  return value;
}

namespace {

// "v12", "s3": a variable's or stream's name in its program, written in place rather than
// joined from temporary strings.
void number_name(std::string& name, char prefix, std::uint32_t number) {
  char buffer[16];
  buffer[0] = prefix;
  const auto end = std::to_chars(buffer + 1, buffer + sizeof buffer, number).ptr;
  name.assign(buffer, static_cast<std::size_t>(end - buffer));
}

// The scalar variable that a loop runs.
const VarInfo& loop_variable(std::string_view operation, const Frame& frame, const Expr& variable) {
  const ExprNode& node = expression(operation, frame, variable, "the loop variable");
  if (node.kind != NodeKind::Variable) {
    throw TavoTypeError(std::string(operation), "the loop variable must be a scalar variable, got " + described(Value(variable)));
  }
  return *node.var;
}

const StreamInfo& stream_of(std::string_view operation, const Frame& frame, const ResultStreamSource& stream) {
  const auto& info = Access::info(stream);
  if (!info) throw TavoValueError(std::string(operation), "empty result stream handle");
  if (info->program_id != frame.program->id) {
    throw TavoProgramError(std::string(operation), info->name + " is a stream of another program");
  }
  return *info;
}

// Room for one more open context, grown geometrically (reserving one more each time would copy
// the whole stack at every block opened).
void make_room(std::vector<Frame>& frames) {
  if (frames.size() == frames.capacity()) frames.reserve(frames.size() * 2 + 8);
}

template <class T, class... A>
void append(Frame& frame, A&&... args) {
  std::lock_guard lock(frame.program->mutex);
  frame.program->append<T>(*frame.block, std::forward<A>(args)...);
}

// Records a block statement, filled in by `fill`, and opens its body. `frame` is the top of the
// stack, which growing the stack invalidates: it is read before the stack grows.
template <class Record = BlockStmt, class Fill>
ScopeGuard open_block(Frame& frame, BlockKind block_kind, FrameKind kind, Fill&& fill, DType value_type = DType::Int) {
  std::shared_ptr<ProgramState> program = frame.program;
  Block* outer = frame.block;
  auto& frames = open_frames();
  make_room(frames);
  Block* inner = nullptr;
  {
    std::lock_guard lock(program->mutex);
    Record* stmt = program->append<Record>(*outer);
    stmt->kind = block_kind;
    fill(*program, *stmt);
    inner = &stmt->body;
  }
  const std::uint64_t token = next_token();
  frames.push_back({token, kind, std::move(program), inner, value_type});
  return Access::guard(token);
}

// if_ and while_: a block whose body runs under one condition.
ScopeGuard open_conditional_block(std::string_view operation, BlockKind kind, const Value& condition) {
  Frame& frame = current(operation);
  check_condition(operation, frame, condition);
  return open_block<ValueBlockStmt>(frame, kind, FrameKind::Block,
                                    [&](ProgramState&, ValueBlockStmt& stmt) { stmt.first = condition; });
}

// The last statement of `block` when it is a block statement of `kind`, else null.
BlockStmt* last_block(const Block& block, BlockKind kind) {
  if (block.last == nullptr || block.last->kind != StmtKind::Block) return nullptr;
  auto* stmt = static_cast<BlockStmt*>(block.last);
  return stmt->kind == kind ? stmt : nullptr;
}

Expr declare_variable(std::string_view operation, DType type, DeclareStmt::Init init,
                      std::span<const Value> values, const std::string* input_name) {
  Frame& frame = current(operation);
  if (input_name != nullptr && input_name->empty()) {
    throw TavoValueError(std::string(operation), "the input stream's name must not be empty");
  }
  if (init == DeclareStmt::Init::None && type != DType::Int) {
    throw TavoTypeError(std::string(operation), "only an int variable may be declared without an initial value, got " +
                                       std::string(dtype_name(type)));
  }
  for (const Value& value : values) {
    plain_value(operation, value, "an initial value");
    check_fit(operation, value, dtype_of(value), type, "the declared variable");
  }

  auto var = make_pooled<VarInfo>();
  var->program_id = frame.program->id;
  var->dtype = type;
  var->is_array = init == DeclareStmt::Init::List;
  var->size = static_cast<std::int64_t>(values.size());
  var->fed_by_input = input_name != nullptr;

  {
    std::lock_guard lock(frame.program->mutex);
    ProgramState& program = *frame.program;
    number_name(var->name, 'v', program.next_var++);
    DeclareStmt* stmt = program.append<DeclareStmt>(*frame.block);
    stmt->init = init;
    stmt->var = var;
    if (init == DeclareStmt::Init::List) {
      stmt->values = program.values(values, type);
    } else if (init == DeclareStmt::Init::Scalar) {
      const Value held = converted(values.front(), type);
      switch (type) {
        case DType::Bool:
          stmt->bool_value = std::get<bool>(held);
          break;
        case DType::Int:
          stmt->int_value = std::get<std::int64_t>(held);
          break;
        case DType::Fixed:
          stmt->fixed_value = std::get<double>(held);
          break;
      }
    }
    if (input_name != nullptr) {
      stmt->from_input = true;
      stmt->input_name = program.names.name(*input_name);
    }
  }
  const NodeKind kind = var->is_array ? NodeKind::Array : NodeKind::Variable;
  const std::uint64_t program_id = var->program_id;
  return Access::expr(make_pooled<const ExprNode>(kind, type, 1, program_id, std::move(var), 0, Value(), Value()));
}

}  // namespace

std::string ResultStreamSource::text() const { return info_ ? info_->name : "<empty>"; }

void ResultStreamSource::save_all(const std::string& tag) const {
  constexpr std::string_view operation = "save_all";
  Frame& frame = current(operation, Place::SaveAll);
  stream_of(operation, frame, *this);
  if (tag.empty()) throw TavoValueError(std::string(operation), "the tag must not be empty");
  std::lock_guard lock(frame.program->mutex);
  frame.program->append<SaveAllStmt>(*frame.block, info_.get(), frame.program->text(tag));
}

Expr declare(DType type, const Value& value) {
  return declare_variable("declare", type, DeclareStmt::Init::Scalar, std::span<const Value>(&value, 1), nullptr);
}

Expr declare(DType type, const std::vector<Value>& values) {
  return declare_variable("declare", type, DeclareStmt::Init::List, values, nullptr);
}

Expr declare(DType type) { return declare_variable("declare", type, DeclareStmt::Init::None, {}, nullptr); }

Expr declare_input_stream(DType type, const std::string& name, const Value& value) {
  return declare_variable("declare_input_stream", type, DeclareStmt::Init::Scalar,
                          std::span<const Value>(&value, 1), &name);
}

Expr declare_input_stream(DType type, const std::string& name, const std::vector<Value>& values) {
  return declare_variable("declare_input_stream", type, DeclareStmt::Init::List, values, &name);
}

void advance_input_stream(const Expr& variable) {
  constexpr std::string_view operation = "advance_input_stream";
  Frame& frame = current(operation);
  const ExprNode& node = expression(operation, frame, variable, "the variable");
  if (!node.has_var() || !node.var || node.kind == NodeKind::Cell || !node.var->fed_by_input) {
    throw TavoTypeError(std::string(operation), variable.text() + " is not a variable fed by an input stream");
  }
  append<AdvanceStmt>(frame, node.var);
}

ResultStreamSource declare_stream() {
  Frame& frame = current("declare_stream");
  auto info = make_pooled<StreamInfo>();
  info->program_id = frame.program->id;
  {
    std::lock_guard lock(frame.program->mutex);
    number_name(info->name, 's', frame.program->next_stream++);
    frame.program->append<DeclareStreamStmt>(*frame.block, info);
  }
  return Access::stream(std::move(info));
}

void assign(const Expr& target, const Value& value) {
  constexpr std::string_view operation = "assign";
  Frame& frame = current(operation);
  const ExprNode& node = expression(operation, frame, target, "the target");
  if (node.kind != NodeKind::Variable && node.kind != NodeKind::Cell) {
    throw TavoTypeError(std::string(operation), "the target must be a scalar variable or an array cell, got " +
                                       described(Value(target)));
  }
  DType type = scalar_value(operation, frame, value, "the value");
  // The target's text is rendered only for the message of a value that does not fit.
  if (!fits(type, node.dtype)) check_fit(operation, value, type, node.dtype, target.text());
  append<AssignStmt>(frame, target, value);
}

void save(const Expr& source, const ResultStreamSource& stream) {
  constexpr std::string_view operation = "save";
  Frame& frame = current(operation);
  const ExprNode& node = expression(operation, frame, source, "the source");
  if (node.kind != NodeKind::Variable && node.kind != NodeKind::Cell) {
    throw TavoTypeError(std::string(operation), "the source must be a scalar variable or an array cell, got " +
                                       described(Value(source)));
  }
  stream_of(operation, frame, stream);
  append<SaveStmt>(frame, source, Access::info(stream).get());
}

ScopeGuard stream_processing() {
  Frame& frame = current("stream_processing");
  return open_block(frame, BlockKind::StreamProcessing, FrameKind::StreamProcessing, [](ProgramState&, BlockStmt&) {});
}

namespace {

// The statements that name elements and pulses take them as texts or as Names: the checks and
// the records are the same, only the lookup in the program's names differs.
const std::string& name_text(const std::string& name) { return name; }
const std::string& name_text(const Name& name) { return name.text(); }
NameId program_name(ProgramState& program, const std::string& name) { return program.names.name(name); }
NameId program_name(ProgramState& program, const Name& name) { return program.names.name(name); }

template <class N>
void check_name(std::string_view operation, const N& name, std::string_view role) {
  if (name_text(name).empty())
    throw TavoValueError(std::string(operation), "the " + std::string(role) + " name must not be empty");
}

// A plain value or scalar expression that fits `type`, in the form the statement holds it.
Value fitting_value(std::string_view operation, const Frame& frame, const Value& value, DType type,
                    std::string_view role) {
  check_fit(operation, value, scalar_value(operation, frame, value, role), type, role);
  return converted(value, type);
}

template <class List>
void align_elements(const List& elements) {
  constexpr std::string_view operation = "align";
  Frame& frame = current(operation);
  if (elements.size() < 2) {
    throw TavoValueError(std::string(operation), "needs at least two elements, got " + std::to_string(elements.size()));
  }
  for (const auto& element : elements) {
    if (name_text(element).empty()) throw TavoValueError(std::string(operation), "an element name must not be empty");
  }
  std::lock_guard lock(frame.program->mutex);
  frame.program->append<AlignStmt>(*frame.block, frame.program->names.names(elements));
}

// `amplitude` null: a play without one.
template <class N>
void play_pulse(const N& pulse, const N& element, const Value* amplitude) {
  constexpr std::string_view operation = "play";
  Frame& frame = current(operation);
  check_name(operation, pulse, "pulse");
  check_name(operation, element, "element");
  Value held;
  if (amplitude) held = fitting_value(operation, frame, *amplitude, DType::Fixed, "the amplitude");
  std::lock_guard lock(frame.program->mutex);
  ProgramState& program = *frame.program;
  if (amplitude) {
    program.append<ScaledPlayStmt>(*frame.block, program_name(program, pulse), program_name(program, element), std::move(held));
  } else {
    program.append<PlayStmt>(*frame.block, program_name(program, pulse), program_name(program, element), false);
  }
}

template <class List>
void wait_on(const Value& cycles, const List& elements) {
  constexpr std::string_view operation = "wait";
  Frame& frame = current(operation);
  Value held = fitting_value(operation, frame, cycles, DType::Int, "the cycle count");
  if (const auto* count = std::get_if<std::int64_t>(&held); count != nullptr && *count < 0) {
    throw TavoValueError(std::string(operation), "the cycle count must not be negative, got " + std::to_string(*count));
  }
  if (elements.empty()) throw TavoValueError(std::string(operation), "needs at least one element");
  for (const auto& element : elements) check_name(operation, element, "element");
  std::lock_guard lock(frame.program->mutex);
  frame.program->append<WaitStmt>(*frame.block, std::move(held), frame.program->names.names(elements));
}

template <class N>
void rotate_frame(const Value& angle, const N& element) {
  constexpr std::string_view operation = "frame_rotation";
  Frame& frame = current(operation);
  Value held = fitting_value(operation, frame, angle, DType::Fixed, "the angle");
  check_name(operation, element, "element");
  std::lock_guard lock(frame.program->mutex);
  ProgramState& program = *frame.program;
  // A plain angle, converted to fixed, is a double.
  if (const auto* plain = std::get_if<double>(&held)) {
    program.append<PlainFrameRotationStmt>(*frame.block, *plain, program_name(program, element));
  } else {
    program.append<ExprFrameRotationStmt>(*frame.block, std::get<Expr>(std::move(held)), program_name(program, element));
  }
}

template <class N>
void measure_into(const N& pulse, const N& element, const Expr& target) {
  constexpr std::string_view operation = "measure";
  Frame& frame = current(operation);
  check_name(operation, pulse, "pulse");
  check_name(operation, element, "element");
  const ExprNode& node = expression(operation, frame, target, "the target");
  if ((node.kind != NodeKind::Variable && node.kind != NodeKind::Cell) || node.dtype != DType::Fixed) {
    throw TavoTypeError(std::string(operation), "the target must be a fixed scalar variable or array cell, got " +
                                                    described(Value(target)));
  }
  std::lock_guard lock(frame.program->mutex);
  ProgramState& program = *frame.program;
  program.append<MeasureStmt>(*frame.block, program_name(program, pulse), program_name(program, element), target);
}

}  // namespace

void align(const std::vector<std::string>& elements) { align_elements(elements); }
void detail::align_names(std::span<const Name> elements) { align_elements(elements); }

void play(const std::string& pulse, const std::string& element) { play_pulse(pulse, element, nullptr); }
void play(const std::string& pulse, const std::string& element, const Value& amplitude) {
  play_pulse(pulse, element, &amplitude);
}
void play(const Name& pulse, const Name& element) { play_pulse(pulse, element, nullptr); }
void play(const Name& pulse, const Name& element, const Value& amplitude) { play_pulse(pulse, element, &amplitude); }

void wait(const Value& cycles, const std::vector<std::string>& elements) { wait_on(cycles, elements); }
void detail::wait_names(const Value& cycles, std::span<const Name> elements) { wait_on(cycles, elements); }

void frame_rotation(const Value& angle, const std::string& element) { rotate_frame(angle, element); }
void frame_rotation(const Value& angle, const Name& element) { rotate_frame(angle, element); }

void measure(const std::string& pulse, const std::string& element, const Expr& target) {
  measure_into(pulse, element, target);
}
void measure(const Name& pulse, const Name& element, const Expr& target) { measure_into(pulse, element, target); }

ScopeGuard if_(const Value& condition) {
  return open_conditional_block("if_", BlockKind::If, condition);
}

ScopeGuard else_() {
  constexpr std::string_view operation = "else_";
  Frame& frame = current(operation);
  auto* last = static_cast<ValueBlockStmt*>(last_block(*frame.block, BlockKind::If));
  if (last == nullptr) throw TavoScopeError(std::string(operation), "must follow right after a closed if_ block");
  if (last->else_body) throw TavoScopeError(std::string(operation), "the if_ block before it already has an else_");
  std::shared_ptr<ProgramState> program = frame.program;
  auto& frames = open_frames();
  make_room(frames);
  Block* inner = nullptr;
  {
    std::lock_guard lock(program->mutex);
    inner = program->arena.make<Block>();
    last->else_body = inner;
  }
  const std::uint64_t token = next_token();
  frames.push_back({token, FrameKind::Block, std::move(program), inner, DType::Int});
  return Access::guard(token);
}

ScopeGuard while_(const Value& condition) {
  return open_conditional_block("while_", BlockKind::While, condition);
}

ScopeGuard for_(const Expr& variable, const Value& init, const Value& condition, const Value& update) {
  constexpr std::string_view operation = "for_";
  Frame& frame = current(operation);
  const VarInfo& var = loop_variable(operation, frame, variable);
  check_fit(operation, init, scalar_value(operation, frame, init, "the initial value"), var.dtype, var.name);
  check_condition(operation, frame, condition);
  check_fit(operation, update, scalar_value(operation, frame, update, "the update"), var.dtype, var.name);
  return open_block<LoopStmt>(frame, BlockKind::For, FrameKind::Block, [&](ProgramState&, LoopStmt& stmt) {
    stmt.variable = variable;
    stmt.first = init;
    stmt.second = condition;
    stmt.third = update;
  });
}

ScopeGuard for_each_(const Expr& variable, const std::vector<Value>& values) {
  constexpr std::string_view operation = "for_each_";
  Frame& frame = current(operation);
  const VarInfo& var = loop_variable(operation, frame, variable);
  for (const Value& value : values) {
    plain_value(operation, value, "a value of the list");
    check_fit(operation, value, dtype_of(value), var.dtype, var.name);
  }
  return open_block<LoopStmt>(frame, BlockKind::ForEach, FrameKind::Block, [&](ProgramState& program, LoopStmt& stmt) {
    stmt.variable = variable;
    stmt.values = program.values(values, var.dtype);
  });
}

ScopeGuard for_each_(const Expr& variable, const Expr& array) {
  constexpr std::string_view operation = "for_each_";
  Frame& frame = current(operation);
  const VarInfo& var = loop_variable(operation, frame, variable);
  const ExprNode& node = expression(operation, frame, array, "the array");
  if (node.kind != NodeKind::Array) {
    throw TavoTypeError(std::string(operation), "needs an array variable or a list of plain values, got " +
                                       described(Value(array)));
  }
  if (!fits(node.dtype, var.dtype)) {
    throw TavoTypeError(std::string(operation), "elements of " + node.var->name + " of type " +
                                       std::string(dtype_name(node.dtype)) + " do not fit " + var.name + " of type " +
                                       std::string(dtype_name(var.dtype)));
  }
  return open_block<LoopStmt>(frame, BlockKind::ForEach, FrameKind::Block, [&](ProgramState&, LoopStmt& stmt) {
    stmt.variable = variable;
    stmt.array = array;
  });
}

ScopeGuard switch_(const Value& expression, bool unsafe) {
  constexpr std::string_view operation = "switch_";
  Frame& frame = current(operation);
  DType type = scalar_value(operation, frame, expression, "the switch value");
  if (type == DType::Fixed) {
    throw TavoTypeError(std::string(operation), "switches on an int or bool value, got " + described(expression));
  }
  return open_block<ValueBlockStmt>(
      frame, BlockKind::Switch, FrameKind::Switch,
      [&](ProgramState&, ValueBlockStmt& stmt) {
        stmt.first = expression;
        stmt.unsafe = unsafe;
      },
      type);
}

ScopeGuard case_(const Value& value) {
  constexpr std::string_view operation = "case_";
  Frame& frame = current(operation, Place::SwitchCase);
  plain_value(operation, value, "a case value");
  check_fit(operation, value, dtype_of(value), frame.value_type, "the switch value");
  if (last_block(*frame.block, BlockKind::Default) != nullptr) {
    throw TavoScopeError(std::string(operation), "must come before the default_ of its switch_");
  }
  Value held = converted(value, frame.value_type);
  return open_block<ValueBlockStmt>(frame, BlockKind::Case, FrameKind::Block,
                                    [&](ProgramState&, ValueBlockStmt& stmt) { stmt.first = std::move(held); });
}

ScopeGuard default_() {
  constexpr std::string_view operation = "default_";
  Frame& frame = current(operation, Place::SwitchCase);
  if (last_block(*frame.block, BlockKind::Default) != nullptr) {
    throw TavoScopeError(std::string(operation), "a switch_ has at most one default_");
  }
  return open_block(frame, BlockKind::Default, FrameKind::Block, [](ProgramState&, BlockStmt&) {});
}

}  // namespace vell::tavo
