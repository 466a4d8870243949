#include "vell_qasm/errors.hpp"

namespace vell_qasm {

namespace {
// The most recent failure of a class without HasLocation that a walk located, with its location.
// Held by its exception_ptr, so that the object cannot be freed and another failure take its
// address.
struct ForeignLocation {
  std::exception_ptr failure;
  SourceLocation location;
};
thread_local ForeignLocation t_foreign;
}  // namespace

std::optional<SourceLocation> location_of(const openqasm3::ast::QASMNode* node) {
  if (!node || !node->span) return std::nullopt;
  return SourceLocation{std::nullopt, node->span->start_line, node->span->start_column, node->span->file};
}

std::optional<SourceLocation> HasLocation::location() const {
  if (location_) return location_;
  return location_of(located_node());
}

bool HasLocation::locate_at(const openqasm3::ast::QASMNode* node) {
  if (!location_) location_ = location_of(located_node());
  if (!location_) location_ = location_of(node);
  return location_.has_value();
}

namespace {
// The first node with a span in `root`'s subtree, in walk order (switch cases included).
class FirstSpan : public openqasm3::ast::QASMVisitor {
 public:
  FirstSpan() : QASMVisitor(openqasm3::ast::SwitchCases::enter) {}
  void generic_visit(openqasm3::ast::QASMNode& node) override {
    if (found) return;
    if (node.span) {
      found = &node;
      return;
    }
    QASMVisitor::generic_visit(node);
  }
  const openqasm3::ast::QASMNode* found = nullptr;
};

// The position of `node` in `file`, or of the first node with a span that it holds.
std::optional<SourceLocation> position_in(openqasm3::ast::QASMNode& node, const std::optional<std::string>& file) {
  const openqasm3::ast::QASMNode* at = &node;
  if (!node.span) {
    // A statement that a step made (without a span) is found by what it holds.
    FirstSpan first;
    first.visit(node);
    at = first.found;
  }
  std::optional<SourceLocation> location = location_of(at);
  if (location) location->file = file;
  return location;
}

}  // namespace

void locate_failure(openqasm3::ast::QASMNode& node, const std::optional<std::string>& file) {
  // Each enclosing statement hears of the failure in turn: the innermost located it already.
  try {
    throw;
  } catch (HasLocation& located) {
    if (located.location()) return;
    if (auto location = position_in(node, file)) located.set_location(std::move(*location));
  } catch (...) {
    std::exception_ptr current = std::current_exception();
    if (t_foreign.failure == current) return;
    if (auto location = position_in(node, file)) t_foreign = {std::move(current), std::move(*location)};
  }
}

void name_failure_file(const std::vector<std::string>& files) {
  auto named = [&files](SourceLocation& location) {
    if (location.file || location.file_number <= 0) return false;
    if (static_cast<std::size_t>(location.file_number) >= files.size()) return false;
    location.file = files[static_cast<std::size_t>(location.file_number)];
    return true;
  };
  // The same search as failure_location's, changing the location where it is held.
  std::exception_ptr current = std::current_exception();
  for (int depth = 0; current && depth < 32; ++depth) {
    if (current == t_foreign.failure) {
      named(t_foreign.location);
      return;
    }
    try {
      std::rethrow_exception(current);
    } catch (std::exception& e) {
      if (auto* located = dynamic_cast<HasLocation*>(&e)) {
        if (std::optional<SourceLocation> location = located->location()) {
          if (named(*location)) located->set_location(std::move(*location));
          return;
        }
      }
      auto* with_cause = dynamic_cast<const HasCause*>(&e);
      current = with_cause ? with_cause->cause() : nullptr;
    } catch (...) {
      return;
    }
  }
}

std::optional<SourceLocation> failure_location(const std::exception_ptr& failure) {
  std::exception_ptr current = failure;
  // A cause chain is short; the bound only guards against a cycle.
  for (int depth = 0; current && depth < 32; ++depth) {
    if (current == t_foreign.failure) return t_foreign.location;
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      if (auto* located = dynamic_cast<const HasLocation*>(&e); located && located->location())
        return located->location();
      auto* with_cause = dynamic_cast<const HasCause*>(&e);
      current = with_cause ? with_cause->cause() : nullptr;
    } catch (...) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string NotImplementedError::render(const std::string& text, const Subject& subject) {
  std::string out = "(";
  openqasm3::ast::detail::repr_string(out, text);
  out += ", ";
  if (auto* node = std::get_if<openqasm3::ast::NodePtr>(&subject)) {
    out += openqasm3::ast::repr(*node);
  } else if (auto* s = std::get_if<std::string>(&subject)) {
    out += *s;
  } else {
    out += "None";
  }
  out += ")";
  return out;
}

}  // namespace vell_qasm
