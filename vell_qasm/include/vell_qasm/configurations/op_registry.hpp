// The operations registry: the validated table from operation identifiers to target functions,
// and the lookup that turns one call into a target function and its arguments.
//
// A target function (TavoFunc) emits the TAVO code of one operation through the SDK. It is called
// with the call's parameters followed by the identifier's parametric qubits (qubit indices as
// int64 values), as positional arguments, and may return one SDK value (a measurement's result).
// The registry never calls it: it reads only its name and its parameter list, and checks at
// registration that the parameter list can take exactly such a call.
//
// C++ has no parameter inspection, so a TavoFunc carries its parameter list itself:
// - make_tavo_func(name, callable) deduces it from an ordinary callable (a non-generic lambda, a
//   function pointer). Each parameter is one positional-only parameter without default; it may be
//   declared as vell::tavo::Value, vell::tavo::Expr, bool, an integer type or a floating type, and
//   the argument is converted to it (an int argument also fills a floating parameter; anything
//   else is a TypeError). A last parameter of type std::span<const vell::tavo::Value> or
//   std::vector<vell::tavo::Value> is the variadic (*args) parameter: it takes all further
//   arguments. The callable may return void, a Value, std::optional<Value> or a convertible type.
// - TavoFunc(name, parameters, callable) states any parameter list by hand, all five kinds, with
//   or without defaults; the callable then receives the positional arguments exactly as given
//   (filling in defaults is its own business).
// Calling a TavoFunc with a number of arguments its parameter list cannot take is a TypeError.
// Copies of a TavoFunc share one callable and compare equal; distinct makes never do.
//
// Registration order decides between identifiers that accept the same call: the first wins. A
// later key equal to an earlier one replaces the earlier one's target function and keeps its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "vell/tavo/value.hpp"
#include "vell_qasm/configurations/hw_qubit.hpp"
#include "vell_qasm/configurations/operation_identifier.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::configurations {

using TavoArgs = std::vector<vell::tavo::Value>;
using TavoResult = std::optional<vell::tavo::Value>;

enum class ParameterKind { POSITIONAL_ONLY, POSITIONAL_OR_KEYWORD, VAR_POSITIONAL, KEYWORD_ONLY, VAR_KEYWORD };

struct Parameter {
  std::string name;
  ParameterKind kind = ParameterKind::POSITIONAL_OR_KEYWORD;
  bool has_default = false;
};

class TavoFunc {
 public:
  using Callable = std::function<TavoResult(std::span<const vell::tavo::Value>)>;

  // TypeError when `callable` is empty.
  TavoFunc(std::string name, std::vector<Parameter> parameters, Callable callable);

  const std::string& name() const { return impl_->name; }
  const std::vector<Parameter>& parameters() const { return impl_->parameters; }

  // TypeError when the parameter list cannot take `args` as positional arguments.
  TavoResult operator()(std::span<const vell::tavo::Value> args) const;
  TavoResult operator()(const TavoArgs& args) const { return (*this)(std::span<const vell::tavo::Value>(args)); }

  friend bool operator==(const TavoFunc& a, const TavoFunc& b) { return a.impl_ == b.impl_; }

 private:
  // What a positional call needs, worked out once from the parameter list: calls are checked
  // against these counts, and messages are built only for a call that fails.
  struct Arity {
    std::size_t min_positional = 0;
    std::size_t max_positional = 0;
    bool variadic = false;
    bool keyword_only_missing = false;  // a keyword-only parameter without default
  };
  struct Impl {
    std::string name;
    std::vector<Parameter> parameters;
    Callable callable;
    Arity arity;
  };
  [[noreturn]] void throw_refused_call(std::size_t given) const;
  std::shared_ptr<const Impl> impl_;
};

namespace detail {

// "bool", "int", "float" or "Expr".
const char* value_kind_name(const vell::tavo::Value& v);
[[noreturn]] void throw_argument_type(const std::string& func, std::size_t position, const char* expected,
                                      const vell::tavo::Value& got);
[[noreturn]] void throw_argument_range(const std::string& func, std::size_t position, const char* expected);

template <class T>
struct CallableTraits : CallableTraits<decltype(&T::operator())> {};
template <class R, class... A>
struct CallableTraits<R (*)(A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
};
template <class R, class... A>
struct CallableTraits<R (*)(A...) noexcept> : CallableTraits<R (*)(A...)> {};
template <class R, class... A>
struct CallableTraits<R(A...)> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...)> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) const> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) noexcept> : CallableTraits<R (*)(A...)> {};
template <class C, class R, class... A>
struct CallableTraits<R (C::*)(A...) const noexcept> : CallableTraits<R (*)(A...)> {};

template <class T>
using Bare = std::remove_cvref_t<T>;

template <class T>
inline constexpr bool is_rest_v = std::is_same_v<Bare<T>, std::span<const vell::tavo::Value>> ||
                                  std::is_same_v<Bare<T>, std::vector<vell::tavo::Value>>;

