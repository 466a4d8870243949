#include "vell_qasm/tavo_var.hpp"

#include <type_traits>
#include <utility>

#include "vell_qasm/value_text.hpp"

namespace vell_qasm::tavo_var {

namespace tavo = vell::tavo;

namespace {

std::string scalar_text(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, tavo::Expr>) {
          return v.text();
        } else {
          return vell_qasm::value_text(v);
        }
      },
      value);
}

std::string assigned_text(const ScalarOrList& value) {
  if (const auto* scalar = std::get_if<Value>(&value)) return scalar_text(*scalar);
  std::string out = "[";
  const auto& list = std::get<ScalarList>(value);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += ", ";
    out += scalar_text(list[i]);
  }
  out += "]";
  return out;
}

// A plain integer in the sense of the compile-time walk: an int64 or a bool, never an
// expression or a real.
std::optional<std::int64_t> plain_integer(const Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  return std::nullopt;
}

bool is_plain_zero(const Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i == 0;
  if (const auto* b = std::get_if<bool>(&value)) return !*b;
  if (const auto* d = std::get_if<double>(&value)) return *d == 0.0;
  return false;
}

bool is_plain_negative(const Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i < 0;
  if (const auto* d = std::get_if<double>(&value)) return *d < 0.0;
  return false;
}

}  // namespace

TavoAssignmentException::TavoAssignmentException(std::string target_name_, ScalarOrList value_)
    : target_name(std::move(target_name_)),
      value(std::move(value_)),
      message_("Tavo failed to assign " + assigned_text(value) + " into " + target_name) {}

// ---- TavoVarBase ----

TavoVarBase::TavoVarBase(std::string name, DType dtype) : dtype(dtype), _name(std::move(name)) {}

const AllExps& TavoVarBase::tavo_value_exp() const {
  if (!_tavo_value_exp) throw FetchingUndeclaredVariableException(_name);
  return *_tavo_value_exp;
}

const tavo::ResultStreamSource& TavoVarBase::stream_var() const {
  if (!_stream_var) throw NoStreamVariableException(_name);
  return *_stream_var;
}

void TavoVarBase::_exception_wrapped_assign(const AllExps& assignee, const Value& value) {
  try {
    tavo::assign(assignee, value);
  } catch (const std::exception&) {
    TavoAssignmentException failure(_name, value);
    failure.set_cause(std::current_exception());
    throw failure;
  }
}

void TavoVarBase::declare(bool declare_input_stream, bool declare_output_stream) {
  // The stream comes first so that the listing shows it before the variable it serves.
  if (declare_output_stream) _stream_var = tavo::declare_stream();
  const ScalarOrList init = _get_init_value();
  if (declare_input_stream) {
    _tavo_value_exp = std::visit(
        [&](const auto& value) { return tavo::declare_input_stream(dtype, _name, value); }, init);
    tavo::advance_input_stream(tavo_value_exp());
  } else {
    _tavo_value_exp = std::visit([&](const auto& value) { return tavo::declare(dtype, value); }, init);
  }
}

void TavoVarBase::save() {
  _save_variable_to_stream();
  _save_all();
}

void TavoVarBase::_save_all() {
  auto section = tavo::stream_processing();
  stream_var().save_all(_name);
}

// ---- TavoVar ----

ScalarOrList TavoVar::_get_init_value() const { return tavo::zero(dtype); }

void TavoVar::assign(const ScalarOrList& value) {
  const AllExps& variable = tavo_value_exp();
  if (std::holds_alternative<ScalarList>(value)) throw TavoAssignmentException(name(), value);
  _exception_wrapped_assign(variable, std::get<Value>(value));
}

void TavoVar::_save_variable_to_stream() {
  const AllExps& variable = tavo_value_exp();
  tavo::save(variable, stream_var());
}

// ---- TavoArr ----

ScalarOrList TavoArr::_get_init_value() const {
  if (size <= 0) return ScalarList{};
  return ScalarList(static_cast<std::size_t>(size), tavo::zero(dtype));
}

AllExps TavoArr::get_single_index(const Value& idx) const { return tavo_value_exp()[idx]; }

void TavoArr::assign_single(const Value& idx, const Value& value) {
  _exception_wrapped_assign(get_single_index(idx), value);
}

void TavoArr::assign(const ScalarOrList& value) { assign_range(value); }

void TavoArr::assign_range(const ScalarOrList& value, const Value& start, const std::optional<Value>& stop_,
                           const Value& step) {
  const Value stop = stop_ ? *stop_ : Value(size);

  if (const auto* list = std::get_if<ScalarList>(&value)) {
    const auto first = plain_integer(start);
    const auto last = plain_integer(stop);
    const auto stride = plain_integer(step);
    if (!first || !last || !stride) throw TypeError("Cannot dynamically assign values from pythonic list");
    if (*stride == 0) throw ValueError("assign_range() step must not be zero");
    std::int64_t index = *first;
    for (const Value& element : *list) {
      if (*stride > 0 ? index >= *last : index <= *last) break;
      assign_single(index, element);
      // An index that would overflow has passed `stop` anyway.
      if (__builtin_add_overflow(index, *stride, &index)) break;
    }
    return;
  }

  if (is_plain_zero(step)) throw ValueError("assign_range() step must not be zero");
  const Value& single = std::get<Value>(value);
  const AllExps index = tavo::declare(tavo::DType::Int);
  // A plain negative step counts down; counting down under "index < stop" would run never or
  // forever.
  const auto condition = is_plain_negative(step) ? tavo::BinaryOp::Gt : tavo::BinaryOp::Lt;
  auto loop = tavo::for_(index, start, tavo::binary(condition, index, stop), tavo::binary(tavo::BinaryOp::Add, index, step));
  assign_single(index, single);
}

void TavoArr::_save_variable_to_stream() {
  const AllExps index = tavo::declare(tavo::DType::Int);
  auto loop = tavo::for_(index, std::int64_t{0}, index < size, index + std::int64_t{1});
  const AllExps cell = tavo_value_exp()[index];
  tavo::save(cell, stream_var());
}

}  // namespace vell_qasm::tavo_var
