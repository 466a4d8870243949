// Steps and the pipeline that runs them.
//
// A Step is configured by its constructor and then called with one program, returning one
// program. Its two kinds, Optimization and Validation, only mark how a PassPipeline treats it;
// every other step (a nested pipeline included) is a plain step that the pipeline just calls.
//
// Policy lives here, not in the steps. For each step, in order:
//   - a Validation (tested first, so a step of both kinds counts as a validation) is not called
//     when `validations_to_skip` selects its name; else it is called, its result is dropped and
//     the program it was given passes on; its failure ends the run;
//   - an Optimization is not called when `optimizations_to_skip` selects it (skipping wins over
//     enforcing); else its result becomes the program. When it fails, `optimizations_to_enforce`
//     is read, and only then: if it selects the step the very exception object leaves the
//     pipeline, otherwise the failure is logged at WARNING and the run goes on with the very
//     program object the optimization was handed (any in-place change it made stays);
//   - any other step is called and its result, whatever it is, becomes the program; its failure
//     ends the run.
// Only exceptions derived from std::exception count as a step's failure; anything else passes
// through untouched. The pipeline never wraps, copies or logs a failure that ends the run.
//
// A pattern is none (selects nothing), exactly "all" (selects everything), or a Perl-style
// regular expression that must match the step's name from its first character on, not
// necessarily to its end, case-sensitively (the empty pattern selects everything). Patterns are
// compiled on first use and then kept; a malformed one fails with InvalidPatternError (a
// ValueError) at the first decision that consults it, never earlier.
//
// Records go to the logger "vell_qasm.passes.pass_pipeline": DEBUG at the start of every run and
// for every skipped step, WARNING for every tolerated failure.
//
// Default names: every concrete step class passes its own class name to the Step constructor,
// which uses it when the caller gives no name (an empty name is kept as given):
//   class DeclSplitting : public Step {
//    public:
//     DeclSplitting() : Step(std::nullopt, "DeclSplitting") {}
//     programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
//   };
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vell_qasm/configurations/build_settings.hpp"
#include "vell_qasm/errors.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes {

class Step {
 public:
  virtual ~Step() = default;
  Step(const Step&) = delete;
  Step& operator=(const Step&) = delete;

  // The name that log records and the settings' patterns refer to.
  const std::string name;

  virtual programs::ProgramPtr operator()(const programs::ProgramPtr& program) = 0;

 protected:
  // `class_name` is the concrete class's own name, used when `name` is not given.
  Step(std::optional<std::string> name, std::string_view class_name)
      : name(name ? std::move(*name) : std::string(class_name)) {}
};

using StepPtr = std::shared_ptr<Step>;

// A step that rewrites the program: may be skipped, and its failure is tolerated unless enforced.
class Optimization : public Step {
 protected:
  using Step::Step;
};

// A step that checks the program: may be skipped; its result is ignored, its failure never
// tolerated.
class Validation : public Step {
 protected:
  using Step::Step;
};

// Base of every validation failure; the derived classes carry the message.
class ValidationException : public std::exception, public HasLocation {
 public:
  const char* what() const noexcept override { return ""; }
};

// A step-name pattern that is not a valid regular expression (or that the matcher gave up on).
// When it replaces an optimization's failure, that failure is its cause().
class InvalidPatternError : public ValueError, public HasCause {
 public:
  InvalidPatternError(std::string pattern, std::string reason);

  const std::string pattern;
  const std::string reason;
};

class PassPipeline : public Step {
 public:
  // `steps` may be empty and may hold one step more than once; `build_settings` is shared, not
  // copied, and read anew at every decision. Neither is examined here.
  PassPipeline(std::vector<StepPtr> steps, std::shared_ptr<const configurations::BuildSettings> build_settings,
               std::optional<std::string> name = std::nullopt);
  ~PassPipeline() override;

  const std::vector<StepPtr> steps;

  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

 protected:
  // For derived pipelines: `class_name` is the derived class's own name.
  PassPipeline(std::vector<StepPtr> steps, std::shared_ptr<const configurations::BuildSettings> build_settings,
               std::optional<std::string> name, std::string_view class_name);

  const std::shared_ptr<const configurations::BuildSettings> _build_settings;

  // The decisions; each reaches the others through the object, so overriding one changes the policy.
  virtual bool _should_skip_optimization(const Optimization& optimization);
  virtual bool _should_skip_validation(const Validation& validation);
  virtual bool _should_enforce_optimization(const Optimization& optimization);
  // Whether `pattern` selects `step` (see the header comment). Uses no state of the pipeline but
  // the compiled-pattern cache.
  virtual bool _infer_behavior(const Step& step, const std::optional<std::string>& pattern);
  virtual programs::ProgramPtr _run_optimization(const programs::ProgramPtr& current_program,
                                                 Optimization& optimization);
  virtual void _run_validation(const programs::ProgramPtr& current_program, Validation& validation);

 private:
  class PatternCache;
  std::unique_ptr<PatternCache> _patterns;
};

}  // namespace vell_qasm::passes
