#include "vell_qasm/passes/code_generation/output_saving.hpp"

#include "vell_qasm/errors.hpp"
#include "vell_qasm/passes/utils.hpp"

namespace vell_qasm::passes::code_generation {

programs::ProgramPtr VariablesSaver::operator()(const programs::ProgramPtr& program) {
  if (utils::is_inside_scope()) return program;
  auto* tavo_program = dynamic_cast<programs::Tavo1Program*>(program.get());
  check(tavo_program != nullptr);
  const auto& program_scope = tavo_program->_program;
  check(program_scope.has_value());
  {
    auto entered = program_scope->enter();
    tavo_program->save_all_outputs();
  }
  return program;
}

}  // namespace vell_qasm::passes::code_generation
