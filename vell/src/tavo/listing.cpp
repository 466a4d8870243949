// The text listing of a recorded program (grammar in program.hpp).
#include <mutex>

#include "internal.hpp"

namespace vell::tavo {

using namespace detail;

namespace {

class Lister {
 public:
  std::string take() { return std::move(out_); }

  void block(const Block& block, int depth) {
    if (block.stmts.empty()) {
      line(depth);
      out_ += "pass\n";
      return;
    }
    for (const Stmt& stmt : block.stmts) {
      std::visit([&](const auto& s) { statement(s, depth); }, stmt);
    }
  }

 private:
  void line(int depth) { out_.append(static_cast<std::size_t>(depth) * 2, ' '); }

  void value(const Value& v) { append_text(out_, v); }

  void list(const std::vector<Value>& values) {
    out_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) out_ += ", ";
      value(values[i]);
    }
    out_ += ']';
  }

  void type(const VarInfo& var) {
    out_ += dtype_name(var.dtype);
    if (var.is_array) out_ += '[' + std::to_string(var.size) + ']';
  }

  void statement(const DeclareStmt& s, int depth) {
    line(depth);
    out_ += s.input_name.empty() ? "declare " : "declare_input_stream ";
    out_ += s.var->name;
    out_ += ": ";
    type(*s.var);
    if (s.init == DeclareStmt::Init::Scalar) {
      out_ += " = ";
      value(s.values.front());
    } else if (s.init == DeclareStmt::Init::List) {
      out_ += " = ";
      list(s.values);
    }
    if (!s.input_name.empty()) out_ += " from " + quoted(s.input_name);
    out_ += '\n';
  }

  void statement(const AdvanceStmt& s, int depth) {
    line(depth);
    out_ += "advance_input_stream " + s.var->name + '\n';
  }

  void statement(const DeclareStreamStmt& s, int depth) {
    line(depth);
    out_ += "declare_stream " + s.stream->name + '\n';
  }

  void statement(const AssignStmt& s, int depth) {
    line(depth);
    out_ += "assign ";
    value(s.target);
    out_ += " = ";
    value(s.value);
    out_ += '\n';
  }

  void statement(const SaveStmt& s, int depth) {
    line(depth);
    out_ += "save ";
    value(s.source);
    out_ += " -> " + s.stream->name + '\n';
  }

  void statement(const SaveAllStmt& s, int depth) {
    line(depth);
    out_ += "save_all " + s.stream->name + ' ' + quoted(s.tag) + '\n';
  }

  void statement(const AlignStmt& s, int depth) {
    line(depth);
    out_ += "align ";
    elements(s.elements);
    out_ += '\n';
  }

  void elements(const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out_ += ", ";
      out_ += quoted(names[i]);
    }
  }

  void statement(const PlayStmt& s, int depth) {
    line(depth);
    out_ += "play " + quoted(s.pulse);
    if (s.amplitude) {
      out_ += " * ";
      value(*s.amplitude);
    }
    out_ += " on " + quoted(s.element) + '\n';
  }

  void statement(const WaitStmt& s, int depth) {
    line(depth);
    out_ += "wait ";
    value(s.cycles);
    out_ += " on ";
    elements(s.elements);
    out_ += '\n';
  }

  void statement(const FrameRotationStmt& s, int depth) {
    line(depth);
    out_ += "frame_rotation ";
    value(s.angle);
    out_ += " on " + quoted(s.element) + '\n';
  }

  void statement(const MeasureStmt& s, int depth) {
    line(depth);
    out_ += "measure " + quoted(s.pulse) + " on " + quoted(s.element) + " -> ";
    value(s.target);
    out_ += '\n';
  }

  void statement(const BlockStmt& s, int depth) {
    line(depth);
    switch (s.kind) {
      case BlockKind::StreamProcessing:
        out_ += "stream_processing";
        break;
      case BlockKind::If:
        out_ += "if ";
        value(s.first);
        break;
      case BlockKind::While:
        out_ += "while ";
        value(s.first);
        break;
      case BlockKind::For:
        out_ += "for ";
        value(s.variable);
        out_ += " = ";
        value(s.first);
        out_ += "; ";
        value(s.second);
        out_ += "; ";
        value(s.variable);
        out_ += " = ";
        value(s.third);
        break;
      case BlockKind::ForEach:
        out_ += "for_each ";
        value(s.variable);
        out_ += " in ";
        if (s.array.empty()) {
          list(s.values);
        } else {
          value(s.array);
        }
        break;
      case BlockKind::Switch:
        out_ += "switch ";
        value(s.first);
        if (s.unsafe) out_ += " unsafe";
        break;
      case BlockKind::Case:
        out_ += "case ";
        value(s.first);
        break;
      case BlockKind::Default:
        out_ += "default";
        break;
    }
    out_ += ":\n";
    block(*s.body, depth + 1);
    if (s.else_body) {
      line(depth);
      out_ += "else:\n";
      block(*s.else_body, depth + 1);
    }
  }

  std::string out_;
};

}  // namespace

std::string Program::listing() const {
  std::lock_guard lock(state_->mutex);
  if (state_->root.stmts.empty()) return {};
  Lister lister;
  lister.block(state_->root, 0);
  return lister.take();
}

}  // namespace vell::tavo
