// Everything of the OpenQASM 3 syntax-tree library.
#pragma once

#include "openqasm3/ast.hpp"
#include "openqasm3/number_text.hpp"
#include "openqasm3/printer.hpp"
#include "openqasm3/stack_guard.hpp"
#include "openqasm3/visitor.hpp"
