// The text listing of a recorded program (grammar in program.hpp).
#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <ostream>

#include "internal.hpp"

namespace vell::tavo {

using namespace detail;

namespace {

// The text as it is rendered: a run of memory written through a cursor. With a stream, the run is
// a fixed buffer handed to the stream whenever it fills, so that the whole text is never held at
// once; without one, it is a string grown geometrically.
//
// The run keeps kSlack bytes past end_: a piece whose source is padded likewise (piece()) is copied
// in whole 32-byte moves that may write beyond its last byte, where the next piece overwrites them.
// Most pieces then cost a move or two with no branch on their length.
class Buffer {
 public:
  static constexpr std::size_t kSlack = 32;

  Buffer() = default;
  // Stream mode: `storage` is the run; its last kSlack bytes are the slack.
  Buffer(std::ostream& stream, char* storage, std::size_t size)
      : stream_(&stream), begin_(storage), cursor_(storage), end_(storage + size - kSlack) {}

  std::string take() {
    std::string text = std::move(string_);
    text.resize(size());
    return text;
  }
  void flush() {
    if (stream_ && cursor_ != begin_) {
      stream_->write(begin_, static_cast<std::streamsize>(size()));
      cursor_ = begin_;
    }
  }

  // The writes are inlined wherever they stand, their slow paths never: a call per character
  // or a register saved for a slow path would cost as much as the copy itself.
  [[gnu::always_inline]] void text(std::string_view t) { write(t.data(), t.size()); }
  [[gnu::always_inline]] void character(char c) {
    if (cursor_ == end_) make_room(1);
    *cursor_++ = c;
  }
  // Most texts are a few bytes long: those are copied inline, in at most two overlapping words,
  // rather than through a call of memcpy.
  [[gnu::always_inline]] void write(const char* text, std::size_t n) {
    if (!has_room(n)) return write_slow(text, n);
    if (n >= 8 && n <= 16) {
      std::memcpy(cursor_, text, 8);
      std::memcpy(cursor_ + n - 8, text + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(cursor_, text, 4);
      std::memcpy(cursor_ + n - 4, text + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t i = 0; i < n; ++i) cursor_[i] = text[i];
    } else {
      std::memcpy(cursor_, text, n);
    }
    cursor_ += n;
  }
  // `text` may be read in whole 32-byte words: at least one, up to 31 bytes past its n-th.
  [[gnu::always_inline]] void piece(const char* text, std::size_t n) {
    if (!has_room(n)) return write_slow(text, n);
    std::memcpy(cursor_, text, 32);
    for (std::size_t i = 32; i < n; i += 32) std::memcpy(cursor_ + i, text + i, 32);
    cursor_ += n;
  }
  // A cursor with room for `n` bytes, to write them in place; advance() after.
  [[gnu::always_inline]] char* reserve(std::size_t n) {
    if (!has_room(n)) make_room(n);
    return cursor_;
  }
  void advance(char* to) { cursor_ = to; }

 private:
  std::size_t size() const { return static_cast<std::size_t>(cursor_ - begin_); }
  bool has_room(std::size_t n) const { return n <= static_cast<std::size_t>(end_ - cursor_); }

  // Room for n bytes at the cursor: the stream's buffer flushed (its run is far longer than
  // anything made in place), or the string grown.
  [[gnu::noinline]] void make_room(std::size_t n) {
    if (stream_) return flush();
    const std::size_t used = size();
    string_.resize(std::max(string_.size() * 2, used + n + kSlack + 4096));
    begin_ = string_.data();
    cursor_ = begin_ + used;
    end_ = begin_ + string_.size() - kSlack;
  }
  [[gnu::noinline]] void write_slow(const char* text, std::size_t n) {
    make_room(n);
    if (!has_room(n)) {  // longer than the stream's whole run
      stream_->write(text, static_cast<std::streamsize>(n));
      return;
    }
    std::memcpy(cursor_, text, n);
    cursor_ += n;
  }

  std::ostream* stream_ = nullptr;
  std::string string_;  // without a stream: the run (its size is the capacity in use)
  char* begin_ = nullptr;
  char* cursor_ = nullptr;
  char* end_ = nullptr;
};

// Texts made once per listing and copied as pieces: one store, padded so that each can be read
// 32 bytes past its end.
class Pieces {
 public:
  struct Piece {
    std::size_t offset = 0;
    std::size_t size = 0;  // 0: not made yet (every piece has at least one byte)
  };
  Pieces() { store_.assign(kPadding, ' '); }

