// The TAVO SDK layer: records TAVO programs through calls and renders them as text listings.
//
//   namespace tavo = vell::tavo;
//   auto scope = tavo::program();
//   {
//     auto entered = scope.enter();              // statements now go to scope's program
//     auto n = tavo::declare(tavo::DType::Int, 0);
//     auto out = tavo::declare_stream();
//     {
//       auto loop = tavo::while_(n < 10);        // open until `loop` is destroyed
//       tavo::assign(n, n + 1);
//     }
//     tavo::save(n, out);
//     auto sp = tavo::stream_processing();
//     out.save_all("n");
//   }
//   std::cout << scope.program().listing();
//
// prints
//
//   declare v0: int = 0
//   declare_stream s0
//   while (v0 < 10):
//     assign v0 = (v0 + 1)
//   save v0 -> s0
//   stream_processing:
//     save_all s0 "n"
//
// value.hpp: values, expressions, their type rules, Math and Cast.
// program.hpp: programs, scopes, guards, is_inside_scope(), and the listing grammar.
// statements.hpp: declarations, streams, assignments, alignment, pulse-level statements and
// blocks.
// errors.hpp: the refusals (TavoError and its kinds).
#pragma once

#include "vell/tavo/errors.hpp"
#include "vell/tavo/program.hpp"
#include "vell/tavo/statements.hpp"
#include "vell/tavo/value.hpp"
