// Program forms: what every step takes and returns.
//
// Programs are handled as std::shared_ptr<Program>; a step tests the form it was handed with
// std::dynamic_pointer_cast. An OpenQasmProgram shares its syntax tree with whoever built it: it
// neither copies nor owns it exclusively, so two programs around one root see each other's
// in-place rewrites.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "openqasm3/ast.hpp"

namespace vell_qasm::programs {

class Program {
 public:
  virtual ~Program() = default;

 protected:
  Program() = default;
};

using ProgramPtr = std::shared_ptr<Program>;

// OpenQASM 3 source text exactly as the caller handed it in.
class TextualProgram : public Program {
 public:
  explicit TextualProgram(std::string source_code) : _source_code(std::move(source_code)) {}
  const std::string& source_code() const { return _source_code; }

 private:
  const std::string _source_code;
};

// An OpenQASM 3 syntax tree (its root node).
class OpenQasmProgram : public Program {
 public:
  explicit OpenQasmProgram(std::shared_ptr<openqasm3::ast::Program> ast) : _ast(std::move(ast)) {}
  const std::shared_ptr<openqasm3::ast::Program>& ast() const { return _ast; }

 private:
  const std::shared_ptr<openqasm3::ast::Program> _ast;
};

}  // namespace vell_qasm::programs