  // Starts a piece at the end of the store; end() closes it.
  std::string& begin() {
    store_.resize(store_.size() - kPadding);
    start_ = store_.size();
    return store_;
  }
  Piece end() {
    const Piece made{start_, store_.size() - start_};
    store_.append(kPadding, ' ');
    return made;
  }
  const char* data(const Piece& piece) const { return store_.data() + piece.offset; }

 private:
  static constexpr std::size_t kPadding = 32;
  std::string store_;
  std::size_t start_ = 0;
};

// Asking for memory ahead of the walk. The records lie in the arena in the order the walk follows
// them, which the hardware foresees; the expression nodes, variables and streams they refer to
// are pooled blocks anywhere, which it does not. For a record some statements ahead, the nodes it
// holds are asked for; for one nearer, which should have them in the cache by then, what those
// nodes hold in turn. A prefetch is only a hint: it never faults. These
// functions are always inlined: GCC takes a function that does nothing but prefetch for one
// without effect and drops its calls.
[[gnu::always_inline]] inline void ask_for(const void* p) { __builtin_prefetch(p); }

// The node of an expression value, or null.
inline const ExprNode* node_of(const Value& v) {
  const auto* expr = std::get_if<Expr>(&v);
  return expr ? expr->node().get() : nullptr;
}

// Asks for an expression node (null: nothing), or, for kOperands, for what the node holds.
template <bool kOperands>
[[gnu::always_inline]] inline void ask_for(const ExprNode* node) {
  if (!kOperands) return ask_for(static_cast<const void*>(node));
  if (node == nullptr) return;
  if (node->has_var()) {
    ask_for(node->var.get());
    if (node->kind == NodeKind::Cell) ask_for(node_of(node->lhs));
  } else {
    ask_for(node_of(node->lhs));
    if (node->kind == NodeKind::Binary) ask_for(node_of(node->rhs));
  }
}

// Asks for the expression nodes a record holds, with the variables and streams it refers to
// directly; or, for kOperands, for what those nodes hold.
template <bool kOperands>
[[gnu::always_inline]] inline void ask_ahead(const Stmt& stmt) {
  switch (stmt.kind) {
    case StmtKind::Declare:
      if (!kOperands) ask_for(static_cast<const DeclareStmt&>(stmt).var.get());
      break;
    case StmtKind::Advance:
      if (!kOperands) ask_for(static_cast<const AdvanceStmt&>(stmt).var.get());
      break;
    case StmtKind::DeclareStream:
      if (!kOperands) ask_for(static_cast<const DeclareStreamStmt&>(stmt).stream.get());
      break;
    case StmtKind::Assign: {
      const auto& s = static_cast<const AssignStmt&>(stmt);
      ask_for<kOperands>(s.target.node().get());
      ask_for<kOperands>(node_of(s.value));
      break;
    }
    case StmtKind::Save: {
      const auto& s = static_cast<const SaveStmt&>(stmt);
      ask_for<kOperands>(s.source.node().get());
      if (!kOperands) ask_for(s.stream);
      break;
    }
    case StmtKind::SaveAll:
      if (!kOperands) ask_for(static_cast<const SaveAllStmt&>(stmt).stream);
      break;
    case StmtKind::Play: {
      const auto& s = static_cast<const PlayStmt&>(stmt);
      if (s.has_amplitude) ask_for<kOperands>(node_of(static_cast<const ScaledPlayStmt&>(s).amplitude));
      break;
    }
    case StmtKind::Wait:
      ask_for<kOperands>(node_of(static_cast<const WaitStmt&>(stmt).cycles));
      break;
    case StmtKind::FrameRotation: {
      const auto& s = static_cast<const FrameRotationStmt&>(stmt);
      if (!s.plain) ask_for<kOperands>(static_cast<const ExprFrameRotationStmt&>(s).angle.node().get());
      break;
    }
    case StmtKind::Measure:
      ask_for<kOperands>(static_cast<const MeasureStmt&>(stmt).target.node().get());
      break;
    case StmtKind::Block: {
      const auto& s = static_cast<const BlockStmt&>(stmt);
      if (s.has_value()) ask_for<kOperands>(node_of(static_cast<const ValueBlockStmt&>(s).first));
      if (s.is_loop()) {
        const auto& loop = static_cast<const LoopStmt&>(s);
        ask_for<kOperands>(node_of(loop.second));
        ask_for<kOperands>(node_of(loop.third));
        ask_for<kOperands>(loop.variable.node().get());
      }
      break;
    }
    case StmtKind::Align:
      break;
  }
}

// Renders the records into a buffer. Names and lists of element names are quoted and joined once
// per listing, with the words that stand around them in every statement that names them, and
// copied as pieces.
class Lister {
 public:
  // Into a string.
  explicit Lister(const NameTable& names) : names_(names) { make_name_pieces(); }
  // Into a stream, through `storage`.
  Lister(const NameTable& names, std::ostream& stream, char* storage, std::size_t size)
      : names_(names), out_(stream, storage, size) {
    make_name_pieces();
  }

