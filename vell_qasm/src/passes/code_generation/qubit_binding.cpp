#include "vell_qasm/passes/code_generation/qubit_binding.hpp"

#include <algorithm>
#include <iterator>

#include "openqasm3/prefetch.hpp"
#include "vell_qasm/passes/code_generation/lower_expression.hpp"
#include "vell_qasm/passes/code_resolving/expr_folding.hpp"
#include "vell_qasm/passes/parsing/node_search.hpp"
#include "vell_qasm/passes/statement_prefetch.hpp"

namespace vell_qasm::passes::code_generation {

namespace ast = openqasm3::ast;
using configurations::create_hw_qubit;
using configurations::HwQubit;

namespace {

std::string qubits_text(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " qubit" : " qubits");
}

// A plain Identifier (not an HwQubit, whose name is never a register's).
bool is_plain_identifier(const ast::NodePtr& node) {
  return node != nullptr && ast::is_exactly<ast::Identifier>(*node);
}

// `error` located at `node`, to be thrown.
template <class E>
E located(E error, const ast::QASMNode& node) {
  error.locate_at(&node);
  return error;
}

// The value of the index: an integer literal, or an expression of literals folded the way constant
// folding folds it (integer division included), whether or not that optional step ran; nullopt
// for anything else.
std::optional<std::int64_t> literal_index(const ast::ExprPtr& index) {
  if (index == nullptr) return std::nullopt;
  if (ast::is_exactly<ast::IntegerLiteral>(*index)) return static_cast<const ast::IntegerLiteral&>(*index).value;
  code_resolving::ConstantExpressionsTransformer folder;
  ast::Rewrite folded = folder.visit(index);
  if (!folded.is_node() || !ast::is_exactly<ast::IntegerLiteral>(*folded.node())) return std::nullopt;
  return static_cast<const ast::IntegerLiteral&>(*folded.node()).value;
}

// `reference` replaced by a new node of hardware qubit `index`. A reference held there alone goes
// first: it leaves its slot of the compilation's arena to the new node (a q[i] and an HwQubit are of
// one size), memory just read. One that stands at other places too (a gate inlined with it) frees
// nothing now, and the arena would hand out the slot freed longest ago, memory no longer cached:
// its node comes from fresh memory in order instead.
void replace_with_hw_qubit(ast::NodePtr& reference, HwQubitIndex index) {
  if (reference.use_count() == 1) {
    reference.reset();
    reference = create_hw_qubit(index);
  } else {
    reference = configurations::create_hw_qubit_in_order(index);
  }
}

}  // namespace

// ---- exceptions ----

CallingUnsupportedQubitsException::CallingUnsupportedQubitsException(std::set<HwQubitIndex> unsupported_qubits_)
    : unsupported_qubits(std::move(unsupported_qubits_)) {
  message_ = "The explicitly called qubits [";
  bool first = true;
  for (HwQubitIndex index : unsupported_qubits) {
    if (!first) message_ += ", ";
    first = false;
    message_ += "'$" + std::to_string(index) + "'";
  }
  message_ += "] are not supported by the system.";
}

TooManyRequiredQubitsException::TooManyRequiredQubitsException(std::int64_t required_qubits_,
                                                               std::int64_t supported_qubits_)
    : required_qubits(required_qubits_),
      supported_qubits(supported_qubits_),
      message_("This code requires " + std::to_string(required_qubits) + ", but the hardware support only " +
               std::to_string(supported_qubits) + " qubits.") {}

UnindexedQubitRegisterException::UnindexedQubitRegisterException(std::string register_name_, std::int64_t size_)
    : ValueError("The qubit register '" + register_name_ + "' of " + qubits_text(size_) +
                 " is used without an index where one qubit is expected"),
      register_name(std::move(register_name_)),
      size(size_) {}

// ---- collection ----

_QubitsCollector::_QubitsCollector() {}

void _QubitsCollector::collect(ast::Program& program) {
  _in_place = true;
  const std::size_t count = program.statements.size();
  for (std::size_t i = 0; i < count; ++i) {
    // The collection enters every node: it measured best with the 3 KiB below the statement eight
    // places ahead.
    prefetch_statement_ahead(program.statements, i, 8, 3072 - 64);
    _top = program.statements[i].get();
    _top_position = i;
    visit(program.statements[i]);
  }
  _top = nullptr;
  // A name met in an operand before any declaration of it is the register's after all.
  if (std::any_of(_unknown_operand_names.begin(), _unknown_operand_names.end(),
                  [&](std::string_view name) { return _declared.contains(std::string(name)); }))
    _in_place = false;
}

void _QubitsCollector::visit_QubitDeclaration(ast::QubitDeclaration& node) {
  check(node.qubit != nullptr, "A qubit declaration names its register");
  const std::string& declaration_name = node.qubit->name;
  if (_declared.contains(declaration_name)) throw MultipleQubitDefinitionException(declaration_name);
  std::int64_t size = 1;
  if (node.size) {
    const auto* literal = ast::dyn_cast<ast::IntegerLiteral>(node.size.get());
    check(literal != nullptr, "No expression size is allowed");
    size = literal->value;
    if (size < 0)
      throw ValueError("The qubit register '" + declaration_name + "' has a negative size " + std::to_string(size));
  }
  if (!node.size) single_qubits.insert(declaration_name);
  _declared.emplace(declaration_name, _Register{size, _declared_qubits, !node.size});
  declaration_to_size.emplace_back(declaration_name, size);
  // Beyond int64 the allocation fails, and nested declarations are left to the walk.
  if (__builtin_add_overflow(_declared_qubits, size, &_declared_qubits) || &node != _top || _unrewritten > 0)
    _in_place = false;
  if (_in_place) _top_declarations.push_back(_top_position);
}

