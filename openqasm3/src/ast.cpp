#include "openqasm3/ast.hpp"

#include <array>

#include "openqasm3/number_text.hpp"

namespace openqasm3::ast {

namespace {
template <class E, std::size_t N>
std::string_view lookup(const std::array<std::string_view, N>& names, E v) {
  auto i = static_cast<std::size_t>(v) - 1;
  return i < N ? names[i] : std::string_view("?");
}
template <class E, std::size_t N>
std::optional<E> find(const std::array<std::string_view, N>& names, std::string_view text) {
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == text) return static_cast<E>(i + 1);
  return std::nullopt;
}

constexpr std::array<std::string_view, 2> kAccess{"readonly", "mutable"};
constexpr std::array<std::string_view, 13> kAssign{"=", "+=", "-=", "*=", "/=", "&=", "|=", "~=",
                                                   "^=", "<<=", ">>=", "%=", "**="};
constexpr std::array<std::string_view, 19> kBinary{">", "<", ">=", "<=", "==", "!=", "&&",
                                                   "||", "|", "^", "&", "<<", ">>", "+",
                                                   "-", "*", "/", "%", "**"};
constexpr std::array<std::string_view, 4> kModifier{"inv", "pow", "ctrl", "negctrl"};
constexpr std::array<std::string_view, 2> kIO{"input", "output"};
constexpr std::array<std::string_view, 5> kTime{"dt", "ns", "us", "ms", "s"};
constexpr std::array<std::string_view, 3> kUnary{"~", "!", "-"};
}  // namespace

std::string_view symbol(AccessControl v) { return lookup(kAccess, v); }
std::string_view symbol(AssignmentOperator v) { return lookup(kAssign, v); }
std::string_view symbol(BinaryOperator v) { return lookup(kBinary, v); }
std::string_view symbol(GateModifierName v) { return lookup(kModifier, v); }
std::string_view symbol(IOKeyword v) { return lookup(kIO, v); }
std::string_view symbol(TimeUnit v) { return lookup(kTime, v); }
std::string_view symbol(UnaryOperator v) { return lookup(kUnary, v); }

std::string_view enum_name(AccessControl) { return "AccessControl"; }
std::string_view enum_name(AssignmentOperator) { return "AssignmentOperator"; }
std::string_view enum_name(BinaryOperator) { return "BinaryOperator"; }
std::string_view enum_name(GateModifierName) { return "GateModifierName"; }
std::string_view enum_name(IOKeyword) { return "IOKeyword"; }
std::string_view enum_name(TimeUnit) { return "TimeUnit"; }
std::string_view enum_name(UnaryOperator) { return "UnaryOperator"; }

template <> std::optional<AccessControl> from_symbol(std::string_view t) { return find<AccessControl>(kAccess, t); }
template <> std::optional<AssignmentOperator> from_symbol(std::string_view t) { return find<AssignmentOperator>(kAssign, t); }
template <> std::optional<BinaryOperator> from_symbol(std::string_view t) { return find<BinaryOperator>(kBinary, t); }
template <> std::optional<GateModifierName> from_symbol(std::string_view t) { return find<GateModifierName>(kModifier, t); }
template <> std::optional<IOKeyword> from_symbol(std::string_view t) { return find<IOKeyword>(kIO, t); }
template <> std::optional<TimeUnit> from_symbol(std::string_view t) { return find<TimeUnit>(kTime, t); }
template <> std::optional<UnaryOperator> from_symbol(std::string_view t) { return find<UnaryOperator>(kUnary, t); }

std::string NodeClass::text() const {
  return "<class '" + std::string(module) + "." + std::string(name) + "'>";
}

// ---- visitors

void QASMVisitor::visit(QASMNode& node) {
  check_class();
  node.accept(*this, {});
}
void QASMVisitor::visit(const NodePtr& node) {
  check_class();
  if (node) node->accept(*this, detail::handle_ref(node));
}
void QASMVisitor::generic_visit(QASMNode& node) { node.visit_children(*this); }

Rewrite QASMTransformer::visit(const NodePtr& node) {
  check_class();
  if (!node) return {};
  Rewrite r = node->accept(*this, detail::handle_ref(node));
  if (r.is_keep()) return node;
  return r;
}

Rewrite QASMTransformer::generic_visit(const NodePtr& node) {
  if (!node) return {};
  node->transform_children(*this);
  return node;
}

#define NODE(Class, Base)                                                   \
  void QASMVisitor::visit_##Class(Class& node) { generic_visit(node); }     \
  Rewrite QASMTransformer::visit_##Class(const Ptr<Class>& node) {          \
    return generic_visit(std::static_pointer_cast<QASMNode>(node));         \
  }
#include "openqasm3/nodes.def"