template <class T>
inline constexpr bool is_single_v =
    std::is_same_v<Bare<T>, vell::tavo::Value> || std::is_same_v<Bare<T>, vell::tavo::Expr> ||
    std::is_same_v<Bare<T>, bool> || std::is_integral_v<Bare<T>> || std::is_floating_point_v<Bare<T>>;

template <class T>
Bare<T> convert_argument(const std::string& func, std::size_t position, const vell::tavo::Value& v) {
  using U = Bare<T>;
  if constexpr (std::is_same_v<U, vell::tavo::Value>) {
    return v;
  } else if constexpr (std::is_same_v<U, vell::tavo::Expr>) {
    if (auto* e = std::get_if<vell::tavo::Expr>(&v)) return *e;
    throw_argument_type(func, position, "Expr", v);
  } else if constexpr (std::is_same_v<U, bool>) {
    if (auto* b = std::get_if<bool>(&v)) return *b;
    throw_argument_type(func, position, "bool", v);
  } else if constexpr (std::is_integral_v<U>) {
    if (auto* i = std::get_if<std::int64_t>(&v)) {
      if (!std::in_range<U>(*i)) throw_argument_range(func, position, "int");
      return static_cast<U>(*i);
    }
    throw_argument_type(func, position, "int", v);
  } else {
    if (auto* d = std::get_if<double>(&v)) return static_cast<U>(*d);
    if (auto* i = std::get_if<std::int64_t>(&v)) return static_cast<U>(*i);
    throw_argument_type(func, position, "float", v);
  }
}

template <class R>
TavoResult wrap_result(R&& r) {
  using U = Bare<R>;
  if constexpr (std::is_same_v<U, TavoResult>) {
    return std::forward<R>(r);
  } else if constexpr (std::is_same_v<U, vell::tavo::Value> || std::is_same_v<U, vell::tavo::Expr> ||
                       std::is_same_v<U, bool> || std::is_same_v<U, double>) {
    return vell::tavo::Value(std::forward<R>(r));
  } else if constexpr (std::is_integral_v<U>) {
    return vell::tavo::Value(static_cast<std::int64_t>(r));
  } else if constexpr (std::is_floating_point_v<U>) {
    return vell::tavo::Value(static_cast<double>(r));
  } else {
    static_assert(sizeof(U) == 0, "a target function returns void, a tavo Value or a bool/int/float/Expr");
  }
}

template <class F, class R, class... A, std::size_t... I>
TavoResult invoke_fixed(const F& f, const std::string& name, std::span<const vell::tavo::Value> args,
                        std::index_sequence<I...>) {
  if constexpr (std::is_void_v<R>) {
    f(convert_argument<A>(name, I, args[I])...);
    return std::nullopt;
  } else {
    return wrap_result(f(convert_argument<A>(name, I, args[I])...));
  }
}

template <class F, class R, class Rest, class... A, std::size_t... I>
TavoResult invoke_variadic(const F& f, const std::string& name, std::span<const vell::tavo::Value> args,
                           std::index_sequence<I...>) {
  auto rest_span = args.subspan(sizeof...(A));
  auto call = [&]() -> decltype(auto) {
    if constexpr (std::is_same_v<Bare<Rest>, std::span<const vell::tavo::Value>>) {
      return f(convert_argument<A>(name, I, args[I])..., rest_span);
    } else {
      return f(convert_argument<A>(name, I, args[I])..., TavoArgs(rest_span.begin(), rest_span.end()));
    }
  };
  if constexpr (std::is_void_v<R>) {
    call();
    return std::nullopt;
  } else {
    return wrap_result(call());
  }
}

template <class F, class R, class... A>
TavoFunc make_fixed(std::string name, F f, std::tuple<A...>*) {
  static_assert((is_single_v<A> && ...),
                "a target function's parameters are tavo Values, Exprs, bools, integers or floats");
  std::vector<Parameter> parameters;
  for (std::size_t i = 0; i < sizeof...(A); ++i)
    parameters.push_back({"arg" + std::to_string(i), ParameterKind::POSITIONAL_ONLY, false});
  TavoFunc::Callable callable = [f = std::move(f), name](std::span<const vell::tavo::Value> args) {
    return invoke_fixed<F, R, A...>(f, name, args, std::index_sequence_for<A...>());
  };
  return TavoFunc(std::move(name), std::move(parameters), std::move(callable));
}

template <class F, class R, class... A, class Rest>
TavoFunc make_variadic(std::string name, F f, std::tuple<A...>*, Rest*) {
  static_assert((is_single_v<A> && ...),
                "a target function's parameters are tavo Values, Exprs, bools, integers or floats");
  std::vector<Parameter> parameters;
  for (std::size_t i = 0; i < sizeof...(A); ++i)
    parameters.push_back({"arg" + std::to_string(i), ParameterKind::POSITIONAL_ONLY, false});
  parameters.push_back({"args", ParameterKind::VAR_POSITIONAL, false});
  TavoFunc::Callable callable = [f = std::move(f), name](std::span<const vell::tavo::Value> args) {
    return invoke_variadic<F, R, Rest, A...>(f, name, args, std::index_sequence_for<A...>());
  };
  return TavoFunc(std::move(name), std::move(parameters), std::move(callable));
}

