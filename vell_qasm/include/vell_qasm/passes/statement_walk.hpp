// splice_statements: puts what replaces statements of a long list (a program's: none, one or more
// nodes each) in place once the walk of the list is done, each statement moving once.
// append_rewrite: what a rewritten statement leaves for the splice.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "openqasm3/ast.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes {

// One statement of a list replaced by the `count` nodes from `first` on of a list of replacements
// (none: the statement is dropped).
struct StatementSplice {
  std::size_t index;  // of the statement replaced
  std::size_t first;  // of what replaces it in the replacements
  std::size_t count;
};

namespace detail {
// Moved, not copied: the node's count is not touched (in a long list, what replaces the first
// statements was made long ago and is out of the cache by now), and a program's list takes any
// node unasked.
template <class Element> openqasm3::ast::Ptr<Element> spliced(openqasm3::ast::NodePtr& node) {
  if constexpr (std::is_same_v<Element, openqasm3::ast::QASMNode>) {
    return std::move(node);
  } else {
    check(openqasm3::ast::isa<Element>(node), "A statement is rewritten into statements");
    return std::static_pointer_cast<Element>(std::move(node));
  }
}

}  // namespace detail

// Puts the replacements in place of their statements (ascending indices; each replaced slot is
// written over or cut off) without a list made anew. The list takes its final size first when it
// grows (room it has mostly: a long program's list was built by appending). Then, when the statements before some splice all move down or stay and those
// after it all move up (definitions dropped at the top, expansions below), each moves once:
// the latter back to front, then the former front to back. Else the list closes up over the
// dropped statements (front to back), then the others move up (back to front).
template <class Element>
void splice_statements(std::vector<openqasm3::ast::Ptr<Element>>& statements, std::vector<StatementSplice>& splices,
                       std::vector<openqasm3::ast::NodePtr>& replacements) {
  if (splices.empty()) return;
  // How far the statements after splice k move: the sum of count - 1 over splices[0, k].
  auto shift = [&](std::size_t k) { return static_cast<std::ptrdiff_t>(splices[k].count) - 1; };
  std::ptrdiff_t total = 0;
  for (std::size_t k = 0; k < splices.size(); ++k) total += shift(k);
  // `pivot`: the first splice from which every statement after it moves up or stays.
  std::size_t pivot = splices.size();
  for (std::ptrdiff_t after = total; pivot > 0 && after >= 0;) after -= shift(--pivot);
  bool down_before = true;
  for (std::ptrdiff_t after = 0, k = 0; down_before && k < static_cast<std::ptrdiff_t>(pivot); ++k)
    down_before = (after += shift(static_cast<std::size_t>(k))) <= 0;
  if (down_before) {
    const std::size_t old_size = statements.size();
    const std::size_t new_size = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(old_size) + total);
    if (new_size > old_size) statements.resize(new_size);
    std::size_t read = old_size;
    std::size_t write = new_size;
    if (pivot < splices.size()) {
      for (std::size_t k = splices.size(); k-- > pivot + 1;) {
        while (read > splices[k].index + 1) statements[--write] = std::move(statements[--read]);
        --read;
        for (std::size_t j = splices[k].first + splices[k].count; j-- > splices[k].first;)
          statements[--write] = detail::spliced<Element>(replacements[j]);
      }
      while (read > splices[pivot].index + 1) statements[--write] = std::move(statements[--read]);
    }
    // Up to the pivot's splice (its replacements may reach the slots freed above).
    read = write = splices[0].index;
    const std::size_t forward = pivot < splices.size() ? pivot + 1 : splices.size();
    for (std::size_t k = 0; k < forward; ++k) {
      while (read < splices[k].index) statements[write++] = std::move(statements[read++]);
      ++read;  // the replaced statement, freed as its slot is written over or cut off
      for (std::size_t j = splices[k].first; j < splices[k].first + splices[k].count; ++j)
        statements[write++] = detail::spliced<Element>(replacements[j]);
    }
    if (pivot == splices.size()) {
      while (read < old_size) statements[write++] = std::move(statements[read++]);
      statements.resize(write);
    }
    return;
  }
  std::size_t dropped = 0;
  std::size_t kept = 0;  // splices[0, kept) are those that put something in, their indices after the drops
  std::size_t read = 0;
  std::size_t write = 0;
  for (const StatementSplice& splice : splices) {
    if (splice.count > 0) {
      splices[kept++] = StatementSplice{splice.index - dropped, splice.first, splice.count};
      continue;
    }
    if (dropped == 0) {
      read = write = splice.index;
    } else {
      while (read < splice.index) statements[write++] = std::move(statements[read++]);
    }
    ++read;
    ++dropped;
  }
  if (dropped > 0) {
    while (read < statements.size()) statements[write++] = std::move(statements[read++]);
    statements.resize(write);  // frees the dropped statements left behind
  }
  splices.resize(kept);
  if (splices.empty()) return;
  std::size_t grown = statements.size();
  for (const StatementSplice& splice : splices) grown += splice.count - 1;
  read = statements.size();
  write = grown;
  statements.resize(grown);
  // The slots between the read and the write position are free (moved from, or a replaced
  // statement's, freed as it is written over).
  for (std::size_t k = splices.size(); k-- > 0;) {
    while (read > splices[k].index + 1) statements[--write] = std::move(statements[--read]);
    --read;
    for (std::size_t j = splices[k].first + splices[k].count; j-- > splices[k].first;)
      statements[--write] = detail::spliced<Element>(replacements[j]);
  }
}

// Takes a statement's rewrite (QASMTransformer::visit's result for `statement`) as a walk of a
// list takes it: false when the statement stays; else true after appending to `out` what takes
// its place (nothing drops it; nulls among a list's nodes are dropped).
inline bool append_rewrite(const openqasm3::ast::Rewrite& rewrite, const openqasm3::ast::QASMNode* statement,
                           std::vector<openqasm3::ast::NodePtr>& out) {
  if (rewrite.is_node()) {
    if (rewrite.node().get() == statement) return false;
    out.push_back(rewrite.node());
  } else if (rewrite.is_list()) {
    for (const openqasm3::ast::NodePtr& replacement : rewrite.list())
      if (replacement) out.push_back(replacement);
  }
  return true;
}

}  // namespace vell_qasm::passes
