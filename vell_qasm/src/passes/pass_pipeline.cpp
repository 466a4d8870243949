#include "vell_qasm/passes/pass_pipeline.hpp"

#include <array>
#include <mutex>
#include <utility>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "vell_qasm/logging.hpp"

namespace vell_qasm::passes {

namespace {

spdlog::logger& logger() {
  static const std::shared_ptr<spdlog::logger> instance = logging::get_logger("vell_qasm.passes.pass_pipeline");
  return *instance;
}

std::string pcre2_message(int code) {
  std::array<PCRE2_UCHAR, 256> buffer{};
  int n = pcre2_get_error_message(code, buffer.data(), buffer.size());
  if (n < 0) return "error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
}

struct CodeDeleter {
  void operator()(pcre2_code* code) const noexcept { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const noexcept { pcre2_match_data_free(data); }
};

// One pattern, compiled once: either the compiled expression or the reason it does not compile.
class CompiledPattern {
 public:
  explicit CompiledPattern(const std::string& pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    // Names are UTF-8 text: match characters, not bytes, and let \w and friends know Unicode.
    _code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                              PCRE2_ANCHORED | PCRE2_UTF | PCRE2_UCP, &error, &offset, nullptr));
    if (!_code) _error = pcre2_message(error) + " at offset " + std::to_string(offset);
  }

  bool matches(const std::string& pattern, const std::string& subject) const {
    if (!_code) throw InvalidPatternError(pattern, _error);
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(pcre2_match_data_create(1, nullptr));
    if (!data) throw InvalidPatternError(pattern, "out of memory");
    int rc = pcre2_match(_code.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0,
                         data.get(), nullptr);
    if (rc >= 0) return true;
    if (rc == PCRE2_ERROR_NOMATCH) return false;
    // A name that is not valid UTF-8, or an expression that backtracks beyond the matcher's limit.
    throw InvalidPatternError(pattern, pcre2_message(rc) + " (matching '" + subject + "')");
  }

 private:
  std::unique_ptr<pcre2_code, CodeDeleter> _code;
  std::string _error;
};

}  // namespace

// The patterns a pipeline has met, by text. Settings hold three at most, so a short list does.
class PassPipeline::PatternCache {
 public:
  std::shared_ptr<const CompiledPattern> get(const std::string& pattern) {
    std::lock_guard lock(_mutex);
    for (auto& [text, compiled] : _entries)
      if (text == pattern) return compiled;
    auto compiled = std::make_shared<const CompiledPattern>(pattern);
    _entries.emplace_back(pattern, compiled);
    return compiled;
  }

 private:
  std::mutex _mutex;
  std::vector<std::pair<std::string, std::shared_ptr<const CompiledPattern>>> _entries;
};

InvalidPatternError::InvalidPatternError(std::string pattern_, std::string reason_)
    : ValueError("Invalid step name pattern '" + pattern_ + "': " + reason_),
      pattern(std::move(pattern_)),
      reason(std::move(reason_)) {}

PassPipeline::PassPipeline(std::vector<StepPtr> steps_,
                           std::shared_ptr<const configurations::BuildSettings> build_settings,
                           std::optional<std::string> name)
    : PassPipeline(std::move(steps_), std::move(build_settings), std::move(name), "PassPipeline") {}

PassPipeline::PassPipeline(std::vector<StepPtr> steps_,
                           std::shared_ptr<const configurations::BuildSettings> build_settings,
                           std::optional<std::string> name, std::string_view class_name)
    : Step(std::move(name), class_name),
      steps(std::move(steps_)),
      _build_settings(std::move(build_settings)),
      _patterns(std::make_unique<PatternCache>()) {}

PassPipeline::~PassPipeline() = default;

namespace {

// A pipeline built without settings fails at the first decision that needs them, as reading a
// field of nothing would.
const configurations::BuildSettings& settings_of(const std::shared_ptr<const configurations::BuildSettings>& s,
                                                 const char* field) {
  if (!s) throw AttributeError(std::string("'NoneType' object has no attribute '") + field + "'");
  return *s;
}

}  // namespace

bool PassPipeline::_should_skip_optimization(const Optimization& optimization) {
  return _infer_behavior(optimization, settings_of(_build_settings, "optimizations_to_skip").optimizations_to_skip());
}

bool PassPipeline::_should_skip_validation(const Validation& validation) {
  return _infer_behavior(validation, settings_of(_build_settings, "validations_to_skip").validations_to_skip());
}

bool PassPipeline::_should_enforce_optimization(const Optimization& optimization) {
  return _infer_behavior(optimization,
                         settings_of(_build_settings, "optimizations_to_enforce").optimizations_to_enforce());
}

bool PassPipeline::_infer_behavior(const Step& step, const std::optional<std::string>& pattern) {
  if (!pattern) return false;
  if (*pattern == "all") return true;
  return _patterns->get(*pattern)->matches(*pattern, step.name);
}

programs::ProgramPtr PassPipeline::operator()(const programs::ProgramPtr& program) {
  logging::debug(logger(), [&] { return "Pass '" + name + "': starting"; });
  programs::ProgramPtr current = program;
  for (const StepPtr& step : steps) {
    if (!step) throw TypeError("'NoneType' object is not callable");
    if (auto* validation = dynamic_cast<Validation*>(step.get())) {
      _run_validation(current, *validation);
    } else if (auto* optimization = dynamic_cast<Optimization*>(step.get())) {
      current = _run_optimization(current, *optimization);
    } else {
      current = (*step)(current);
    }
  }
  return current;
}

programs::ProgramPtr PassPipeline::_run_optimization(const programs::ProgramPtr& current_program,
                                                     Optimization& optimization) {
  if (_should_skip_optimization(optimization)) {
    logging::debug(logger(),
                   [&] { return "Pass '" + name + "': skipping optimization step '" + optimization.name + "'"; });
    return current_program;
  }
  try {
    return optimization(current_program);
  } catch (const std::exception& failure) {
    const std::exception_ptr caught = std::current_exception();
    bool enforce = false;
    try {
      enforce = _should_enforce_optimization(optimization);
    } catch (HasCause& replacement) {
      // The decision failed in place of the optimization's failure: keep that one reachable.
      if (!replacement.cause()) replacement.set_cause(caught);
      throw;
    }
    if (enforce) throw;
    logging::warning(logger(), "Pass '" + name + "': exception on optimization '" + optimization.name +
                                   "': " + failure.what());
    return current_program;
  }
}

void PassPipeline::_run_validation(const programs::ProgramPtr& current_program, Validation& validation) {
  if (_should_skip_validation(validation)) {
    logging::debug(logger(), [&] { return "Pass '" + name + "': skipping validation step '" + validation.name + "'"; });
    return;
  }
  validation(current_program);
}

}  // namespace vell_qasm::passes