// ---- equality, copy, repr

namespace {
// The pairs still to compare of the equality test running on this thread; null when none runs.
thread_local std::vector<std::pair<const QASMNode*, const QASMNode*>>* t_pairs = nullptr;
}  // namespace

// A loop over the pairs of nodes still to compare, not a recursion: trees of any depth compare.
bool equal(const QASMNode& a, const QASMNode& b) {
  if (&a == &b) return true;
  std::vector<std::pair<const QASMNode*, const QASMNode*>> pairs;
  // An equality test may run inside another (a payload's operator==), and a payload's
  // operator== may throw: the outer test's list comes back in any case.
  struct Running {
    decltype(t_pairs) outer;
    ~Running() { t_pairs = outer; }
  } running{t_pairs};
  t_pairs = &pairs;
  bool same = a.equals_shallow(b);
  while (same && !pairs.empty()) {
    auto [x, y] = pairs.back();
    pairs.pop_back();
    same = x == y || x->equals_shallow(*y);
  }
  return same;
}
bool equal(const NodePtr& a, const NodePtr& b) {
  if (!a || !b) return !a && !b;
  return equal(*a, *b);
}

std::string repr(const QASMNode& node) {
  std::string out;
  node.write_repr(out);
  return out;
}
std::string repr(const NodePtr& node) { return node ? repr(*node) : "None"; }

namespace {
// Copies the root, then fills the queued child fields of the copies in a loop: trees of any
// depth copy without recursion. The root cannot stand again below itself.
NodePtr copy_tree(const QASMNode& root, detail::CopyMemo& memo) {
  NodePtr copy = root.clone(memo);
  while (!memo.pending.empty()) {
    const detail::CopyMemo::Slot slot = memo.pending.back();
    memo.pending.pop_back();
    slot.fill(slot.field, memo);
  }
  return copy;
}
}  // namespace

NodePtr deep_copy_node(const NodePtr& node) {
  if (!node) return nullptr;
  detail::CopyMemo memo;
  return copy_tree(*node, memo);
}
NodePtr deep_copy_unshared_node(const NodePtr& node) {
  if (!node) return nullptr;
  detail::CopyMemo memo;
  memo.share = false;
  return copy_tree(*node, memo);
}

namespace detail {

bool defer_equal(const QASMNode& a, const QASMNode& b) {
  if (!t_pairs) return equal(a, b);  // equals_shallow called outside equal()
  t_pairs->emplace_back(&a, &b);
  return true;
}

namespace {
// The nodes still to free of the destroy_node call running outermost on this thread. The list is
// kept between calls (freeing happens node by node all along a compilation), trimmed back when a
// large tree made it grow.
struct Detached {
  std::vector<NodePtr> list;
  bool running = false;
};
thread_local Detached t_detached;
constexpr std::size_t kKeptDetachedCapacity = 4096;
}  // namespace

void destroy_node(QASMNode* node) noexcept {
  Detached& d = t_detached;
  if (d.running) {  // an outer call frees the children
    node->detach_children(d.list);
    node->~QASMNode();
    return;
  }
  // The outermost call: dropping a detached node may detach its own children into the list.
  d.running = true;
  node->detach_children(d.list);
  node->~QASMNode();
  while (!d.list.empty()) {
    NodePtr n = std::move(d.list.back());
    d.list.pop_back();
    n.reset();
  }
  if (d.list.capacity() > kKeptDetachedCapacity) std::vector<NodePtr>().swap(d.list);
  d.running = false;
}

NodePtr copy_node(const QASMNode& n, long owners, CopyMemo& memo) {
  // A node held at one place only cannot be met again in this copy.
  if (!memo.share || owners == 1) return n.clone(memo);
  auto [it, fresh] = memo.nodes.try_emplace(&n);
  if (fresh) it->second = n.clone(memo);
  return it->second;
}

void walk(QASMVisitor& v, std::vector<IndexElement>& list) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (auto* set = std::get_if<Ptr<DiscreteSet>>(&list[i]); set && *set) (*set)->accept(v, handle_ref(*set));
  if (!v.enters_index_lists()) return;
  // By index, re-reading the sizes: a handler may change the lists it is walked from.
  for (std::size_t i = 0; i < list.size(); ++i)
    for (std::size_t j = 0; i < list.size(); ++j) {
      auto* items = std::get_if<IndexList>(&list[i]);
      if (!items || j >= items->size()) break;
      if (QASMNode* item = (*items)[j].get()) item->accept(v, handle_ref((*items)[j]));
    }
}