const _QubitsCollector::_Register* _QubitsCollector::_register(const std::string& name) {
  // Mostly the register of the operand before: no hashing.
  if (_last_register != nullptr && _last_register->first == name) return &_last_register->second;
  auto found = _declared.find(name);
  if (found == _declared.end()) return nullptr;
  _last_register = &*found;  // elements of an unordered_map stay where they are
  return &found->second;
}

void _QubitsCollector::_note_operand(ast::NodePtr& operand) {
  // As _QubitsRewriting::_rewrite_reference would rewrite it; a whole register is left to the
  // walk. The index is read by rewrite_in_place, which frees the reference and so reads it anyway.
  const bool indexed = ast::is_exactly<ast::IndexedIdentifier>(*operand);
  const ast::Identifier* name = indexed ? static_cast<const ast::IndexedIdentifier&>(*operand).name.get()
                                        : static_cast<const ast::Identifier*>(operand.get());
  if (name == nullptr || !ast::is_exactly<ast::Identifier>(*name)) return;  // names no register
  if (_unrewritten > 0) {
    _in_place = false;
    return;
  }
  const _Register* declared = _register(name->name);
  if (declared == nullptr) {
    _unknown_operand_names.emplace_back(name->name);
  } else if (indexed || declared->single) {
    _bindings.push_back({&operand, declared});
  } else {
    _in_place = false;  // a whole register
  }
}

bool _QubitsCollector::rewrites_in_place() const {
  return _in_place && !rewriting_needs_names() && !rewriting_needs_indexed_names();
}

namespace {

const ast::IndexedIdentifier* indexed_at(const ast::NodePtr& operand) {
  return operand != nullptr && ast::is_exactly<ast::IndexedIdentifier>(*operand)
             ? static_cast<const ast::IndexedIdentifier*>(operand.get())
             : nullptr;
}

// The index list of q[i] (its one index, when a list), or null.
const ast::IndexList* index_list_of(const ast::IndexedIdentifier& node) {
  return node.indices.size() == 1 ? std::get_if<ast::IndexList>(&node.indices.front()) : nullptr;
}

}  // namespace

// The references lie all over the tree; freeing one reads its node, the name and literal made
// just before it (with the control blocks, just before each node), and its index lists. Read one
// after the other, the rewriting would wait on memory at every reference, so the slots, then the
// nodes, then the index lists of the references ahead are fetched meanwhile. Each is read anew
// from its slot, which always holds a live node (a slot met twice, in a statement shared by two
// places, holds its hardware qubit from the first time on).
bool _QubitsCollector::rewrite_in_place(ast::Program& program, const DeclaredQubitsMapping& mapping) {
  std::vector<HwQubitIndex> qubits;  // the runs one after the other: in declaration order
  for (const auto& [name, run] : mapping) qubits.insert(qubits.end(), run.begin(), run.end());
  const std::size_t count = _bindings.size();
  for (std::size_t k = 0; k < count; ++k) {
    if (k + 16 < count) __builtin_prefetch(_bindings[k + 16].operand);
    if (k + 10 < count && *_bindings[k + 10].operand != nullptr)
      ast::prefetch_subtree(_bindings[k + 10].operand->get(), 256, 64);
    if (k + 5 < count) {
      if (const auto* ahead = indexed_at(*_bindings[k + 5].operand)) __builtin_prefetch(ahead->indices.data());
    }

    ast::NodePtr& operand = *_bindings[k].operand;
    const _Register& declared = *_bindings[k].declared;
    std::int64_t index = 0;
    if (const auto* reference = indexed_at(operand)) {
      // One integer literal within the register; anything else (an index to fold, or to refuse)
      // is the walk's, which takes the tree as it is now.
      const ast::IndexList* list = index_list_of(*reference);
      if (list == nullptr || list->size() != 1 || list->front() == nullptr ||
          !ast::is_exactly<ast::IntegerLiteral>(*list->front()))
        return false;
      index = static_cast<const ast::IntegerLiteral&>(*list->front()).value;
      if (index < 0 || index >= declared.size) return false;
    } else if (!ast::is_exactly<ast::Identifier>(*operand)) {
      continue;  // rewritten already
    }
    replace_with_hw_qubit(operand, qubits[static_cast<std::size_t>(declared.first + index)]);
  }
  if (_top_declarations.empty()) return true;
  // The declarations leave the statement list in one pass.
  auto& statements = program.statements;
  std::size_t kept = _top_declarations.front();
  auto next = _top_declarations.begin();
  for (std::size_t i = kept; i < statements.size(); ++i) {
    if (next != _top_declarations.end() && *next == i) {
      statements[i].reset();
      ++next;
    } else {
      statements[kept++] = std::move(statements[i]);
    }
  }
  statements.resize(kept);
  return true;
}