  std::string take() { return out_.take(); }
  void flush() { out_.flush(); }

  // The sink of render(): values go straight into the buffer.
  void text(std::string_view t) { out_.text(t); }
  void character(char c) { out_.character(c); }
  void integer(std::int64_t v) {
    if (static_cast<std::uint64_t>(v) < 10) return out_.character(static_cast<char>('0' + v));  // most are
    char* at = out_.reserve(24);
    out_.advance(std::to_chars(at, at + 24, v).ptr);
  }
  // Programs repeat a few reals (angles such as pi / 2) many times: each one's shortest text is
  // worked out once, then copied from a small cache indexed by its bits.
  void fixed(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    FixedText& slot = fixed_cache_[(bits * 0x9e3779b97f4a7c15ULL) >> (64 - kFixedCacheBits)];
    if (!slot.used || slot.bits != bits) {
      std::string text;
      append_fixed(text, v);
      slot.used = text.size() <= sizeof slot.text;
      if (!slot.used) {
        out_.text(text);
        return;
      }
      slot.bits = bits;
      slot.size = static_cast<std::uint8_t>(text.size());
      std::memcpy(slot.text, text.data(), text.size());
    }
    out_.piece(slot.text, slot.size);
  }

  void block(const Block& block, int depth) {
    if (block.empty()) {
      line(depth);
      put("pass\n");
      return;
    }
    // `near` and `far` run kNear and kFar records ahead of `stmt` (or are null past the end).
    const Stmt* near = nullptr;
    const Stmt* far = block.first;
    for (std::size_t i = 0; i < kFar && far != nullptr; ++i) {
      ask_ahead<false>(*far);
      if (i == kNear) near = far;
      far = far->next;
    }
    for (const Stmt* stmt = block.first; stmt != nullptr; stmt = stmt->next) {
      if (far != nullptr) {
        ask_ahead<false>(*far);
        far = far->next;
      }
      if (near != nullptr) {
        ask_ahead<true>(*near);
        near = near->next;
      }
      line(depth);
      switch (stmt->kind) {
        case StmtKind::Declare:
          statement(*static_cast<const DeclareStmt*>(stmt));
          break;
        case StmtKind::Advance:
          statement(*static_cast<const AdvanceStmt*>(stmt));
          break;
        case StmtKind::DeclareStream:
          statement(*static_cast<const DeclareStreamStmt*>(stmt));
          break;
        case StmtKind::Assign:
          statement(*static_cast<const AssignStmt*>(stmt));
          break;
        case StmtKind::Save:
          statement(*static_cast<const SaveStmt*>(stmt));
          break;
        case StmtKind::SaveAll:
          statement(*static_cast<const SaveAllStmt*>(stmt));
          break;
        case StmtKind::Align:
          statement(*static_cast<const AlignStmt*>(stmt));
          break;
        case StmtKind::Play:
          statement(*static_cast<const PlayStmt*>(stmt));
          break;
        case StmtKind::Wait:
          statement(*static_cast<const WaitStmt*>(stmt));
          break;
        case StmtKind::FrameRotation:
          statement(*static_cast<const FrameRotationStmt*>(stmt));
          break;
        case StmtKind::Measure:
          statement(*static_cast<const MeasureStmt*>(stmt));
          break;
        case StmtKind::Block:
          statement(*static_cast<const BlockStmt*>(stmt), depth);
          break;
      }
    }
  }

 private:
  using Piece = Pieces::Piece;
  // A line takes some 15 ns to write, a miss of the caches 100 ns or more: each stage must be far
  // enough ahead of the next for its memory to arrive.
  static constexpr std::size_t kNear = 8;
  static constexpr std::size_t kFar = 32;

