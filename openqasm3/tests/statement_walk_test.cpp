// What a walk knows of the statement it is in: statement() while the walk runs, and failed_in for
// each statement a failure leaves, innermost first; on the fast path as through handlers.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "openqasm3/parser.hpp"
#include "openqasm3/visitor.hpp"

namespace {

using namespace openqasm3::ast;

const char* kSource =
    "int i;\n"
    "while (i < 2) {\n"
    "  if (true) {\n"
    "    i = t + 1;\n"
    "  }\n"
    "}\n";

// Statement class names and lines, as seen at `t` and as a failure raised there leaves them.
struct Trace {
  std::string at_t;
  std::vector<std::string> failed;
  std::string after;
};
std::string describe(const QASMNode* node) {
  return node ? std::string(node->class_name()) + "@" + std::to_string(node->span ? node->span->start_line : 0) : "none";
}

template <class W> Trace trace(W& walker, bool fail) {
  walker.fail = fail;
  auto tree = openqasm3::parse(kSource);
  try {
    walker.visit(tree);
  } catch (const std::runtime_error&) {
  }
  return {walker.at_t, walker.failed, describe(walker.statement())};
}

struct Watcher : VisitorFor<Watcher> {
  bool fail = false;
  std::string at_t;
  std::vector<std::string> failed;
  void visit_Identifier(Identifier& node) override {
    if (node.name != "t") return;
    at_t = describe(statement());
    if (fail) throw std::runtime_error("at t");
  }
  void failed_in(QASMNode& statement) override { failed.push_back(describe(&statement)); }
};

struct Rewriter : TransformerFor<Rewriter> {
  bool fail = false;
  std::string at_t;
  std::vector<std::string> failed;
  Rewrite visit_Identifier(const Ptr<Identifier>& node) override {
    if (node->name == "t") {
      at_t = describe(statement());
      if (fail) throw std::runtime_error("at t");
    }
    return node;
  }
  void failed_in(QASMNode& statement) override { failed.push_back(describe(&statement)); }
};

// A handler of a statement class runs as that statement too.
struct BranchHandler : Watcher {
  void visit_BranchingStatement(BranchingStatement& node) override { generic_visit(node); }
};

TEST(StatementWalk, KnowsTheInnermostStatementAndHearsOfFailuresInnermostFirst) {
  const std::vector<std::string> left{"ClassicalAssignment@4", "BranchingStatement@3", "WhileLoop@2"};
  Watcher watcher;
  Rewriter rewriter;
  BranchHandler handler;
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail);
    for (const Trace& t : {trace(watcher, fail), trace(rewriter, fail), trace(handler, fail)}) {
      EXPECT_EQ(t.at_t, "ClassicalAssignment@4");
      EXPECT_EQ(t.failed, fail ? left : std::vector<std::string>{});
      EXPECT_EQ(t.after, "none");
    }
  }
}

}  // namespace