void _QubitsCollector::visit_HwQubit(configurations::HwQubit& node) { explicitly_stated_hw_qubits.insert(node.index); }

std::size_t _QubitsCollector::_name_key(std::string_view name) {
  const std::size_t length = name.size() < 63 ? name.size() : 63;
  return length * 256 + (name.empty() ? 0 : static_cast<unsigned char>(name.front()));
}

bool _QubitsCollector::rewriting_needs_names() const {
  if (_measures_into_names) return true;
  return std::any_of(declaration_to_size.begin(), declaration_to_size.end(),
                     [&](const auto& declared) { return _names_seen.test(_name_key(declared.first)); });
}

void _QubitsCollector::visit_Identifier(ast::Identifier& node) {
  if (_below_indexed == 0) _names_seen.set(_name_key(node.name));
}

bool _QubitsCollector::rewriting_needs_indexed_names() const {
  if (_indexed_unknown) return true;
  return std::any_of(declaration_to_size.begin(), declaration_to_size.end(),
                     [&](const auto& declared) { return _indexed_names_seen.test(_name_key(declared.first)); });
}

void _QubitsCollector::visit_IndexedIdentifier(ast::IndexedIdentifier& node) {
  if (_at_operand) {
    _at_operand = false;  // resolved whole by the rewriting, which enters nothing below it
  } else if (node.name != nullptr && ast::is_exactly<ast::Identifier>(*node.name)) {
    _indexed_names_seen.set(_name_key(node.name->name));
  } else {
    _indexed_unknown = true;
  }
  ++_below_indexed;
  generic_visit(node);
  --_below_indexed;
}

// Whether the walk of `node` can meet nothing to collect: a plain name indexed by anything but
// a set (the walk enters no other index, and a plain name holds no hardware qubit).
static bool holds_nothing_to_collect(const ast::IndexedIdentifier& node) {
  if (node.name != nullptr && !ast::is_exactly<ast::Identifier>(*node.name)) return false;
  return std::none_of(node.indices.begin(), node.indices.end(),
                      [](const ast::IndexElement& index) { return std::holds_alternative<ast::Ptr<ast::DiscreteSet>>(index); });
}

void _QubitsCollector::_visit_operand(ast::NodePtr& operand) {
  // The rewriting resolves a plain or indexed identifier as an operand, never as an identifier;
  // what stands below one is walked only for the hardware qubits it may hold.
  if (operand == nullptr) return;
  if (ast::is_exactly<ast::Identifier>(*operand)) {
    _note_operand(operand);
    return;
  }
  if (ast::is_exactly<HwQubit>(*operand)) {
    visit(*operand);
    return;
  }
  if (!ast::is_exactly<ast::IndexedIdentifier>(*operand)) {
    // Another kind: the rewriting walks it, and the rest of its list, through the handlers.
    _indexed_unknown = true;
    visit(*operand);
    return;
  }
  _note_operand(operand);
  if (holds_nothing_to_collect(static_cast<const ast::IndexedIdentifier&>(*operand))) return;
  _at_operand = true;
  ++_unrewritten;
  visit(*operand);
  --_unrewritten;
}

// The walks below are the generic ones (annotations hold no node), operands aside.
void _QubitsCollector::visit_QuantumGate(ast::QuantumGate& node) {
  for (const auto& modifier : node.modifiers) _visit(modifier);
  _visit(node.name);
  for (const auto& argument : node.arguments) _visit(argument);
  for (auto& operand : node.qubits) _visit_operand(operand);
  _visit(node.duration);
}

void _QubitsCollector::visit_QuantumBarrier(ast::QuantumBarrier& node) {
  for (auto& operand : node.qubits) _visit_operand(operand);
}

void _QubitsCollector::visit_DelayInstruction(ast::DelayInstruction& node) {
  ++_unrewritten;  // the rewriting leaves the duration alone
  _visit(node.duration);
  --_unrewritten;
  for (auto& operand : node.qubits) _visit_operand(operand);
}

void _QubitsCollector::visit_QuantumReset(ast::QuantumReset& node) { _visit_operand(node.qubits); }

void _QubitsCollector::visit_QuantumMeasurementStatement(ast::QuantumMeasurementStatement& node) {
  const auto* measurement = ast::dyn_cast<ast::QuantumMeasurement>(node.measure.get());
  if (measurement && is_plain_identifier(measurement->qubit) && is_plain_identifier(node.target))
    _measures_into_names = true;
  if (node.measure && ast::is_exactly<ast::QuantumMeasurement>(*node.measure)) {
    _visit_operand(static_cast<ast::QuantumMeasurement&>(*node.measure).qubit);
  } else {
    _visit(node.measure);
  }
  _visit(node.target);
}

// ---- allocation ----

