// ConstInlining: removes named constants from the tree. ConstantsGatherer enters every constant
// declaration into one flat table (name to value, seeded with CONSTANTS: pi, tau, euler, ...) and
// deletes it from its statement list; ConstantsResolver replaces every identifier that bears a
// constant's name by the table's node. The step runs both in one walk (the resolver's field walk,
// with the gatherer's handler): an identifier is resolved against the constants declared before
// it in walk order, and the names that resolved to no constant go to a screen; only when a
// constant's name passes that screen (it may have been used before its declaration) does the
// resolver walk the whole tree again. The result is that of gathering the whole tree, then
// resolving it, and so is the failure: a failure of the resolution is reported only once the rest
// of the tree is gathered (a gathering failure comes first) and, where a later constant may place
// an earlier failure of the resolution, once the resolver has walked again.
//
// The table knows no scopes: a constant declared in any block applies to the whole program,
// uses before its declaration included. ScopeRenaming, which runs first, gives a constant that
// shadows another name a name of its own, so that one flat table serves. A second declaration of a name, or one that takes a
// built-in constant's name, is a parsing::RedeclarationException, whatever the values.
//
// Each initialiser is resolved, when its declaration is met, against the constants met before it,
// so stored values hold no constant's name: `const int a = 2; const int b = a * 3; int x = b;`
// leaves x = 2 * 3 and no `a`. OpenQASM declares a constant before its use, so an initialiser
// that names a constant declared later in walk order (itself included) is a ValueError naming
// both constants, never a name left behind whose declaration is gone. A flat chain a + b + ... in
// an initialiser is entered in a loop, so that a constant of many terms needs no deep recursion.
//
// Chains: a constant's value holds the values of the constants its initialiser names, and so on
// down the chain; a chain of 10^5 constants each defined from the one before would nest 10^5
// levels deep, beyond what any later walk can enter. A value that stands kFoldedChain constants
// down a chain is therefore folded once, when its declaration is met, by the constant-expression
// folding of a copy (the values it shares stay as written); a literal result replaces it and
// starts a new chain, so that the folding goes no deeper than the last literal. Shorter chains
// are kept as written.
//
// Sharing: nothing is copied. Every use of a constant is the very node stored for it (the
// initialiser of its declaration, resolved in place; for a built-in name, the node of CONSTANTS
// itself), and the stored nodes are not walked again. The declared type is dropped: after
// `const float f = 1;` a use of f is the integer literal 1.
//
// Bad input: a constant's name where the tree holds a name and not a value is a
// std::invalid_argument naming the class and field, never a malformed tree: an assignment or
// measurement target (`n = 1;`, `n = measure q;`) is refused by this step (a TypeError), a
// declared name, a loop variable, a parameter or an indexed identifier's name by the tree's own
// field types. Trap: the latter hold any identifier, so a constant whose value is a bare
// identifier (`const int n = m;`, invalid OpenQASM) renames what stands there.
//
// Both walks enter switch cases too (labels and blocks), since code generation emits case blocks,
// and the resolver enters the index lists of indexed identifiers and index expressions.
// The tree is rewritten in place; the returned OpenQasmProgram shares it, and a failure leaves
// what was rewritten before it (the one walk may have resolved identifiers before a failure of
// the gathering that two walks would have left standing).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "openqasm3/ast.hpp"
#include "vell_qasm/passes/constants.hpp"
#include "vell_qasm/passes/pass_pipeline.hpp"
#include "vell_qasm/passes/utils.hpp"
#include "vell_qasm/passes/walker.hpp"
#include "vell_qasm/programs.hpp"

namespace vell_qasm::passes::code_resolving {

// The screen of a table of constants (see utils::NameScreen): most identifiers name no constant.
// A name passing the length and first byte is screened once more, by a bit picked by its length
// and its first and last byte: a program's variables often share a length and a first byte with
// a constant (theta and euler), seldom its last byte too. It holds the plain screen rather than
// deriving from it, so that no name can reach it through the plain screen's add().
class ConstantNameScreen {
 public:
  ConstantNameScreen() = default;
  explicit ConstantNameScreen(const ConstantsTable& constants);

