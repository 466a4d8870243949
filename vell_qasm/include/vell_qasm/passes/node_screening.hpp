// Node screening: a validation step that walks an OpenQASM syntax tree and fails on the first
// node that a criterion refuses.
//
// The walk is the visitor base's own, root first and depth first: at each node the criterion
// comes first, then the node's children in field order, and a node's whole subtree is done before
// its next sibling. Every node goes through generic_visit, nodes of classes defined outside the
// tree library (HwQubit) included. The first refused node ends the walk; nothing is collected.
//
// The walk enters what the reference walk leaves out, so that no part of the program passes
// unseen: the labels and blocks of switch cases (after the switch's other fields) and the inner
// index lists of an IndexedIdentifier (after its other fields).
//
// AllowedNodeTypesValidator accepts a node exactly when the node's own class is in its set: a
// node of a class derived from a member is refused. The set is shared with its owner, not copied,
// so classes added or removed later count from the next run on. Within a run it asks the set once
// per node class, and nodes of a library class found allowed cost the walk nothing more: the
// walk passes them as the generic walk does, without a handler call. A criterion put in place of
// its own, or a class derived from it, is asked about every node.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_set>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes {

using NodeClassSet = std::unordered_set<openqasm3::ast::NodeClass>;

// A node that a screening refused; `node` is that node.
class InvalidFeatureException : public ValidationException {
 public:
  explicit InvalidFeatureException(openqasm3::ast::NodePtr node);

  const openqasm3::ast::NodePtr node;

  const char* what() const noexcept override { return _message.c_str(); }

 protected:
  InvalidFeatureException(openqasm3::ast::NodePtr node, std::string message);
  const openqasm3::ast::QASMNode* located_node() const noexcept override { return node.get(); }

 private:
  std::string _message;
};

// A node whose class is not allowed; the message names the class, not the node.
class DisallowedNodeTypeException : public InvalidFeatureException {
 public:
  explicit DisallowedNodeTypeException(openqasm3::ast::NodePtr node);
};

class AllowedNodeScreening : public Validation, public openqasm3::ast::QASMVisitor {
 public:
  // Whether a node is acceptable.
  using Criterion = std::function<bool(const openqasm3::ast::QASMNode&)>;

  explicit AllowedNodeScreening(Criterion criterion);

  // Read afresh for every node.
  Criterion criterion;

  // Screens the tree of an OpenQasmProgram (anything else is an AssertionError) and returns the
  // very program it was given, unchanged.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

  void generic_visit(openqasm3::ast::QASMNode& node) override;

 protected:
  // For derived classes: `class_name` is the derived class's own name.
  AllowedNodeScreening(Criterion criterion, std::string_view class_name);
  // For a derived class `declared` whose criterion answers by node kind alone: the library kinds
  // that `passed` marks go straight to their children, without the criterion (see QASMVisitor).
  AllowedNodeScreening(Criterion criterion, std::string_view class_name,
                       const openqasm3::ast::detail::DefaultHandlers& passed, const std::type_info& declared);

  // A failure leaving a statement's walk gets that statement's position, as in every walk.
  void failed_in(openqasm3::ast::QASMNode& statement) override;

  // Reports a refused node. An override that returns lets the walk go on into the node's children.
  virtual void _raise_exception(const openqasm3::ast::NodePtr& node);
};

class AllowedNodeTypesValidator : public AllowedNodeScreening {
 public:
  // A null set is a TypeError.
  explicit AllowedNodeTypesValidator(std::shared_ptr<NodeClassSet> allowed_node_types);

  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;

 protected:
  void _raise_exception(const openqasm3::ast::NodePtr& node) override;

 private:
  struct Answers;
  struct OwnCriterion;  // the criterion it is built with
  AllowedNodeTypesValidator(std::shared_ptr<Answers> answers, std::string_view class_name);
  std::shared_ptr<Answers> _answers;
};

}  // namespace vell_qasm::passes