DeclaredQubitsMapping _map_declared_qubits_to_explicit_qubits(const DeclarationSizes& declaration_to_size,
                                                      const std::set<HwQubitIndex>& explicitly_stated_hw_qubits,
                                                      const configurations::MachineSetup& machine_setup) {
  check(machine_setup.hw_qubits != nullptr);
  const configurations::QubitsMapping& pool = *machine_setup.hw_qubits;
  const auto pool_size = static_cast<std::int64_t>(pool.size());

  auto total_required_qubits = static_cast<std::int64_t>(explicitly_stated_hw_qubits.size());
  for (const auto& [name, size] : declaration_to_size) {
    if (__builtin_add_overflow(total_required_qubits, size, &total_required_qubits))
      throw OverflowError("The qubit registers of this code need more qubits than can be counted");
  }
  if (total_required_qubits > pool_size) throw TooManyRequiredQubitsException(total_required_qubits, pool_size);

  std::set<HwQubitIndex> unsupported_qubits;
  for (HwQubitIndex index : explicitly_stated_hw_qubits)
    if (!pool.contains(index)) unsupported_qubits.insert(index);
  if (!unsupported_qubits.empty()) throw CallingUnsupportedQubitsException(std::move(unsupported_qubits));

  // The machine's qubits in ascending order (the mapping is ordered), less those named explicitly.
  std::vector<HwQubitIndex> sorted_pool;
  sorted_pool.reserve(pool.size());
  for (const auto& entry : pool)
    if (!explicitly_stated_hw_qubits.contains(entry.first)) sorted_pool.push_back(entry.first);

  DeclaredQubitsMapping mapping;
  mapping.reserve(declaration_to_size.size());
  auto next = sorted_pool.begin();
  for (const auto& [name, size] : declaration_to_size) {
    // The checks above leave enough free qubits for every register.
    auto stop = next + size;
    mapping.emplace_back(name, std::vector<HwQubitIndex>(next, stop));
    next = stop;
  }
  return mapping;
}

// ---- rewriting ----

template <class D>
_QubitsRewriting<D>::_QubitsRewriting(const DeclaredQubitsMapping& qubits_mapping,
                                      const std::unordered_set<std::string>* single_qubits)
    : _single_qubits(single_qubits) {
  for (const auto& [name, run] : qubits_mapping) _qubits_mapping.insert_or_assign(name, &run);
}

template <class D>
const std::vector<HwQubitIndex>* _QubitsRewriting<D>::_run(std::string_view name) const {
  const auto* found = _qubits_mapping.find(name);
  return found == nullptr ? nullptr : *found;
}

template <class D>
std::optional<HwQubitIndex> _QubitsRewriting<D>::_index_of(const ast::Identifier& node) const {
  const auto* run = _run(node.name);
  if (run == nullptr) return std::nullopt;
  if (run->size() != 1) throw UnindexedQubitRegisterException(node.name, static_cast<std::int64_t>(run->size()));
  return run->front();
}

template <class D>
ast::Ptr<HwQubit> _QubitsRewriting<D>::_qubit_of(const ast::Identifier& node) const {
  const std::optional<HwQubitIndex> index = _index_of(node);
  return index ? create_hw_qubit(*index) : nullptr;
}

template <class D>
std::optional<HwQubitIndex> _QubitsRewriting<D>::_index_of(const ast::IndexedIdentifier& node) const {
  if (node.name == nullptr) return std::nullopt;
  const std::string& name = node.name->name;
  const auto* run = _run(name);
  if (run == nullptr || !ast::is_exactly<ast::Identifier>(*node.name)) return std::nullopt;
  check(node.indices.size() == 1, "Only 1-length indexing is allowed");
  // Mostly one integer literal, read in place; any other index takes the checks of its own.
  const auto* list = std::get_if<ast::IndexList>(&node.indices.front());
  const std::optional<std::int64_t> value =
      list && list->size() == 1 && list->front() && ast::is_exactly<ast::IntegerLiteral>(*list->front())
          ? static_cast<const ast::IntegerLiteral&>(*list->front()).value
          : literal_index(extract_single_index(node.indices.front()));
  check(value.has_value(), "Only explicit qubit pointers are supported");
  const auto size = static_cast<std::int64_t>(run->size());
  if (*value < 0 || *value >= size)
    throw IndexError("Index " + std::to_string(*value) + " is out of range for the qubit register '" + name +
                     "' of " + qubits_text(size));
  return (*run)[static_cast<std::size_t>(*value)];
}

template <class D>
ast::Ptr<HwQubit> _QubitsRewriting<D>::_qubit_of(const ast::IndexedIdentifier& node) const {
  const std::optional<HwQubitIndex> index = _index_of(node);
  return index ? create_hw_qubit(*index) : nullptr;
}

template <class D>
ast::Rewrite _QubitsRewriting<D>::_rewrite_indexed(const ast::Ptr<ast::IndexedIdentifier>& node) const {
  if (auto qubit = _qubit_of(*node)) return qubit;
  return node;
}

template <class D>
ast::NodePtr _QubitsRewriting<D>::_rewritten_reference(const ast::NodePtr& operand) const {
  if (ast::is_exactly<ast::IndexedIdentifier>(*operand)) {
    if (auto qubit = _qubit_of(static_cast<const ast::IndexedIdentifier&>(*operand))) return qubit;
    return operand;
  }
  if (ast::is_exactly<ast::Identifier>(*operand)) {
    if (auto qubit = _qubit_of(static_cast<const ast::Identifier&>(*operand))) return qubit;
    return operand;
  }
  if (ast::is_exactly<HwQubit>(*operand)) return operand;  // no child to walk
  return nullptr;
}