  void add(std::string_view name) {
    _screen.add(name);
    const std::size_t bit = _pair_bit(name);
    _pairs[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  bool may_hold(std::string_view name) const {
    if (!_screen.may_hold(name)) return false;
    const std::size_t bit = _pair_bit(name);
    return (_pairs[bit / 64] >> (bit % 64) & 1) != 0;
  }

 private:
  static std::size_t _pair_bit(std::string_view name) {
    if (name.empty()) return 0;
    const std::uint64_t mixed = (static_cast<std::uint64_t>(name.size()) * 0x9E3779B97F4A7C15u) ^
                                (static_cast<std::uint64_t>(static_cast<unsigned char>(name.front())) * 0xC2B2AE3D27D4EB4Fu) ^
                                (static_cast<std::uint64_t>(static_cast<unsigned char>(name.back())) * 0x165667B19E3779F9u);
    return static_cast<std::size_t>(mixed >> 55);  // 512 bits
  }
  utils::NameScreen _screen;
  std::array<std::uint64_t, 8> _pairs{};
};

class ConstantsGatherer : public Transformer<ConstantsGatherer> {
 public:
  static constexpr unsigned kFoldedChain = 32;

  ConstantsGatherer();

  // Resolves the initialiser, enters it under the declared name and deletes the declaration.
  openqasm3::ast::Rewrite visit_ConstantDeclaration(
      const openqasm3::ast::Ptr<openqasm3::ast::ConstantDeclaration>& node) override;

  // The gatherer's own table, not a copy.
  const ConstantsTable& constants() const { return _constants; }
  const ConstantNameScreen& screen() const { return _screen; }

 private:
  // A name met in an initialiser while it was no constant yet, with where it was met.
  struct EarlyUse {
    openqasm3::ast::Ptr<openqasm3::ast::Identifier> identifier;
    std::string initialised;  // the constant whose initialiser holds it
  };

  ConstantsTable _constants;
  ConstantNameScreen _screen;  // of _constants
  std::unordered_map<std::string, EarlyUse> _early_uses;
  // How many constants down a chain each constant's value stands (0: names no constant).
  std::unordered_map<std::string, unsigned> _chain_levels;
};

class ConstantsResolver : public Transformer<ConstantsResolver> {
 public:
  // Trap: keeps a reference to `constants`, which must outlive the resolver.
  explicit ConstantsResolver(const ConstantsTable& constants);
  // The same with the screen of `constants`, which must outlive the resolver and be kept up to
  // date with the table.
  ConstantsResolver(const ConstantsTable& constants, const ConstantNameScreen& screen);

  // The stored node for the identifier's name, else the identifier itself.
  openqasm3::ast::Rewrite visit_Identifier(const openqasm3::ast::Ptr<openqasm3::ast::Identifier>& node) override;
  // Refuse a constant as the target, then the generic walk.
  openqasm3::ast::Rewrite visit_ClassicalAssignment(
      const openqasm3::ast::Ptr<openqasm3::ast::ClassicalAssignment>& node) override;
  openqasm3::ast::Rewrite visit_QuantumMeasurementStatement(
      const openqasm3::ast::Ptr<openqasm3::ast::QuantumMeasurementStatement>& node) override;
  // The generic walk, then the index lists, which it does not enter: `x q[n - 1];` and
  // `b[n] = measure q[n];` name no constant afterwards.
  openqasm3::ast::Rewrite visit_IndexedIdentifier(
      const openqasm3::ast::Ptr<openqasm3::ast::IndexedIdentifier>& node) override;
  openqasm3::ast::Rewrite visit_IndexExpression(
      const openqasm3::ast::Ptr<openqasm3::ast::IndexExpression>& node) override;

  // The rewrite of a whole program, as visit(program) makes it, the same failures included, in
  // fewer steps: its field walk (field_walk.hpp) reads the fields of the node kinds and gives the generic walk
  // only what may change or fail (an identifier bearing a constant's name), switch statements and
  // classes defined outside the tree library. Most identifiers name no constant, and then cost
  // neither a handler call nor a Rewrite. A class derived from this one walks with visit().
  void resolve(const openqasm3::ast::Ptr<openqasm3::ast::Program>& program);

 protected:
  // The table's stored node for `name`, or null. Inline: most names stop at the screen, and cost
  // no call then.
  const openqasm3::ast::ExprPtr* _find(const std::string& name) const {
    if (!(_given_screen ? *_given_screen : _own_screen).may_hold(name)) return nullptr;
    return _lookup(name);
  }
  // The table's stored node for `name`, or null, unscreened.
  const openqasm3::ast::ExprPtr* _lookup(const std::string& name) const;

  const ConstantsTable& _constants;

  // resolve()'s policy; also ConstInlining's, which gathers on the way.
  class Walk;

 private:
  void _refuse_constant_target(const openqasm3::ast::NodePtr& target, std::string_view owner, const char* field) const;

  ConstantNameScreen _own_screen;                       // when none was given
  const ConstantNameScreen* _given_screen = nullptr;
};

class ConstInlining : public Step {
 public:
  explicit ConstInlining(std::optional<std::string> name = std::nullopt);

  // Takes an OpenQasmProgram (anything else is an AssertionError) and returns a new one around the
  // same, rewritten tree.
  programs::ProgramPtr operator()(const programs::ProgramPtr& program) override;
};

}  // namespace vell_qasm::passes::code_resolving