  // A literal's length is known here: no strlen for every keyword of every line.
  template <std::size_t N> void put(const char (&text)[N]) { out_.write(text, N - 1); }
  void put(const Piece& piece) { out_.piece(pieces_.data(piece), piece.size); }

  void line(int depth) {
    static constexpr char kSpaces[] = "                                                                ";
    for (std::size_t n = static_cast<std::size_t>(depth) * 2; n > 0;) {
      const std::size_t part = std::min<std::size_t>(n, sizeof kSpaces - 1 - 32);
      out_.piece(kSpaces, part);
      n -= part;
    }
  }

  // For every name: "name" and ` on "name"` with the line's end, as plays and frame rotations
  // end.
  void make_name_pieces() {
    quoted_.reserve(names_.size());
    on_name_line_.reserve(names_.size());
    for (NameId id = 0; id < names_.size(); ++id) {
      const std::string quoted_name = quoted(names_.text(id));
      pieces_.begin() += quoted_name;
      quoted_.push_back(pieces_.end());
      pieces_.begin().append(" on ").append(quoted_name).append("\n");
      on_name_line_.push_back(pieces_.end());
    }
  }

  // A list of elements, joined, between `before` and the line's end: made when first met.
  const Piece& list_line(std::vector<Piece>& made, NamesId list, std::string_view before) {
    if (list < made.size() && made[list].size != 0) return made[list];
    return make_list_line(made, list, before);
  }
  [[gnu::noinline]] const Piece& make_list_line(std::vector<Piece>& made, NamesId list, std::string_view before) {
    std::string text(before);
    bool first = true;
    for (NameId id : names_.list(list)) {
      if (!first) text += ", ";
      first = false;
      text.append(pieces_.data(quoted_[id]), quoted_[id].size);
    }
    text += '\n';
    if (list >= made.size()) made.resize(list + 1);
    pieces_.begin() += text;
    return made[list] = pieces_.end();
  }

  void value(const Value& v) { render(*this, v); }
  // An expression held as one, rendered as its Value would be, without making that Value.
  void value(const Expr& e) {
    if (e.empty()) {
      out_.text("<empty>");
    } else {
      render(*this, *e.node());
    }
  }

  void list(const ValueList& values) {
    out_.character('[');
    for (std::uint32_t i = 0; i < values.size; ++i) {
      if (i > 0) put(", ");
      value(values.data[i]);
    }
    out_.character(']');
  }

  void type(const VarInfo& var) {
    out_.text(dtype_name(var.dtype));
    if (var.is_array) {
      out_.character('[');
      integer(var.size);
      out_.character(']');
    }
  }

  void statement(const DeclareStmt& s) {
    out_.text(s.from_input ? std::string_view("declare_input_stream ") : std::string_view("declare "));
    out_.text(s.var->name);
    put(": ");
    type(*s.var);
    if (s.init == DeclareStmt::Init::Scalar) {
      put(" = ");
      switch (s.var->dtype) {  // as the Value of that type renders
        case DType::Bool:
          out_.text(s.bool_value ? std::string_view("true") : std::string_view("false"));
          break;
        case DType::Int:
          integer(s.int_value);
          break;
        case DType::Fixed:
          fixed(s.fixed_value);
          break;
      }
    } else if (s.init == DeclareStmt::Init::List) {
      put(" = ");
      list(s.values);
    }
    if (s.from_input) {
      put(" from ");
      put(quoted_[s.input_name]);
    }
    out_.character('\n');
  }

  void statement(const AdvanceStmt& s) {
    put("advance_input_stream ");
    out_.text(s.var->name);
    out_.character('\n');
  }

  void statement(const DeclareStreamStmt& s) {
    put("declare_stream ");
    out_.text(s.stream->name);
    out_.character('\n');
  }

  void statement(const AssignStmt& s) {
    put("assign ");
    value(s.target);
    put(" = ");
    value(s.value);
    out_.character('\n');
  }

  void statement(const SaveStmt& s) {
    put("save ");
    value(s.source);
    put(" -> ");
    out_.text(s.stream->name);
    out_.character('\n');
  }

  void statement(const SaveAllStmt& s) {
    put("save_all ");
    out_.text(s.stream->name);
    out_.character(' ');
    // Tags are seldom repeated, so not kept as pieces; most need no escapes, and are written as
    // they are between the quotes.
    const std::string_view tag = s.tag();
    const bool plain = std::all_of(tag.begin(), tag.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return byte >= 0x20 && byte != 0x7f && c != '"' && c != '\\';
    });
    if (plain) {
      out_.character('"');
      out_.text(tag);
      out_.character('"');
    } else {
      out_.text(quoted(tag));
    }
    out_.character('\n');
  }