namespace {

// The links of the chains being walked on this thread, innermost last; a chain in a right
// operand goes above the links of the chain it stands in.
std::vector<BinaryExpression*>& chain_links() {
  static thread_local std::vector<BinaryExpression*> links;
  return links;
}

// Puts on chain_links() the links of the chain from `top` down, as far as the walker walks the
// left operands generically, and cuts the list back when it goes.
class ChainLinks {
 public:
  template <class Walker> ChainLinks(Walker& w, BinaryExpression& top) : links_(chain_links()), base_(links_.size()) {
    BinaryExpression* link = &top;
    links_.push_back(link);
    while (link->lhs && link->lhs->kind() == NodeKind::BinaryExpression &&
           w.walk_of(NodeKind::BinaryExpression) == NodeWalk::children) {
      link = static_cast<BinaryExpression*>(link->lhs.get());
      links_.push_back(link);
    }
  }
  ~ChainLinks() { links_.resize(base_); }
  ChainLinks(const ChainLinks&) = delete;
  ChainLinks& operator=(const ChainLinks&) = delete;
  BinaryExpression& innermost() const { return *links_.back(); }
  // The links from the innermost out, by index: the right operands' walks grow and shrink the
  // list above this chain's part.
  template <class F> void each_outward(F&& f) const {
    for (std::size_t i = links_.size(); i-- > base_;) f(*links_[i]);
  }

 private:
  std::vector<BinaryExpression*>& links_;
  std::size_t base_;
};

}  // namespace

void visit_binary_chain(QASMVisitor& v, BinaryExpression& top) {
  const ChainLinks chain(v, top);
  walk(v, chain.innermost().lhs);
  chain.each_outward([&](BinaryExpression& link) { walk(v, link.rhs); });
}

void transform_binary_chain(QASMTransformer& t, BinaryExpression& top) {
  const ChainLinks chain(t, top);
  rewrite(t, BinaryExpression::kName, "lhs", chain.innermost().lhs);
  chain.each_outward([&](BinaryExpression& link) { rewrite(t, BinaryExpression::kName, "rhs", link.rhs); });
}

void walk(QASMVisitor& v, std::vector<SwitchCase>& cases) {
  if (v.switch_cases() != SwitchCases::enter) return;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    walk(v, cases[i].values);
    if (i < cases.size()) walk(v, cases[i].block);
  }
}

void rewrite(QASMTransformer& t, std::string_view owner, const char* name, std::vector<SwitchCase>& cases) {
  if (t.switch_cases() != SwitchCases::enter) return;
  for (auto& c : cases) {
    rewrite(t, owner, name, c.values);
    rewrite(t, owner, name, c.block);
  }
}

void rewrite(QASMTransformer& t, std::string_view owner, const char* name, std::vector<IndexElement>& list) {
  rewrite_elements(t, list, [&](IndexElement& e, Replacements<IndexElement>& items) {
    auto* set = std::get_if<Ptr<DiscreteSet>>(&e);
    if (!set || !*set) return false;  // an inner list of one bracket pair: kept, not entered
    return take_rewrite<DiscreteSet>((*set)->accept(t, handle_ref(*set)), set->get(), owner, name, items);
  });
}

void throw_field_type(std::string_view owner, const char* field, const QASMNode& got,
                      std::string_view expected) {
  throw std::invalid_argument("cannot place " + std::string(got.class_name()) + " in field '" +
                              field + "' of " + std::string(owner) + " (expected " +
                              std::string(expected) + ")");
}
bool stands_in_statement_lists(const QASMNode& node) {
  static constexpr KindSet statements = statement_kinds();
  return statements[kind_index(node.library_kind())];
}
void throw_statement_field(std::string_view owner, const char* field, const QASMNode& got) {
  throw_field_type(owner, field, got, "a node other than a statement");
}
void throw_field_list(std::string_view owner, const char* field) {
  throw std::invalid_argument("cannot place a list of nodes in field '" + std::string(field) +
                              "' of " + std::string(owner) + ", which holds one node");
}

void repr_string(std::string& out, std::string_view s) {
  bool has_single = s.find('\'') != std::string_view::npos;
  bool has_double = s.find('"') != std::string_view::npos;
  char quote = has_single && !has_double ? '"' : '\'';
  out += quote;
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c == static_cast<unsigned char>(quote)) {
          out += '\\';
          out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
          static const char* hex = "0123456789abcdef";
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += quote;
}

void repr_double(std::string& out, double v) { out += float_text(v); }

void repr_span(std::string& out, const std::optional<Span>& span) {
  if (!span) {
    out += "None";
    return;
  }
  out += "Span(start_line=" + std::to_string(span->start_line) +
         ", start_column=" + std::to_string(span->start_column) +
         ", end_line=" + std::to_string(span->end_line) +
         ", end_column=" + std::to_string(span->end_column) + ")";
}

}  // namespace detail
}  // namespace openqasm3::ast
