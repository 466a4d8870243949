#include "vell_qasm/configurations/op_registry.hpp"

namespace vell_qasm::configurations {

namespace {

std::string plural(std::size_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_names(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += "'" + names[i] + "'";
  }
  return out;
}

std::string qubits_text(const OperationIdentifier& identifier) {
  return identifier.is_varying_number_of_qubits() ? "a varying number of"
                                                  : std::to_string(identifier.number_of_parametric_qubits());
}

}  // namespace

// ---- TavoFunc

TavoFunc::TavoFunc(std::string name, std::vector<Parameter> parameters, Callable callable) {
  if (!callable) throw TypeError("The tavo-function " + name + " has no callable");
  Arity arity;
  for (const auto& p : parameters) {
    switch (p.kind) {
      case ParameterKind::POSITIONAL_ONLY:
      case ParameterKind::POSITIONAL_OR_KEYWORD:
        ++arity.max_positional;
        if (!p.has_default) arity.min_positional = arity.max_positional;
        break;
      case ParameterKind::VAR_POSITIONAL:
        arity.variadic = true;
        break;
      case ParameterKind::KEYWORD_ONLY:
        if (!p.has_default) arity.keyword_only_missing = true;
        break;
      case ParameterKind::VAR_KEYWORD:
        break;
    }
  }
  impl_ = std::make_shared<const Impl>(Impl{std::move(name), std::move(parameters), std::move(callable), arity});
}

TavoResult TavoFunc::operator()(std::span<const vell::tavo::Value> args) const {
  const Arity& arity = impl_->arity;
  if ((!arity.variadic && args.size() > arity.max_positional) || args.size() < arity.min_positional ||
      arity.keyword_only_missing)
    throw_refused_call(args.size());
  return impl_->callable(args);
}

void TavoFunc::throw_refused_call(std::size_t given) const {
  const Arity& arity = impl_->arity;
  const auto& params = impl_->parameters;
  const std::string head = impl_->name + "() ";
  if (!arity.variadic && given > arity.max_positional) {
    std::string takes = arity.min_positional == arity.max_positional
                            ? plural(arity.max_positional, "positional argument")
                            : "from " + std::to_string(arity.min_positional) + " to " +
                                  plural(arity.max_positional, "positional argument");
    throw TypeError(head + "takes " + takes + " but " + std::to_string(given) +
                    (given == 1 ? " was given" : " were given"));
  }
  if (given < arity.min_positional) {
    std::vector<std::string> missing;
    std::size_t position = 0;
    for (const auto& p : params) {
      if (p.kind != ParameterKind::POSITIONAL_ONLY && p.kind != ParameterKind::POSITIONAL_OR_KEYWORD) continue;
      if (position++ >= given && !p.has_default) missing.push_back(p.name);
    }
    throw TypeError(head + "missing " + plural(missing.size(), "required positional argument") + ": " +
                    quoted_names(missing));
  }
  std::vector<std::string> keyword_only_missing;
  for (const auto& p : params)
    if (p.kind == ParameterKind::KEYWORD_ONLY && !p.has_default) keyword_only_missing.push_back(p.name);
  throw TypeError(head + "missing " + plural(keyword_only_missing.size(), "required keyword-only argument") + ": " +
                  quoted_names(keyword_only_missing));
}

namespace detail {

const char* value_kind_name(const vell::tavo::Value& v) {
  static constexpr const char* names[] = {"bool", "int", "float", "Expr"};
  return names[v.index()];
}

void throw_argument_type(const std::string& func, std::size_t position, const char* expected,
                         const vell::tavo::Value& got) {
  throw TypeError(func + "() argument " + std::to_string(position + 1) + " must be " + expected + ", not " +
                  value_kind_name(got));
}

void throw_argument_range(const std::string& func, std::size_t position, const char* expected) {
  throw OverflowError(func + "() argument " + std::to_string(position + 1) + ": " + expected +
                      " value out of the parameter's range");
}

}  // namespace detail

// ---- definition errors

KeywordArgumentWithNoDefault::KeywordArgumentWithNoDefault(OperationIdentifier identifier, TavoFunc operation)
    : OperationDefinitionException(identifier, operation,
                                   "The tavo-function " + operation.name() +
                                       " has a keyword argument with no default value, so it cannot be set when "
                                       "beign called.") {}

NonVarPositionalLastArgument::NonVarPositionalLastArgument(OperationIdentifier identifier, TavoFunc operation)
    : OperationDefinitionException(identifier, operation,
                                   "Operation '" + identifier.name() +
                                       "' is said to have a varying number of qubit inputs, so the given "
                                       "tavo-function (" +
                                       operation.name() +
                                       ") should have *args as its last parameter (The name 'args' is not "
                                       "mandatory).") {}

UnexpectedVarPositionalArgument::UnexpectedVarPositionalArgument(OperationIdentifier identifier, TavoFunc operation)
    : OperationDefinitionException(identifier, operation,
                                   "Operation '" + identifier.name() +
                                       "' should not have a varying number of qubit inputs,but the given "
                                       "tavo-function (" +
                                       operation.name() + ") have an *args in its signature.") {}

NumberOfParametersMismatch::NumberOfParametersMismatch(OperationIdentifier identifier, TavoFunc operation,
                                                       std::size_t expected_args)
    : OperationDefinitionException(
          identifier, operation,
          "Operation '" + identifier.name() + "' is said to have " + std::to_string(identifier.number_of_params()) +
              " parameters and " + qubits_text(identifier) + " parametric qubits,so the given tavo-function (" +
              operation.name() + ") should have " + std::to_string(expected_args) + " arguments."),
      _expected_args(expected_args) {}

// ---- validation

void validate_identifier_operation_match(const OperationIdentifier& identifier, const TavoFunc& tavo_func) {
  // The parameters that a positional call must fill: the others are named-only or have defaults.
  std::vector<const Parameter*> filtered_args;
  for (const auto& p : tavo_func.parameters()) {
    switch (p.kind) {
      case ParameterKind::VAR_KEYWORD:
        break;
      case ParameterKind::KEYWORD_ONLY:
        if (!p.has_default) throw KeywordArgumentWithNoDefault(identifier, tavo_func);
        break;
      case ParameterKind::POSITIONAL_OR_KEYWORD:
        if (!p.has_default) filtered_args.push_back(&p);
        break;
      case ParameterKind::POSITIONAL_ONLY:
      case ParameterKind::VAR_POSITIONAL:
        filtered_args.push_back(&p);
        break;
    }
  }

  std::size_t expected_number_of_args = 0;
  if (identifier.is_varying_number_of_qubits()) {
    if (filtered_args.empty() || filtered_args.back()->kind != ParameterKind::VAR_POSITIONAL)
      throw NonVarPositionalLastArgument(identifier, tavo_func);
    expected_number_of_args = identifier.number_of_params() + 1;
  } else {
    for (const Parameter* p : filtered_args)
      if (p->kind == ParameterKind::VAR_POSITIONAL) throw UnexpectedVarPositionalArgument(identifier, tavo_func);
    expected_number_of_args = identifier.number_of_params() + identifier.number_of_parametric_qubits();
  }
  if (filtered_args.size() != expected_number_of_args)
    throw NumberOfParametersMismatch(identifier, tavo_func, expected_number_of_args);
}

// ---- OperationsDatabase

OperationsDatabase::OperationsDatabase(const OperationsMapping& operations) {
  for (const auto& [key, func] : operations) {
    OperationIdentifier identifier = _create_identifier(key);
    validate_identifier_operation_match(identifier, func);
    auto [it, inserted] = _position.try_emplace(identifier, _operations.size());
    if (inserted) {
      _name_to_identifiers[identifier.name()].push_back(_operations.size());
      _operations.emplace_back(std::move(identifier), func);
    } else {
      _operations[it->second].second = func;  // keeps its first place
    }
  }
}

OperationIdentifier OperationsDatabase::_create_identifier(const OperationKey& input) {
  if (auto* text = std::get_if<std::string>(&input)) return OperationIdentifier::create_from_string(*text);
  return std::get<OperationIdentifier>(input);
}

const OperationsDatabase::Entry& OperationsDatabase::_get_operation(const OperationCandidate& identifier) const {
  auto found = _name_to_identifiers.find(identifier.name);
  if (found != _name_to_identifiers.end()) {
    for (std::size_t position : found->second) {
      const Entry& operation_pattern = _operations[position];
      if (operation_pattern.first.matches(identifier)) return operation_pattern;
    }
  }
  throw UnresolvableOperation("Not found relevant operation for " + identifier.text());
}

std::pair<TavoFunc, TavoArgs> OperationsDatabase::resolve_operation(std::string_view name,
                                                                    std::span<const HwQubitIndex> hw_qubits,
                                                                    TavoArgs params) const {
  OperationCandidate candidate(name, hw_qubits, params.size());
  const auto& [operation_key, implementation] = _get_operation(candidate);
  for (HwQubitIndex q : operation_key.get_parametric_qubits(hw_qubits)) params.emplace_back(q);
  return {implementation, std::move(params)};
}

std::unordered_set<OperationIdentifier> OperationsDatabase::available_identifiers() const {
  std::unordered_set<OperationIdentifier> out;
  for (const auto& entry : _operations) out.insert(entry.first);
  return out;
}

}  // namespace vell_qasm::configurations