  void statement(const AlignStmt& s) { put(list_line(align_line_, s.elements, "align ")); }

  void statement(const PlayStmt& s) {
    put("play ");
    put(quoted_[s.pulse]);
    if (s.has_amplitude) {
      put(" * ");
      value(static_cast<const ScaledPlayStmt&>(s).amplitude);
    }
    put(on_name_line_[s.element]);
  }

  void statement(const WaitStmt& s) {
    put("wait ");
    value(s.cycles);
    put(list_line(on_list_line_, s.elements, " on "));
  }

  void statement(const FrameRotationStmt& s) {
    put("frame_rotation ");
    if (s.plain) {
      fixed(static_cast<const PlainFrameRotationStmt&>(s).angle);
    } else {
      value(static_cast<const ExprFrameRotationStmt&>(s).angle);
    }
    put(on_name_line_[s.element]);
  }

  void statement(const MeasureStmt& s) {
    put("measure ");
    put(quoted_[s.pulse]);
    put(" on ");
    put(quoted_[s.element]);
    put(" -> ");
    value(s.target);
    out_.character('\n');
  }

  void statement(const BlockStmt& s, int depth) {
    // The value of the kinds that have one.
    const auto first = [&s]() -> const Value& { return static_cast<const ValueBlockStmt&>(s).first; };
    switch (s.kind) {
      case BlockKind::StreamProcessing:
        put("stream_processing");
        break;
      case BlockKind::If:
        put("if ");
        value(first());
        break;
      case BlockKind::While:
        put("while ");
        value(first());
        break;
      case BlockKind::For: {
        const auto& loop = static_cast<const LoopStmt&>(s);
        put("for ");
        value(loop.variable);
        put(" = ");
        value(loop.first);
        put("; ");
        value(loop.second);
        put("; ");
        value(loop.variable);
        put(" = ");
        value(loop.third);
        break;
      }
      case BlockKind::ForEach: {
        const auto& loop = static_cast<const LoopStmt&>(s);
        put("for_each ");
        value(loop.variable);
        put(" in ");
        if (loop.array.empty()) {
          list(loop.values);
        } else {
          value(loop.array);
        }
        break;
      }
      case BlockKind::Switch:
        put("switch ");
        value(first());
        if (s.unsafe) put(" unsafe");
        break;
      case BlockKind::Case:
        put("case ");
        value(first());
        break;
      case BlockKind::Default:
        put("default");
        break;
    }
    put(":\n");
    block(s.body, depth + 1);
    if (s.kind == BlockKind::If) {
      if (const Block* else_body = static_cast<const ValueBlockStmt&>(s).else_body) {
        line(depth);
        put("else:\n");
        block(*else_body, depth + 1);
      }
    }
  }

  // The text is the first member: a hit is copied as a 32-byte piece of the slot.
  struct FixedText {
    char text[32];
    std::uint64_t bits = 0;
    std::uint8_t size = 0;
    bool used = false;
  };
  static constexpr int kFixedCacheBits = 8;

  const NameTable& names_;
  Buffer out_;
  Pieces pieces_;
  std::vector<Piece> quoted_;        // by NameId
  std::vector<Piece> on_name_line_;  // by NameId
  std::vector<Piece> align_line_;    // by NamesId
  std::vector<Piece> on_list_line_;  // by NamesId
  std::vector<FixedText> fixed_cache_ = std::vector<FixedText>(std::size_t{1} << kFixedCacheBits);
};

}  // namespace

std::string Program::listing() const {
  std::lock_guard lock(state_->mutex);
  if (state_->root.empty()) return {};
  Lister lister(state_->names);
  lister.block(state_->root, 0);
  return lister.take();
}

void Program::write_listing(std::ostream& out) const {
  std::lock_guard lock(state_->mutex);
  if (state_->root.empty()) return;
  // On the stack: a buffer this size from the heap would cost more than the copies it saves
  // (a request that large makes malloc sort out its free lists first). Small enough for any
  // thread's stack; the stream gets the text in pieces this long.
  char storage[16 * 1024];
  Lister lister(state_->names, out, storage, sizeof storage);
  lister.block(state_->root, 0);
  lister.flush();
}

}  // namespace vell::tavo