template <class Args>
constexpr bool last_is_rest() {
  constexpr std::size_t n = std::tuple_size_v<Args>;
  if constexpr (n == 0) {
    return false;
  } else {
    return is_rest_v<std::tuple_element_t<n - 1, Args>>;
  }
}

template <class Tuple, std::size_t... I>
auto leading(std::index_sequence<I...>) -> std::tuple<std::tuple_element_t<I, Tuple>...>*;

}  // namespace detail

// A target function from an ordinary callable; see the top of this header for what it accepts.
template <class F>
TavoFunc make_tavo_func(std::string name, F f) {
  using Traits = detail::CallableTraits<std::remove_pointer_t<F>>;
  using R = typename Traits::Result;
  using Args = typename Traits::Args;
  constexpr std::size_t n = std::tuple_size_v<Args>;
  if constexpr (detail::last_is_rest<Args>()) {
    using Leading = decltype(detail::leading<Args>(std::make_index_sequence<n - 1>()));
    using Rest = std::tuple_element_t<n - 1, Args>;
    return detail::make_variadic<F, R>(std::move(name), std::move(f), Leading{}, static_cast<Rest*>(nullptr));
  } else {
    return detail::make_fixed<F, R>(std::move(name), std::move(f), static_cast<Args*>(nullptr));
  }
}

// An operation identifier, or its text form (read by OperationIdentifier::create_from_string).
using OperationKey = std::variant<std::string, OperationIdentifier>;
// The caller's operations table, in registration order.
using OperationsMapping = std::vector<std::pair<OperationKey, TavoFunc>>;

// No registered identifier accepts a call.
class UnresolvableOperation : public std::runtime_error, public HasLocation {
 public:
  using std::runtime_error::runtime_error;
};

// A target function whose parameter list does not fit its identifier. Only its subclasses are
// raised; each carries its own message.
class OperationDefinitionException : public ValueError {
 public:
  const OperationIdentifier _identifier;
  const TavoFunc _operation;

 protected:
  OperationDefinitionException(OperationIdentifier identifier, TavoFunc operation, const std::string& message)
      : ValueError(message), _identifier(std::move(identifier)), _operation(std::move(operation)) {}
};

class KeywordArgumentWithNoDefault : public OperationDefinitionException {
 public:
  KeywordArgumentWithNoDefault(OperationIdentifier identifier, TavoFunc operation);
};

class NonVarPositionalLastArgument : public OperationDefinitionException {
 public:
  NonVarPositionalLastArgument(OperationIdentifier identifier, TavoFunc operation);
};

class UnexpectedVarPositionalArgument : public OperationDefinitionException {
 public:
  UnexpectedVarPositionalArgument(OperationIdentifier identifier, TavoFunc operation);
};

class NumberOfParametersMismatch : public OperationDefinitionException {
 public:
  NumberOfParametersMismatch(OperationIdentifier identifier, TavoFunc operation, std::size_t expected_args);
  const std::size_t _expected_args;
};

// Returns when `tavo_func` can take every call that `identifier` accepts (its parameters, then
// its parametric qubits); otherwise throws the first fitting definition error.
void validate_identifier_operation_match(const OperationIdentifier& identifier, const TavoFunc& tavo_func);

class OperationsDatabase {
 public:
  // Validates every entry in order; the first that fails ends construction with its error.
  explicit OperationsDatabase(const OperationsMapping& operations);

  // The target function for a call and the arguments to call it with: `params`, then the
  // identifier's parametric qubits. UnresolvableOperation when no identifier accepts the call.
  std::pair<TavoFunc, TavoArgs> resolve_operation(std::string_view name, std::span<const HwQubitIndex> hw_qubits,
                                                  TavoArgs params = {}) const;

  // Every registered identifier once; a fresh set each time.
  std::unordered_set<OperationIdentifier> available_identifiers() const;

 private:
  using Entry = std::pair<OperationIdentifier, TavoFunc>;

  static OperationIdentifier _create_identifier(const OperationKey& input);
  // The first registered entry whose identifier accepts the call.
  const Entry& _get_operation(const OperationCandidate& identifier) const;

  struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>()(s); }
  };

  // Entries in order of first registration.
  std::vector<Entry> _operations;
  std::unordered_map<OperationIdentifier, std::size_t> _position;
  // Positions in _operations, per name, in registration order.
  std::unordered_map<std::string, std::vector<std::size_t>, StringHash, std::equal_to<>> _name_to_identifiers;
};

}  // namespace vell_qasm::configurations