template <class D>
bool _QubitsRewriting<D>::_rewrite_reference(ast::NodePtr& operand) const {
  std::optional<HwQubitIndex> index;
  if (ast::is_exactly<ast::IndexedIdentifier>(*operand)) {
    index = _index_of(static_cast<const ast::IndexedIdentifier&>(*operand));
  } else if (ast::is_exactly<ast::Identifier>(*operand)) {
    index = _index_of(static_cast<const ast::Identifier&>(*operand));
  } else {
    return ast::is_exactly<HwQubit>(*operand);  // no child to walk
  }
  if (index) replace_with_hw_qubit(operand, *index);
  return true;
}

template <class D>
void _QubitsRewriting<D>::_rewrite_operands(std::vector<ast::NodePtr>& operands) {
  for (ast::NodePtr& operand : operands) {
    if (operand == nullptr) continue;
    if (_rewrite_reference(operand)) continue;
    // Another kind of operand, which a handler might turn into several or none: the generic
    // rewriting of the whole list, which leaves the operands already rewritten as they are.
    ast::rewrite_field<ast::QuantumGate>(*this, "qubits", operands);
    return;
  }
}

template <class D>
template <class Owner>
void _QubitsRewriting<D>::_rewrite_operand(const char* name, ast::NodePtr& operand) {
  if (operand == nullptr || _rewrite_reference(operand)) return;
  ast::rewrite_field<Owner>(*this, name, operand);
}

template <class D>
ast::Rewrite _QubitsRewriting<D>::_walk_measurement(const ast::Ptr<ast::QuantumMeasurementStatement>& node) {
  ast::rewrite_field<ast::QuantumMeasurementStatement>(*this, "annotations", node->annotations);
  if (node->measure && ast::is_exactly<ast::QuantumMeasurement>(*node->measure)) {
    _rewrite_operand<ast::QuantumMeasurement>("qubit", static_cast<ast::QuantumMeasurement&>(*node->measure).qubit);
  } else {
    ast::rewrite_field<ast::QuantumMeasurementStatement>(*this, "measure", node->measure);
  }
  ast::rewrite_field<ast::QuantumMeasurementStatement>(*this, "target", node->target);
  return node;
}

template <class D>
const std::vector<HwQubitIndex>* _QubitsRewriting<D>::_whole_register(const ast::NodePtr& operand) const {
  if (!is_plain_identifier(operand)) return nullptr;
  const std::string& name = static_cast<const ast::Identifier&>(*operand).name;
  const auto* run = _run(name);
  if (run == nullptr || (_single_qubits != nullptr && _single_qubits->contains(name))) return nullptr;
  return run;
}

template <class D>
std::vector<ast::NodePtr> _QubitsRewriting<D>::_spliced(const std::vector<ast::NodePtr>& operands) {
  std::vector<ast::NodePtr> qubits;
  qubits.reserve(operands.size());
  for (const ast::NodePtr& operand : operands) {
    if (const auto* run = _whole_register(operand)) {
      std::transform(run->begin(), run->end(), std::back_inserter(qubits),
                     [](HwQubitIndex index) { return ast::NodePtr(create_hw_qubit(index)); });
      continue;
    }
    if (operand == nullptr) {
      qubits.push_back(operand);  // kept, as the generic walk keeps it
      continue;
    }
    if (ast::NodePtr rewritten = _rewritten_reference(operand)) {
      qubits.push_back(std::move(rewritten));
      continue;
    }
    ast::Rewrite rewritten = this->visit(operand);
    if (rewritten.is_node()) {
      qubits.push_back(rewritten.node());
    } else if (rewritten.is_list()) {
      qubits.insert(qubits.end(), rewritten.list().begin(), rewritten.list().end());
    }
  }
  return qubits;
}

template <class D>
ast::Rewrite _QubitsRewriting<D>::visit_QuantumBarrier(const ast::Ptr<ast::QuantumBarrier>& node) {
  // A barrier and a delay take any number of qubits: a whole register stands for all of them.
  node->qubits = _spliced(node->qubits);
  return node;
}

template <class D>
ast::Rewrite _QubitsRewriting<D>::visit_DelayInstruction(const ast::Ptr<ast::DelayInstruction>& node) {
  node->qubits = _spliced(node->qubits);
  return node;
}

template <class D>
std::optional<std::size_t> _QubitsRewriting<D>::_broadcast_size(const ast::QuantumGate& call) const {
  std::optional<std::size_t> size;
  const std::string* first = nullptr;
  for (const ast::NodePtr& operand : call.qubits) {
    const auto* run = _whole_register(operand);
    if (run == nullptr) continue;
    const std::string& name = static_cast<const ast::Identifier&>(*operand).name;
    if (!size) {
      size = run->size();
      first = &name;
    } else if (*size != run->size()) {
      throw located(ValueError("The qubit registers '" + *first + "' of " +
                               qubits_text(static_cast<std::int64_t>(*size)) + " and '" + name + "' of " +
                               qubits_text(static_cast<std::int64_t>(run->size())) + " differ in size in one call of " +
                               (call.name ? call.name->name : std::string("a gate"))),
                    call);
    }
  }
  return size;
}

