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

// The text as it is rendered: a buffer written through a cursor, grown geometrically. A listing
// is mostly short pieces (keywords, names, numbers), for which a std::string's append checks
// and bookkeeping cost more than the copy.
class Buffer {
 public:
  void reserve(std::size_t bytes) { grow(bytes); }
  std::size_t size() const { return static_cast<std::size_t>(cursor_ - data_.data()); }
  bool empty() const { return size() == 0; }
  const char* data() const { return data_.data(); }
  void clear() { cursor_ = data_.data(); }
  std::string take() {
    data_.resize(size());
    cursor_ = nullptr;
    return std::move(data_);
  }

  void text(std::string_view t) { write(t.data(), t.size()); }
  void character(char c) {
    if (cursor_ == end_) grow(1);
    *cursor_++ = c;
  }
  void spaces(std::size_t n) {
    if (static_cast<std::size_t>(end_ - cursor_) < n) grow(n);
    for (std::size_t i = 0; i < n; ++i) cursor_[i] = ' ';
    cursor_ += n;
  }
  // Most pieces are a few bytes long: those are copied inline, in at most two overlapping
  // words, rather than through a call of memcpy.
  void write(const char* text, std::size_t n) {
    if (static_cast<std::size_t>(end_ - cursor_) < n) grow(n);
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

 private:
  void grow(std::size_t more) {
    const std::size_t used = size();
    data_.resize(std::max(data_.size() * 2, used + more + 256));
    cursor_ = data_.data() + used;
    end_ = data_.data() + data_.size();
  }
  std::string data_;  // its size is the capacity in use; the text ends at cursor_
  char* cursor_ = data_.data();
  char* end_ = data_.data();
};

// Renders into a buffer; with a stream, the buffer goes to the stream whenever it has grown past
// a few pages, so that the whole text is never held at once.
class Lister {
 public:
  Lister(const NameTable& names, std::ostream* stream) : names_(names), stream_(stream) {
    if (stream_) out_.reserve(kFlushAt + 4096);
    quoted_.reserve(names_.size());
    for (NameId id = 0; id < names_.size(); ++id) quoted_.push_back(quoted(names_.text(id)));
  }

  std::string take() { return out_.take(); }

  void flush() {
    if (stream_ && !out_.empty()) {
      stream_->write(out_.data(), static_cast<std::streamsize>(out_.size()));
      out_.clear();
    }
  }

  // The sink of render(): values go straight into the buffer.
  void text(std::string_view t) { out_.text(t); }
  void character(char c) { out_.character(c); }
  void integer(std::int64_t v) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    out_.write(buffer, static_cast<std::size_t>(result.ptr - buffer));
  }
  // Programs repeat a few reals (angles such as pi / 2) many times: each one's shortest text is
  // worked out once, then copied from a small cache indexed by its bits.
  void fixed(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    FixedText& slot = fixed_cache_[(bits ^ (bits >> 29) ^ (bits >> 47)) % kFixedCache];
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
    out_.write(slot.text, slot.size);
  }

  void block(const Block& block, int depth) {
    if (block.empty()) {
      line(depth);
      put("pass\n");
      return;
    }
    for (const Stmt* stmt = block.first; stmt != nullptr; stmt = stmt->next) {
      switch (stmt->kind) {
        case StmtKind::Declare:
          statement(*static_cast<const DeclareStmt*>(stmt), depth);
          break;
        case StmtKind::Advance:
          statement(*static_cast<const AdvanceStmt*>(stmt), depth);
          break;
        case StmtKind::DeclareStream:
          statement(*static_cast<const DeclareStreamStmt*>(stmt), depth);
          break;
        case StmtKind::Assign:
          statement(*static_cast<const AssignStmt*>(stmt), depth);
          break;
        case StmtKind::Save:
          statement(*static_cast<const SaveStmt*>(stmt), depth);
          break;
        case StmtKind::SaveAll:
          statement(*static_cast<const SaveAllStmt*>(stmt), depth);
          break;
        case StmtKind::Align:
          statement(*static_cast<const AlignStmt*>(stmt), depth);
          break;
        case StmtKind::Play:
          statement(*static_cast<const PlayStmt*>(stmt), depth);
          break;
        case StmtKind::Wait:
          statement(*static_cast<const WaitStmt*>(stmt), depth);
          break;
        case StmtKind::FrameRotation:
          statement(*static_cast<const FrameRotationStmt*>(stmt), depth);
          break;
        case StmtKind::Measure:
          statement(*static_cast<const MeasureStmt*>(stmt), depth);
          break;
        case StmtKind::Block:
          statement(*static_cast<const BlockStmt*>(stmt), depth);
          break;
      }
      if (out_.size() >= kFlushAt) flush();
    }
  }

