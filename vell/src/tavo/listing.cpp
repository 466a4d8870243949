// The text listing of a recorded program (grammar in program.hpp).
#include <mutex>
#include <ostream>

#include "internal.hpp"

namespace vell::tavo {

using namespace detail;

namespace {

// Renders into a buffer; with a stream, the buffer goes to the stream whenever it has grown past
// a few pages, so that the whole text is never held at once.
class Lister {
 public:
  Lister(const NameTable& names, std::ostream* stream) : names_(names), stream_(stream) {
    if (stream_) out_.reserve(kFlushAt + 4096);
  }

  std::string take() { return std::move(out_); }

  void flush() {
    if (stream_ && !out_.empty()) {
      stream_->write(out_.data(), static_cast<std::streamsize>(out_.size()));
      out_.clear();
    }
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
  template <std::size_t N> void put(const char (&text)[N]) { out_.append(text, N - 1); }

  // A name as a quoted string, quoted once per name.
  void name(NameId id) {
    if (quoted_.size() <= id) quoted_.resize(id + 1);
    std::string& text = quoted_[id];
    if (text.empty()) text = quoted(names_.text(id));
    out_ += text;
  }

  void line(int depth) { out_.append(static_cast<std::size_t>(depth) * 2, ' '); }

  void value(const Value& v) { append_text(out_, v); }

  void list(const ValueList& values) {
    out_ += '[';
    for (std::uint32_t i = 0; i < values.size; ++i) {
      if (i > 0) put(", ");
      value(values.data[i]);
    }
    out_ += ']';
  }

  void type(const VarInfo& var) {
    out_ += dtype_name(var.dtype);
    if (var.is_array) out_ += '[' + std::to_string(var.size) + ']';
  }

  void statement(const DeclareStmt& s, int depth) {
    line(depth);
    out_ += s.from_input ? "declare_input_stream " : "declare ";
    out_ += s.var->name;
    put(": ");
    type(*s.var);
    if (s.init == DeclareStmt::Init::Scalar) {
      put(" = ");
      value(s.values.data[0]);
    } else if (s.init == DeclareStmt::Init::List) {
      put(" = ");
      list(s.values);
    }
    if (s.from_input) {
      put(" from ");
      name(s.input_name);
    }
    out_ += '\n';
  }

  void statement(const AdvanceStmt& s, int depth) {
    line(depth);
    put("advance_input_stream ");
    out_ += s.var->name;
    out_ += '\n';
  }

  void statement(const DeclareStreamStmt& s, int depth) {
    line(depth);
    put("declare_stream ");
    out_ += s.stream->name;
    out_ += '\n';
  }

  void statement(const AssignStmt& s, int depth) {
    line(depth);
    put("assign ");
    value(s.target);
    put(" = ");
    value(s.value);
    out_ += '\n';
  }

  void statement(const SaveStmt& s, int depth) {
    line(depth);
    put("save ");
    value(s.source);
    put(" -> ");
    out_ += s.stream->name;
    out_ += '\n';
  }

  void statement(const SaveAllStmt& s, int depth) {
    line(depth);
    put("save_all ");
    out_ += s.stream->name;
    out_ += ' ';
    name(s.tag);
    out_ += '\n';
  }

  void statement(const AlignStmt& s, int depth) {
    line(depth);
    put("align ");
    elements(s.elements);
    out_ += '\n';
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
      value(s.amplitude);
    }
    put(" on ");
    name(s.element);
    out_ += '\n';
  }

  void statement(const WaitStmt& s, int depth) {
    line(depth);
    put("wait ");
    value(s.cycles);
    put(" on ");
    elements(s.elements);
    out_ += '\n';
  }

  void statement(const FrameRotationStmt& s, int depth) {
    line(depth);
    put("frame_rotation ");
    value(s.angle);
    put(" on ");
    name(s.element);
    out_ += '\n';
  }

  void statement(const MeasureStmt& s, int depth) {
    line(depth);
    put("measure ");
    name(s.pulse);
    put(" on ");
    name(s.element);
    put(" -> ");
    value(s.target);
    out_ += '\n';
  }

  void statement(const BlockStmt& s, int depth) {
    line(depth);
    switch (s.kind) {
      case BlockKind::StreamProcessing:
        put("stream_processing");
        break;
      case BlockKind::If:
        put("if ");
        value(s.first);
        break;
      case BlockKind::While:
        put("while ");
        value(s.first);
        break;
      case BlockKind::For:
        put("for ");
        value(s.variable);
        put(" = ");
        value(s.first);
        put("; ");
        value(s.second);
        put("; ");
        value(s.variable);
        put(" = ");
        value(s.third);
        break;
      case BlockKind::ForEach:
        put("for_each ");
        value(s.variable);
        put(" in ");
        if (s.array.empty()) {
          list(s.values);
        } else {
          value(s.array);
        }
        break;
      case BlockKind::Switch:
        put("switch ");
        value(s.first);
        if (s.unsafe) put(" unsafe");
        break;
      case BlockKind::Case:
        put("case ");
        value(s.first);
        break;
      case BlockKind::Default:
        put("default");
        break;
    }
    put(":\n");
    block(s.body, depth + 1);
    if (s.else_body) {
      line(depth);
      put("else:\n");
      block(*s.else_body, depth + 1);
    }
  }

  const NameTable& names_;
  std::ostream* stream_;
  std::vector<std::string> quoted_;
  std::string out_;
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