template <class D>
ast::NodePtr _QubitsRewriting<D>::_operand_at(const ast::NodePtr& operand, std::size_t k) {
  if (const auto* run = _whole_register(operand)) return create_hw_qubit((*run)[k]);
  if (operand == nullptr) return operand;
  if (ast::NodePtr rewritten = _rewritten_reference(operand)) return rewritten;
  ast::Rewrite rewritten = this->visit(operand);
  return rewritten.is_node() ? rewritten.node() : operand;
}

// The fields of the statements whose walks are written out here, in the generic walk's order.
template <class Node> constexpr std::size_t kFields =
    std::tuple_size_v<decltype(Node::all_fields(std::declval<Node&>()))>;
static_assert(kFields<ast::QuantumGate> == 6);  // annotations, modifiers, name, arguments, qubits, duration
static_assert(kFields<ast::QuantumReset> == 2);  // annotations, qubits
static_assert(kFields<ast::QuantumMeasurementStatement> == 3);  // annotations, measure, target
static_assert(kFields<ast::QuantumMeasurement> == 1);  // qubit
static_assert(kFields<ast::QuantumBarrier> == 2);  // annotations, qubits
static_assert(kFields<ast::DelayInstruction> == 3);  // annotations, duration, qubits

template <class D>
ast::Rewrite _QubitsRewriting<D>::visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) {
  const std::optional<std::size_t> size = _broadcast_size(*node);
  if (!size) {
    // The generic walk, but with the operands rewritten in place rather than into a new list.
    ast::rewrite_field<ast::QuantumGate>(*this, "annotations", node->annotations);
    ast::rewrite_field<ast::QuantumGate>(*this, "modifiers", node->modifiers);
    ast::rewrite_field<ast::QuantumGate>(*this, "name", node->name);
    ast::rewrite_field<ast::QuantumGate>(*this, "arguments", node->arguments);
    _rewrite_operands(node->qubits);
    ast::rewrite_field<ast::QuantumGate>(*this, "duration", node->duration);
    return node;
  }
  std::vector<ast::NodePtr> calls;
  calls.reserve(*size);
  for (std::size_t k = 0; k < *size; ++k) {
    auto call = ast::make<ast::QuantumGate>(*node);  // arguments, modifiers and name shared
    for (ast::NodePtr& operand : call->qubits) operand = _operand_at(operand, k);
    calls.push_back(std::move(call));
  }
  return calls;
}

template <class D>
ast::Rewrite _QubitsRewriting<D>::visit_QuantumReset(const ast::Ptr<ast::QuantumReset>& node) {
  const auto* run = _whole_register(node->qubits);
  if (run == nullptr) {
    // The generic walk, the operand rewritten directly.
    ast::rewrite_field<ast::QuantumReset>(*this, "annotations", node->annotations);
    _rewrite_operand<ast::QuantumReset>("qubits", node->qubits);
    return node;
  }
  std::vector<ast::NodePtr> resets;
  resets.reserve(run->size());
  for (HwQubitIndex index : *run) {
    auto reset = ast::make<ast::QuantumReset>(*node);
    reset->qubits = create_hw_qubit(index);
    resets.push_back(std::move(reset));
  }
  return resets;
}

template <class D>
ast::Rewrite _QubitsRewriting<D>::visit_QuantumMeasurementStatement(const ast::Ptr<ast::QuantumMeasurementStatement>& node) {
  const auto* measurement = ast::dyn_cast<ast::QuantumMeasurement>(node->measure.get());
  const auto* run = measurement ? _whole_register(measurement->qubit) : nullptr;
  if (run == nullptr) return _walk_measurement(node);
  const std::string& register_name = static_cast<const ast::Identifier&>(*measurement->qubit).name;

  const ast::Identifier* target = nullptr;
  if (node->target) {
    const std::string bits = "the target of the measurement of the qubit register '" + register_name + "' of " +
                             qubits_text(static_cast<std::int64_t>(run->size()));
    // A one-qubit register into one bit (`measure q -> c[0];`): its one qubit, as before.
    if (!is_plain_identifier(node->target) && run->size() == 1) return _walk_measurement(node);
    if (!is_plain_identifier(node->target))
      throw located(ValueError(bits + " must be a bit register of that size"), *node);
    target = static_cast<const ast::Identifier*>(node->target.get());
    if (const std::optional<std::int64_t> bits_size = _classical_size(target->name)) {
      if (*bits_size < 0 && run->size() == 1) return _walk_measurement(node);  // its one qubit, as before
      if (*bits_size < 0)
        throw located(ValueError("The variable '" + target->name + "' is no register: " + bits +
                                 " must be a bit register of that size"),
                      *node);
      if (*bits_size != static_cast<std::int64_t>(run->size()))
        throw located(ValueError("The bit register '" + target->name + "' of " + std::to_string(*bits_size) +
                                 " bits and the qubit register '" + register_name + "' of " +
                                 qubits_text(static_cast<std::int64_t>(run->size())) +
                                 " differ in size in one measurement"),
                      *node);
    }
  }
  std::vector<ast::NodePtr> measurements;
  measurements.reserve(run->size());
  for (std::size_t k = 0; k < run->size(); ++k) {
    auto statement = ast::make<ast::QuantumMeasurementStatement>(*node);
    auto measure = ast::make<ast::QuantumMeasurement>(*measurement);
    measure->qubit = create_hw_qubit((*run)[k]);
    statement->measure = std::move(measure);
    if (target != nullptr) {
      auto name = ast::make<ast::Identifier>(target->name);
      name->span = target->span;
      ast::IndexList index{ast::make<ast::IntegerLiteral>(static_cast<std::int64_t>(k))};
      auto cell = ast::make<ast::IndexedIdentifier>(std::move(name), std::vector<ast::IndexElement>{std::move(index)});
      cell->span = target->span;
      statement->target = std::move(cell);
    }
    measurements.push_back(std::move(statement));
  }
  return measurements;
}

