// The compiler's walker bases: switch cases entered, the statement being walked, and failures
// located at it (or kept where the exception itself points).
#include "vell_qasm/passes/walker.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "openqasm3/parser.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {
namespace {

namespace ast = openqasm3::ast;

// Calls `on_identifier` for every identifier named `name`, recording the statement walked there.
class IdentifierWatcher : public Visitor<IdentifierWatcher> {
 public:
  IdentifierWatcher(std::string name, std::function<void(ast::Identifier&)> on_identifier = {})
      : name_(std::move(name)), on_identifier_(std::move(on_identifier)) {}
  void visit_Identifier(ast::Identifier& node) override {
    if (node.name != name_) return;
    statements.push_back(statement());
    if (on_identifier_) on_identifier_(node);
  }
  std::vector<ast::QASMNode*> statements;

 private:
  std::string name_;
  std::function<void(ast::Identifier&)> on_identifier_;
};

class IdentifierRewriter : public Transformer<IdentifierRewriter> {
 public:
  explicit IdentifierRewriter(std::function<void(ast::Identifier&)> on_identifier)
      : on_identifier_(std::move(on_identifier)) {}
  ast::Rewrite visit_Identifier(const ast::Ptr<ast::Identifier>& node) override {
    seen.push_back(statement());
    on_identifier_(*node);
    return node;
  }
  std::vector<ast::QASMNode*> seen;

 private:
  std::function<void(ast::Identifier&)> on_identifier_;
};

const char* kSource =
    "OPENQASM 3.0;\n"
    "int i;\n"
    "switch (i) {\n"
    "  case 0 {\n"
    "    if (true) {\n"
    "      i = t + 1;\n"
    "    }\n"
    "  }\n"
    "}\n";

TEST(Walker, EntersSwitchCasesAndKnowsTheInnermostStatement) {
  auto tree = openqasm3::parse(kSource);
  IdentifierWatcher watcher("t");
  watcher.visit(tree);
  ASSERT_EQ(watcher.statements.size(), 1u);
  ASSERT_NE(watcher.statements[0], nullptr);
  EXPECT_EQ(watcher.statements[0]->class_name(), "ClassicalAssignment");
  EXPECT_EQ(watcher.statements[0]->span->start_line, 6);
  EXPECT_EQ(watcher.statement(), nullptr);

  IdentifierRewriter rewriter([](ast::Identifier&) {});
  rewriter.visit(tree);
  ASSERT_EQ(rewriter.seen.size(), 4u);  // i (declaration), i (switch), i and t (assignment)
  EXPECT_EQ(rewriter.seen[0]->class_name(), "ClassicalDeclaration");
  EXPECT_EQ(rewriter.seen[1]->class_name(), "SwitchStatement");
  EXPECT_EQ(rewriter.seen[3]->class_name(), "ClassicalAssignment");
  EXPECT_EQ(rewriter.statement(), nullptr);
}

// Where a failure raised at the identifier `t` is reported.
std::optional<SourceLocation> located(const std::function<void(ast::Identifier&)>& raise, bool transform = false,
                                      const char* source = kSource) {
  auto tree = openqasm3::parse(source);
  try {
    if (transform) {
      IdentifierRewriter rewriter([&](ast::Identifier& node) {
        if (node.name == "t") raise(node);
      });
      rewriter.visit(tree);
    } else {
      IdentifierWatcher("t", raise).visit(tree);
    }
  } catch (...) {
    return failure_location(std::current_exception());
  }
  ADD_FAILURE() << "nothing was raised";
  return std::nullopt;
}

TEST(Walker, AFailureIsLocatedAtTheInnermostStatementUnlessItPointsElsewhere) {
  const SourceLocation assignment{std::nullopt, 6, 6};
  for (bool transform : {false, true}) {
    SCOPED_TRACE(transform ? "transformer" : "visitor");
    EXPECT_EQ(located([](ast::Identifier&) { throw ValueError("plain"); }, transform), assignment);
    // A failure of another library keeps its class and message, its location is kept beside it.
    auto foreign = located([](ast::Identifier&) { throw std::runtime_error("foreign"); }, transform);
    EXPECT_EQ(foreign, assignment);
    // An exception about a node keeps that node's position; one located by hand keeps its own.
    EXPECT_EQ(located([](ast::Identifier& node) { throw located_at(node, ValueError("at node")); }, transform),
              (SourceLocation{std::nullopt, 6, 10}));
    EXPECT_EQ(located(
                  [](ast::Identifier& node) {
                    throw NotImplementedError("subject", ast::NodePtr(ast::make<ast::Identifier>(node)));
                  },
                  transform),
              (SourceLocation{std::nullopt, 6, 10}));
  }
  // A failure outside every statement has no location.
  auto tree = openqasm3::parse("OPENQASM 3.0;\n");
  try {
    IdentifierWatcher("t").visit(tree);
    throw ValueError("after the walk");
  } catch (...) {
    EXPECT_EQ(failure_location(std::current_exception()), std::nullopt);
  }
}

TEST(Walker, AStatementWithoutSpanLendsThePositionOfWhatItHolds) {
  auto tree = openqasm3::parse(kSource);
  // The assignment loses its span, as a statement a step made would have none.
  IdentifierWatcher clear("t");
  clear.visit(tree);
  clear.statements.at(0)->span.reset();
  auto where = [&] {
    try {
      IdentifierWatcher("t", [](ast::Identifier&) { throw KeyError("k"); }).visit(tree);
    } catch (...) {
      return failure_location(std::current_exception());
    }
    return std::optional<SourceLocation>();
  }();
  EXPECT_EQ(where, (SourceLocation{std::nullopt, 6, 6}));  // its target `i`
}

TEST(FailureLocation, FollowsTheCauseChainAndKeepsTheOutermostPosition) {
  ValueError inner("inner");
  inner.set_location({"lib.inc", 2, 3});
  struct Replacing : std::runtime_error, HasCause, HasLocation {
    using std::runtime_error::runtime_error;
  };
  Replacing outer("outer");
  outer.set_cause(std::make_exception_ptr(inner));
  EXPECT_EQ(failure_location(std::make_exception_ptr(outer)), (SourceLocation{"lib.inc", 2, 3}));
  outer.set_location({std::nullopt, 1, 0});
  EXPECT_EQ(failure_location(std::make_exception_ptr(outer)), (SourceLocation{std::nullopt, 1, 0}));
  EXPECT_EQ(failure_location(std::make_exception_ptr(std::runtime_error("none"))), std::nullopt);
  EXPECT_EQ(failure_location(nullptr), std::nullopt);
}

}  // namespace
}  // namespace vell_qasm::passes