 private:
  static constexpr std::size_t kFlushAt = 64 * 1024;

  // A literal's length is known here: no strlen for every keyword of every line.
  template <std::size_t N> void put(const char (&text)[N]) { out_.write(text, N - 1); }

  // A name as a quoted string, quoted once per name.
  void name(NameId id) { out_.text(quoted_[id]); }

  void line(int depth) { out_.spaces(static_cast<std::size_t>(depth) * 2); }

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

  void statement(const DeclareStmt& s, int depth) {
    line(depth);
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
      name(s.input_name);
    }
    out_.character('\n');
  }

  void statement(const AdvanceStmt& s, int depth) {
    line(depth);
    put("advance_input_stream ");
    out_.text(s.var->name);
    out_.character('\n');
  }

  void statement(const DeclareStreamStmt& s, int depth) {
    line(depth);
    put("declare_stream ");
    out_.text(s.stream->name);
    out_.character('\n');
  }

  void statement(const AssignStmt& s, int depth) {
    line(depth);
    put("assign ");
    value(s.target);
    put(" = ");
    value(s.value);
    out_.character('\n');
  }

  void statement(const SaveStmt& s, int depth) {
    line(depth);
    put("save ");
    value(s.source);
    put(" -> ");
    out_.text(s.stream->name);
    out_.character('\n');
  }

  void statement(const SaveAllStmt& s, int depth) {
    line(depth);
    put("save_all ");
    out_.text(s.stream->name);
    out_.character(' ');
    out_.text(quoted(s.tag()));
    out_.character('\n');
  }

  void statement(const AlignStmt& s, int depth) {
    line(depth);
    put("align ");
    elements(s.elements);
    out_.character('\n');
  }

  void elements(NamesId list) {
    bool first = true;
    for (NameId id : names_.list(list)) {
      if (!first) put(", ");
      first = false;
      name(id);
    }
  }

  void statement(const PlayStmt& s, int depth) {
    line(depth);
    put("play ");
    name(s.pulse);
    if (s.has_amplitude) {
      put(" * ");
      value(static_cast<const ScaledPlayStmt&>(s).amplitude);
    }
    put(" on ");
    name(s.element);
    out_.character('\n');
  }

  void statement(const WaitStmt& s, int depth) {
    line(depth);
    put("wait ");
    value(s.cycles);
    put(" on ");
    elements(s.elements);
    out_.character('\n');
  }

  void statement(const FrameRotationStmt& s, int depth) {
    line(depth);
    put("frame_rotation ");
    if (s.plain) {
      fixed(static_cast<const PlainFrameRotationStmt&>(s).angle);
    } else {
      value(static_cast<const ExprFrameRotationStmt&>(s).angle);
    }
    put(" on ");
    name(s.element);
    out_.character('\n');
  }

  void statement(const MeasureStmt& s, int depth) {
    line(depth);
    put("measure ");
    name(s.pulse);
    put(" on ");
    name(s.element);
    put(" -> ");
    value(s.target);
    out_.character('\n');
  }

  void statement(const BlockStmt& s, int depth) {
    line(depth);
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

  struct FixedText {
    std::uint64_t bits = 0;
    bool used = false;
    std::uint8_t size = 0;
    char text[30];
  };
  static constexpr std::size_t kFixedCache = 251;

  const NameTable& names_;
  std::ostream* stream_;
  std::vector<std::string> quoted_;
  std::vector<FixedText> fixed_cache_ = std::vector<FixedText>(kFixedCache);
  Buffer out_;
};

}  // namespace

std::string Program::listing() const {
  std::lock_guard lock(state_->mutex);
  if (state_->root.empty()) return {};
  Lister lister(state_->names, nullptr);
  lister.block(state_->root, 0);
  return lister.take();
}

void Program::write_listing(std::ostream& out) const {
  std::lock_guard lock(state_->mutex);
  if (state_->root.empty()) return;
  Lister lister(state_->names, &out);
  lister.block(state_->root, 0);
  lister.flush();
}

}  // namespace vell::tavo