template <class D>
std::optional<std::int64_t> _QubitsRewriting<D>::_classical_size(const std::string& name) {
  for (; _classical_indexed < _classical_variables.size(); ++_classical_indexed) {
    const tavo_var::TavoVarBase& var = *_classical_variables[_classical_indexed];
    const auto* array = dynamic_cast<const tavo_var::TavoArr*>(&var);
    _classical_sizes.insert_or_assign(var.name(), array ? array->size : std::int64_t{-1});
  }
  auto found = _classical_sizes.find(name);
  if (found == _classical_sizes.end()) return std::nullopt;
  return found->second;
}

template <class D>
ast::Rewrite _QubitsRewriting<D>::visit_QubitDeclaration(const ast::Ptr<ast::QubitDeclaration>&) { return nullptr; }

ast::Rewrite _QubitsResolver::visit_Identifier(const ast::Ptr<ast::Identifier>& node) {
  if (auto qubit = _qubit_of(*node)) return qubit;
  return node;
}

ast::Rewrite _QubitsResolver::visit_TavoDeclaration(const ast::Ptr<TavoDeclaration>& node) {
  if (node->var) _classical_variables.push_back(node->var.get());
  return node;
}

template class _QubitsRewriting<_QubitsResolver>;
template class _QubitsRewriting<_QubitOperandsResolver>;
template class _QubitsRewriting<_QubitStatementsResolver>;

// ---- broadcasting calls of user gates ----

namespace {

// What the broadcasting has met so far in program order: gates, registers and integer constants
// are noted where they are declared (before any use in a valid program).
class UserGateScope {
 public:
  void define(const ast::QuantumGateDefinition& node) {
    if (node.name) _gates.insert_or_assign(node.name->name, true);
  }
  void declare(const ast::ConstantDeclaration& node) {
    if (node.identifier && node.init_expression && ast::is_exactly<ast::IntegerLiteral>(*node.init_expression))
      _literal_constants.insert_or_assign(node.identifier->name,
                                          static_cast<const ast::IntegerLiteral&>(*node.init_expression).value);
  }
  void declare(const ast::QubitDeclaration& node) {
    if (!node.qubit || !node.size) return;  // a single qubit is no register
    std::optional<std::int64_t> size;
    if (ast::is_exactly<ast::IntegerLiteral>(*node.size)) {
      size = static_cast<const ast::IntegerLiteral&>(*node.size).value;
    } else if (ast::is_exactly<ast::Identifier>(*node.size)) {
      auto found = _literal_constants.find(static_cast<const ast::Identifier&>(*node.size).name);
      if (found != _literal_constants.end()) size = found->second;
    }
    _registers.insert_or_assign(node.qubit->name, size);
  }

  // The size of the register `operand` passes whole (nullopt: not known), or null when it passes none.
  const std::optional<std::int64_t>* whole_register(const ast::NodePtr& operand) const {
    if (!is_plain_identifier(operand)) return nullptr;
    return _registers.find(static_cast<const ast::Identifier&>(*operand).name);
  }
  // Whether `call` calls a gate defined so far with a register passed whole: the calls to repeat
  // (or to refuse).
  bool broadcasts(const ast::QuantumGate& call) const {
    if (_registers.empty() || !call.name || !_gates.contains(call.name->name)) return false;
    return std::any_of(call.qubits.begin(), call.qubits.end(),
                       [&](const ast::NodePtr& operand) { return whole_register(operand) != nullptr; });
  }

 private:
  utils::NameMap<bool> _gates;
  utils::NameMap<std::optional<std::int64_t>> _registers;  // nullopt: size not known
  std::unordered_map<std::string, std::int64_t> _literal_constants;
};

// One walk in program order, the calls of the gates repeated per qubit.
class UserGateBroadcaster : public Transformer<UserGateBroadcaster> {
 public:
  ast::Rewrite visit_QuantumGateDefinition(const ast::Ptr<ast::QuantumGateDefinition>& node) override {
    _scope.define(*node);
    return node;
  }
  ast::Rewrite visit_ConstantDeclaration(const ast::Ptr<ast::ConstantDeclaration>& node) override {
    _scope.declare(*node);
    return node;
  }
  ast::Rewrite visit_QubitDeclaration(const ast::Ptr<ast::QubitDeclaration>& node) override {
    _scope.declare(*node);
    return node;
  }

