// VariablesSaver: the last step of a compilation. It saves every output variable of the
// Tavo1Program that code generation filled to its result stream, in declaration order, inside
// the program's own SDK program scope, and returns that very program object.
//
// Inside an SDK program scope that is already open (the caller's), it saves nothing and returns
// the program at once: saving is then the business of the caller who opened the scope. Otherwise
// it enters the program's scope once, saves, and leaves the scope, also when saving fails.
//
// Traps:
// - An output declared without a result stream (it was given a value at compile time) makes the
//   saving fail with NoStreamVariableException; the outputs after it are not saved, those before
//   it stay saved.
// - With no scope open, a program that is not a Tavo1Program, or one without a scope of its own,
//   is an AssertionError.
#pragma once

#include <optional>
#include <string>

#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::code_generation {

class VariablesSaver : public Step {
 public:
  explicit VariablesSaver(std::optional<std::string> name = std::nullopt) : Step(std::move(name), "VariablesSaver") {}

  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::code_generation
