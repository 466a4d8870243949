// QASMVisitor and QASMTransformer (defined with the tree in ast.hpp).
//
// Dispatch goes by a node's exact class: a node reaches visit_<Class> of its own class, never the
// handler of a base class. Nodes of classes defined outside this library reach a visitor only
// when it derives from ExternalVisit<Class> (ExternalTransform<Class> for transformers);
// otherwise the generic walk handles them.
//
// Derive a walker from VisitorFor<Walker> / TransformerFor<Walker> rather than from QASMVisitor /
// QASMTransformer directly: the handlers it overrides are then known at compile time, and nodes
// it has no handler for are walked without a call to their handler (several times faster for a
// transformer). A walker derived from QASMVisitor directly, or from another walker class, is
// walked correctly, through every handler. Such a walker also leaves alone every subtree that
// cannot hold a node it handles (a walker of statements does not enter expressions), by a table of
// which classes may stand below which, read from the field types (detail::KindReach); not a walker
// that overrides generic_visit or handles an outside class, nor a class derived from the walker.
// Trap: the table takes a field of type NodePtr outside a program's statement list to hold no
// statement, as every parsed tree has it; the generic rewrite refuses one there, and a handler
// must not put one there either. A walker that must find nodes even there (a count of the whole
// tree) also derives from EveryNode: it skips nothing.
//
// Trap: a handler that does not call generic_visit stops the descent below its node, and the
// generic walk enters switch cases (labels, then block) only for a walker built with
// SwitchCases::enter; by default it leaves them, as the reference walk does. Likewise the inner
// index lists of an IndexedIdentifier (q[1, 2]), entered after its other fields only by a visitor
// that asked for it (enter_index_lists()).
//
// Both know the innermost statement being walked (statement()) and hear of a failure leaving a
// statement's walk (failed_in), at no cost to a walk that does not fail.
#pragma once

#include "openqasm3/ast.hpp"