  ast::Rewrite visit_QuantumGate(const ast::Ptr<ast::QuantumGate>& node) override {
    if (!_scope.broadcasts(*node)) return node;
    std::optional<std::int64_t> size;
    const std::string* first = nullptr;
    for (const ast::NodePtr& operand : node->qubits) {
      const std::optional<std::int64_t>* found = _scope.whole_register(operand);
      if (found == nullptr) continue;
      const std::string& name = static_cast<const ast::Identifier&>(*operand).name;
      if (!*found)
        throw located(NotImplementedError("The qubit register '" + name + "' passed whole to the gate '" +
                                          node->name->name +
                                          "' has a size that is no integer literal; pass its qubits one by one"),
                      *node);
      if (!size) {
        size = *found;
        first = &name;
      } else if (*size != **found) {
        throw located(ValueError("The qubit registers '" + *first + "' of " + qubits_text(*size) + " and '" + name +
                                 "' of " + qubits_text(**found) + " differ in size in one call of " +
                                 node->name->name),
                      *node);
      }
    }
    std::vector<ast::NodePtr> calls;
    calls.reserve(static_cast<std::size_t>(std::max<std::int64_t>(*size, 0)));
    for (std::int64_t k = 0; k < *size; ++k) {
      auto call = ast::make<ast::QuantumGate>(*node);
      for (ast::NodePtr& operand : call->qubits) {
        if (_scope.whole_register(operand) == nullptr) continue;
        auto name = std::static_pointer_cast<ast::Identifier>(operand);
        ast::IndexList index{ast::make<ast::IntegerLiteral>(k)};
        auto cell = ast::make<ast::IndexedIdentifier>(name, std::vector<ast::IndexElement>{std::move(index)});
        cell->span = name->span;
        operand = std::move(cell);
      }
      calls.push_back(std::move(call));
    }
    return calls;
  }

 private:
  UserGateScope _scope;
};

// Whether the broadcaster's walk would meet a call to repeat (or to refuse): a read-only walk of
// the same reach (the same handlers, none entering its node). Most programs pass no register whole
// to a gate of their own, and then the tree is not rewritten, list by list, for nothing.
class UserGateBroadcastSearch : public parsing::NodeSearch<UserGateBroadcastSearch> {
 public:
  void visit_QuantumGateDefinition(ast::QuantumGateDefinition& node) override { _scope.define(node); }
  void visit_ConstantDeclaration(ast::ConstantDeclaration& node) override { _scope.declare(node); }
  void visit_QubitDeclaration(ast::QubitDeclaration& node) override { _scope.declare(node); }
  void visit_QuantumGate(ast::QuantumGate& node) override {
    if (_scope.broadcasts(node)) found();
  }

  // The search passes expressions by: it reads statement nodes, a call's name (and a user gate
  // call's operands) and the blocks' arrays, nothing else. After the earlier steps the statements
  // lie anywhere, so each of those is asked for where it is, in stages along the walk
  // (StatementsAhead).
  bool holds_broadcast(ast::Program& program) {
    StatementsAhead ahead;
    ahead.call_names = true;
    ahead.call_operands = true;
    return holds_statements_with(program, ahead);
  }

 private:
  UserGateScope _scope;
};

}  // namespace

GateCallBroadcast::GateCallBroadcast(std::optional<std::string> name) : Step(std::move(name), "GateCallBroadcast") {}

programs::ProgramPtr GateCallBroadcast::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  if (!UserGateBroadcastSearch().holds_broadcast(*tree)) return std::make_shared<programs::OpenQasmProgram>(tree);
  UserGateBroadcaster broadcaster;
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(broadcaster, tree));
}

// ---- the step ----

QubitAllocator::QubitAllocator(std::shared_ptr<const configurations::MachineSetup> machine_setup)
    : Step(std::nullopt, "QubitAllocator"), _machine_setup(std::move(machine_setup)) {
  if (_machine_setup == nullptr) throw TypeError("QubitAllocator needs a MachineSetup, got none");
}

programs::ProgramPtr QubitAllocator::operator()(const programs::ProgramPtr& program) {
  const auto& tree = programs::open_qasm_tree(program);
  _QubitsCollector collector;
  collector.collect(*tree);
  const DeclaredQubitsMapping mapping = _map_declared_qubits_to_explicit_qubits(
      collector.declaration_to_size, collector.explicitly_stated_hw_qubits, *_machine_setup);
  if (collector.rewrites_in_place() && collector.rewrite_in_place(*tree, mapping))
    return std::make_shared<programs::OpenQasmProgram>(tree);
  if (collector.rewriting_needs_names()) {
    _QubitsResolver resolver(mapping, &collector.single_qubits);
    return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(resolver, tree));
  }
  if (collector.rewriting_needs_indexed_names()) {
    _QubitOperandsResolver resolver(mapping, &collector.single_qubits);
    return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(resolver, tree));
  }
  _QubitStatementsResolver resolver(mapping, &collector.single_qubits);
  return std::make_shared<programs::OpenQasmProgram>(programs::transform_root(resolver, tree));
}

}  // namespace vell_qasm::passes::code_generation