namespace vell_qasm::passes {
namespace {

TEST(FailureLocation, NameFailureFileNamesTheNumberedFileWhereverTheLocationIsHeld) {
  const std::vector<std::string> files{"", "a.inc", "b.inc"};
  auto named = [&](const std::exception_ptr& failure) {
    try {
      std::rethrow_exception(failure);
    } catch (...) {
      name_failure_file(files);
      return failure_location(std::current_exception());
    }
  };
  // A failure of another library, located by the walk at a statement of file 2.
  auto tree = openqasm3::parse(kSource);
  IdentifierWatcher numbered("t");
  numbered.visit(tree);
  numbered.statements.at(0)->span->file = 2;
  std::exception_ptr foreign;
  try {
    IdentifierWatcher("t", [](ast::Identifier&) { throw std::runtime_error("foreign"); }).visit(tree);
  } catch (...) {
    foreign = std::current_exception();
  }
  EXPECT_EQ(named(foreign), (SourceLocation{"b.inc", 6, 6, 2}));
  // A location held by a cause; a name held already, the program's own file and a number past
  // the table stay as they are.
  struct Replacing : std::runtime_error, HasCause, HasLocation {
    using std::runtime_error::runtime_error;
  };
  for (const SourceLocation& held : {SourceLocation{std::nullopt, 2, 3, 1}, SourceLocation{"x.inc", 2, 3, 1},
                                     SourceLocation{std::nullopt, 2, 3, 0}, SourceLocation{std::nullopt, 2, 3, 3}}) {
    ValueError inner("inner");
    inner.set_location(held);
    Replacing outer("outer");
    outer.set_cause(std::make_exception_ptr(inner));
    SourceLocation expected = held;
    if (held.file_number == 1 && !held.file) expected.file = "a.inc";
    EXPECT_EQ(named(std::make_exception_ptr(outer)), expected);
  }
}

}  // namespace
}  // namespace vell_qasm::passes
