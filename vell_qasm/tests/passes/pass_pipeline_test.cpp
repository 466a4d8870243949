#include "vell_qasm/passes/pass_pipeline.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "vell_qasm/logging.hpp"

namespace vell_qasm::passes {
namespace {

using configurations::BuildSettings;
using programs::ProgramPtr;
using Behaviour = std::function<ProgramPtr(const ProgramPtr&)>;

const std::string kLogger = "vell_qasm.passes.pass_pipeline";

ProgramPtr new_program() { return std::make_shared<programs::TextualProgram>("OPENQASM 3.0;"); }

// What the probes saw: the name of each step called, with the program it was handed.
struct Journal {
  std::vector<std::string> calls;
  std::vector<ProgramPtr> received;
};

template <class Kind> class Probe : public Kind {
 public:
  Probe(std::optional<std::string> name, std::shared_ptr<Journal> journal, Behaviour behaviour)
      : Kind(std::move(name), "Probe"), _journal(std::move(journal)), _behaviour(std::move(behaviour)) {}
  ProgramPtr operator()(const ProgramPtr& program) override {
    _journal->calls.push_back(this->name);
    _journal->received.push_back(program);
    return _behaviour(program);
  }

 private:
  std::shared_ptr<Journal> _journal;
  Behaviour _behaviour;
};

Behaviour returns_new() {
  return [](const ProgramPtr&) { return new_program(); };
}
Behaviour returns(ProgramPtr p) {
  return [p](const ProgramPtr&) { return p; };
}
// Throws the one stored exception object every time.
Behaviour fails(std::exception_ptr failure) {
  return [failure](const ProgramPtr&) -> ProgramPtr { std::rethrow_exception(failure); };
}

const std::exception* address_of(const std::exception_ptr& p) {
  if (!p) return nullptr;
  try {
    std::rethrow_exception(p);
  } catch (const std::exception& e) {
    return &e;
  }
  return nullptr;
}

struct Level {
  spdlog::level::level_enum level;
  std::string text;
  friend bool operator==(const Level&, const Level&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Level& l) {
    return os << spdlog::level::to_string_view(l.level).data() << ": " << l.text;
  }
};
std::vector<Level> levels(const logging::Capture& capture) {
  std::vector<Level> out;
  for (auto& r : capture.records(kLogger)) out.push_back({r.level, r.text});
  return out;
}
Level debug(std::string text) { return {spdlog::level::debug, std::move(text)}; }
Level warning(std::string text) { return {spdlog::level::warn, std::move(text)}; }

class PipelineTest : public ::testing::Test {
 protected:
  std::shared_ptr<Journal> journal = std::make_shared<Journal>();
  logging::Capture capture;

  StepPtr plain(std::string name, Behaviour b = returns_new()) {
    return std::make_shared<Probe<Step>>(std::move(name), journal, std::move(b));
  }
  StepPtr optimization(std::string name, Behaviour b = returns_new()) {
    return std::make_shared<Probe<Optimization>>(std::move(name), journal, std::move(b));
  }
  StepPtr validation(std::string name, Behaviour b = returns_new()) {
    return std::make_shared<Probe<Validation>>(std::move(name), journal, std::move(b));
  }
  static std::shared_ptr<PassPipeline> pipeline(std::vector<StepPtr> steps, BuildSettings::Fields fields = {},
                                                std::optional<std::string> name = "main") {
    return std::make_shared<PassPipeline>(std::move(steps), std::make_shared<BuildSettings>(fields), name);
  }
};

// ---- names and the bare run

TEST_F(PipelineTest, NamesDefaultToTheConcreteClassAndKeepAnEmptyName) {
  auto settings = std::make_shared<BuildSettings>();
  EXPECT_EQ(PassPipeline({}, settings).name, "PassPipeline");
  EXPECT_EQ(PassPipeline({}, settings, "").name, "");
  EXPECT_EQ(Probe<Optimization>(std::nullopt, journal, returns_new()).name, "Probe");

  struct Derived : PassPipeline {
    explicit Derived(std::shared_ptr<const BuildSettings> s) : PassPipeline({}, std::move(s), std::nullopt, "Derived") {}
  };
  EXPECT_EQ(Derived(settings).name, "Derived");
}

TEST_F(PipelineTest, EmptyPipelineLogsItsStartAndReturnsTheVeryProgram) {
  auto program = new_program();
  EXPECT_EQ((*pipeline({}))(program), program);
  EXPECT_EQ(levels(capture), std::vector<Level>{debug("Pass 'main': starting")});
}

TEST_F(PipelineTest, PlainStepsThreadWhateverTheyReturnAndAreCalledAgainOnReuse) {
  auto a = new_program();
  auto b = new_program();
  auto p = pipeline({plain("one", returns(a)), plain("two", returns(nullptr)), plain("three", returns(b))});
  auto program = new_program();
  EXPECT_EQ((*p)(program), b);
  EXPECT_EQ((*p)(program), b);
  EXPECT_EQ(journal->calls, (std::vector<std::string>{"one", "two", "three", "one", "two", "three"}));
  EXPECT_EQ(journal->received[0], program);
  EXPECT_EQ(journal->received[1], a);
  EXPECT_EQ(journal->received[2], nullptr);  // a result is never examined
}

// ---- the policy, row by row

TEST_F(PipelineTest, ValidationResultIsIgnoredAndItsFailureEndsTheRun) {
  auto program = new_program();
  auto other = new_program();
  auto result = (*pipeline({validation("check", returns(other)), plain("next", returns(other))}))(program);
  EXPECT_EQ(journal->received[1], program);
  EXPECT_EQ(result, other);

  auto failure = std::make_exception_ptr(std::runtime_error("refused"));
  journal->calls.clear();
  capture.clear();
  auto p = pipeline({validation("check", fails(failure)), plain("next")});
  try {
    (*p)(program);
    FAIL() << "the validation's failure should leave the pipeline";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(&e, address_of(failure));
  }
  EXPECT_EQ(journal->calls, std::vector<std::string>{"check"});
  EXPECT_EQ(levels(capture), std::vector<Level>{debug("Pass 'main': starting")});
}

TEST_F(PipelineTest, SkipAllTouchesOnlyItsOwnKind) {
  auto steps = [&] {
    return std::vector<StepPtr>{plain("p"), optimization("o"), validation("v")};
  };
  (*pipeline(steps(), {.optimizations_to_skip = "all"}))(new_program());
  EXPECT_EQ(journal->calls, (std::vector<std::string>{"p", "v"}));
  EXPECT_EQ(levels(capture), (std::vector<Level>{debug("Pass 'main': starting"),
                                                 debug("Pass 'main': skipping optimization step 'o'")}));

  journal->calls.clear();
  capture.clear();
  auto program = new_program();
  auto p = pipeline({validation("v"), plain("p", returns(program))}, {.validations_to_skip = "all"});
  EXPECT_EQ((*p)(new_program()), program);
  EXPECT_EQ(journal->calls, std::vector<std::string>{"p"});
  EXPECT_EQ(levels(capture), (std::vector<Level>{debug("Pass 'main': starting"),
                                                 debug("Pass 'main': skipping validation step 'v'")}));
}

TEST_F(PipelineTest, SkippingWinsOverEnforcingAndTheProgramPassesOnUnchanged) {
  auto program = new_program();
  auto p = pipeline({optimization("fold"), plain("next")},
                    {.optimizations_to_enforce = "all", .optimizations_to_skip = "fo"});
  (*p)(program);
  EXPECT_EQ(journal->calls, std::vector<std::string>{"next"});
  EXPECT_EQ(journal->received[0], program);
  EXPECT_EQ(levels(capture), (std::vector<Level>{debug("Pass 'main': starting"),
                                                 debug("Pass 'main': skipping optimization step 'fold'")}));
}

TEST_F(PipelineTest, SucceedingOptimizationsNeverReadTheEnforcePattern) {
  auto result = new_program();
  auto p = pipeline({optimization("fold", returns(result))}, {.optimizations_to_enforce = "(unclosed"});
  EXPECT_EQ((*p)(new_program()), result);
}

TEST_F(PipelineTest, ToleratedFailureWarnsAndPassesOnTheVeryProgramTheOptimizationReceived) {
  auto program = new_program();
  auto failure = std::make_exception_ptr(std::runtime_error("division by zero"));
  auto p = pipeline({optimization("fold", fails(failure)), plain("next", returns(program))},
                    {.optimizations_to_enforce = "other"});
  (*p)(program);
  EXPECT_EQ(journal->calls, (std::vector<std::string>{"fold", "next"}));
  EXPECT_EQ(journal->received[1], program);
  EXPECT_EQ(levels(capture),
            (std::vector<Level>{debug("Pass 'main': starting"),
                                warning("Pass 'main': exception on optimization 'fold': division by zero")}));

  capture.clear();
  auto silent = std::make_exception_ptr(std::runtime_error(""));
  (*pipeline({optimization("fold", fails(silent))}))(program);
  EXPECT_EQ(levels(capture).back(), warning("Pass 'main': exception on optimization 'fold': "));
}

TEST_F(PipelineTest, EnforcedFailureLeavesAsTheSameObjectWithoutWarning) {
  auto failure = std::make_exception_ptr(std::out_of_range("index 7"));
  auto p = pipeline({optimization("fold", fails(failure)), plain("next")}, {.optimizations_to_enforce = "fol"});
  try {
    (*p)(new_program());
    FAIL() << "an enforced optimization's failure should leave the pipeline";
  } catch (const std::out_of_range& e) {
    EXPECT_EQ(&e, address_of(failure));
  }
  EXPECT_EQ(journal->calls, std::vector<std::string>{"fold"});
  EXPECT_EQ(levels(capture), std::vector<Level>{debug("Pass 'main': starting")});
}

TEST_F(PipelineTest, OnlyStandardExceptionsCountAsAnOptimizationsFailure) {
  auto p = pipeline({optimization("fold", [](const ProgramPtr&) -> ProgramPtr { throw 42; })});
  EXPECT_THROW((*p)(new_program()), int);
  EXPECT_EQ(levels(capture).size(), 1u);
}

TEST_F(PipelineTest, AStepOfBothKindsIsTreatedAsAValidation) {
  struct Both : Validation, Optimization {
    std::shared_ptr<Journal> journal;
    explicit Both(std::shared_ptr<Journal> j)
        : Validation("both", "Both"), Optimization("both", "Both"), journal(std::move(j)) {}
    ProgramPtr operator()(const ProgramPtr&) override {
      journal->calls.push_back("both");
      return new_program();
    }
  };
  auto both = std::make_shared<Both>(journal);
  StepPtr as_step = std::static_pointer_cast<Optimization>(both);
  auto program = new_program();
  EXPECT_EQ((*pipeline({as_step}, {.optimizations_to_skip = "all"}))(program), program);
  EXPECT_EQ(journal->calls, std::vector<std::string>{"both"});
  (*pipeline({as_step}, {.validations_to_skip = "all"}))(program);
  EXPECT_EQ(journal->calls, std::vector<std::string>{"both"});
}

TEST_F(PipelineTest, NestedPipelineIsAPlainStepGovernedByItsOwnSettings) {
  auto failure = std::make_exception_ptr(std::runtime_error("broken"));
  auto inner = pipeline({optimization("fold", fails(failure)), plain("after")},
                        {.optimizations_to_enforce = "all", .validations_to_skip = "all"}, "inner");
  // The outer settings would skip anything and tolerate everything; none of that reaches inside,
  // and its malformed validation pattern is never consulted for the nested pipeline.
  auto outer = pipeline({inner, plain("last")},
                        {.optimizations_to_skip = "all", .validations_to_skip = "[", .optimization_level = 3},
                        "outer");
  try {
    (*outer)(new_program());
    FAIL() << "the nested pipeline's failure should end the outer run";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(&e, address_of(failure));
  }
  EXPECT_EQ(journal->calls, std::vector<std::string>{"fold"});
  EXPECT_EQ(levels(capture),
            (std::vector<Level>{debug("Pass 'outer': starting"), debug("Pass 'inner': starting")}));
}

// ---- patterns

struct Decisions : PassPipeline {
  Decisions() : PassPipeline({}, std::make_shared<BuildSettings>()) {}
  using PassPipeline::_infer_behavior;
};

TEST(PatternSelection, NoneAllEmptyAndAnchoredCaseSensitiveExpressions) {
  Decisions d;
  auto journal = std::make_shared<Journal>();
  Probe<Step> parsing("SourceParsing", journal, returns_new());
  Probe<Step> allocator("Allocator", journal, returns_new());
  Probe<Step> unicode("\xc3\x84x", journal, returns_new());  // "Äx"

  EXPECT_FALSE(d._infer_behavior(parsing, std::nullopt));
  EXPECT_TRUE(d._infer_behavior(parsing, "all"));
  EXPECT_TRUE(d._infer_behavior(parsing, ""));
  EXPECT_TRUE(d._infer_behavior(parsing, "Source"));       // from the start, not to the end
  EXPECT_FALSE(d._infer_behavior(parsing, "Parsing"));     // not searched for further in
  EXPECT_TRUE(d._infer_behavior(parsing, ".*Parsing"));
  EXPECT_FALSE(d._infer_behavior(parsing, "source"));      // case-sensitive
  EXPECT_FALSE(d._infer_behavior(parsing, "All"));         // only the exact text "all" is special
  EXPECT_TRUE(d._infer_behavior(allocator, "All"));
  EXPECT_FALSE(d._infer_behavior(parsing, " all"));        // no trimming
  EXPECT_TRUE(d._infer_behavior(parsing, "Source|Gate"));
  EXPECT_TRUE(d._infer_behavior(parsing, "Gate|Source"));  // the anchor binds every alternative
  EXPECT_TRUE(d._infer_behavior(unicode, ".x"));           // a character, not a byte
}

TEST(PatternSelection, MalformedPatternNamesItselfAndFailsAgainEachTime) {
  Decisions d;
  auto journal = std::make_shared<Journal>();
  Probe<Step> step("SourceParsing", journal, returns_new());
  for (int i = 0; i < 2; ++i) {
    try {
      d._infer_behavior(step, "Source[");
      FAIL() << "a malformed pattern should fail";
    } catch (const InvalidPatternError& e) {
      EXPECT_EQ(e.pattern, "Source[");
      EXPECT_NE(std::string(e.what()).find("'Source['"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("missing terminating ]"), std::string::npos) << e.what();
      EXPECT_NE(dynamic_cast<const ValueError*>(&e), nullptr);
    }
  }
}

TEST_F(PipelineTest, MalformedSkipPatternsFailWhenTheFirstStepOfTheirKindIsReached) {
  // Never reached: no step of the kind concerned.
  EXPECT_NO_THROW((*pipeline({plain("p"), validation("v")}, {.optimizations_to_skip = "("}))(new_program()));
  EXPECT_NO_THROW((*pipeline({plain("p"), optimization("o")}, {.validations_to_skip = "("}))(new_program()));

  journal->calls.clear();
  EXPECT_THROW((*pipeline({plain("p"), optimization("o"), plain("q")}, {.optimizations_to_skip = "("}))(new_program()),
               InvalidPatternError);
  EXPECT_EQ(journal->calls, std::vector<std::string>{"p"});

  journal->calls.clear();
  EXPECT_THROW((*pipeline({plain("p"), validation("v"), plain("q")}, {.validations_to_skip = "("}))(new_program()),
               InvalidPatternError);
  EXPECT_EQ(journal->calls, std::vector<std::string>{"p"});
}

TEST_F(PipelineTest, MalformedEnforcePatternReplacesTheFailureButKeepsItAsCause) {
  auto failure = std::make_exception_ptr(std::runtime_error("broken"));
  auto p = pipeline({optimization("fold", fails(failure)), plain("next")}, {.optimizations_to_enforce = "*"});
  try {
    (*p)(new_program());
    FAIL() << "the malformed enforce pattern should leave the pipeline";
  } catch (const InvalidPatternError& e) {
    EXPECT_EQ(e.pattern, "*");
    EXPECT_EQ(address_of(e.cause()), address_of(failure));
  }
  EXPECT_EQ(journal->calls, std::vector<std::string>{"fold"});
  EXPECT_EQ(levels(capture), std::vector<Level>{debug("Pass 'main': starting")});
}

// ---- records and overrides

TEST_F(PipelineTest, NamesStandInRecordsAsTheyAre) {
  auto failure = std::make_exception_ptr(std::runtime_error("100% {} broken"));
  (*pipeline({optimization("50% {}", fails(failure)), validation("{0}")}, {.validations_to_skip = "all"},
             "%s {}"))(new_program());
  EXPECT_EQ(levels(capture),
            (std::vector<Level>{debug("Pass '%s {}': starting"),
                                warning("Pass '%s {}': exception on optimization '50% {}': 100% {} broken"),
                                debug("Pass '%s {}': skipping validation step '{0}'")}));
}

TEST_F(PipelineTest, OverridingOneDecisionChangesThePolicy) {
  struct SkipEverything : PassPipeline {
    using PassPipeline::PassPipeline;
    bool _infer_behavior(const Step&, const std::optional<std::string>&) override { return true; }
  };
  SkipEverything p({optimization("o"), validation("v"), plain("p")}, std::make_shared<BuildSettings>());
  p(new_program());
  EXPECT_EQ(journal->calls, std::vector<std::string>{"p"});
}

TEST_F(PipelineTest, MissingStepsOrSettingsFailInsteadOfCrashing) {
  EXPECT_THROW((*pipeline({plain("p"), nullptr}))(new_program()), TypeError);
  EXPECT_EQ(journal->calls, std::vector<std::string>{"p"});

  PassPipeline without_settings({plain("p")}, nullptr);
  EXPECT_NO_THROW(without_settings(new_program()));
  PassPipeline optimizing({optimization("o")}, nullptr);
  EXPECT_THROW(optimizing(new_program()), AttributeError);
}

}  // namespace
}  // namespace vell_qasm::passes
