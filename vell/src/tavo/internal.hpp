// Inner representation of the SDK layer: expression nodes, recorded statements, program state and
// the per-thread stack of open contexts. Private to the library.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vell/tavo.hpp"

namespace vell::tavo::detail {

struct VarInfo {
  std::uint64_t program_id = 0;
  std::string name;  // v0, v1, ... in its program
  DType dtype = DType::Int;
  bool is_array = false;
  std::int64_t size = 0;  // arrays only
  bool fed_by_input = false;
};

struct StreamInfo {
  std::uint64_t program_id = 0;
  std::string name;  // s0, s1, ...
};

enum class NodeKind { Variable, Array, Cell, Binary, Unary, Math, Cast };

struct ExprNode {
  NodeKind kind = NodeKind::Variable;
  DType dtype = DType::Int;
  int depth = 1;
  // The program whose variables the expression reads; 0 when it reads none.
  std::uint64_t program_id = 0;
  std::shared_ptr<const VarInfo> var;  // Variable, Array, Cell (the array)
  int op = 0;                          // BinaryOp, UnaryOp, MathFunction or CastKind
  Value lhs;                           // the operand; a cell's index
  Value rhs;
};

struct Block;
using BlockPtr = std::unique_ptr<Block>;

struct DeclareStmt {
  enum class Init { None, Scalar, List };
  std::shared_ptr<const VarInfo> var;
  Init init = Init::None;
  std::vector<Value> values;
  std::string input_name;  // set for an input-stream variable
};
struct AdvanceStmt {
  std::shared_ptr<const VarInfo> var;
};
struct DeclareStreamStmt {
  std::shared_ptr<const StreamInfo> stream;
};
struct AssignStmt {
  Expr target;
  Value value;
};
struct SaveStmt {
  Expr source;
  std::shared_ptr<const StreamInfo> stream;
};
struct SaveAllStmt {
  std::shared_ptr<const StreamInfo> stream;
  std::string tag;
};
struct AlignStmt {
  std::vector<std::string> elements;
};
struct PlayStmt {
  std::string pulse;
  std::string element;
  std::optional<Value> amplitude;
};
struct WaitStmt {
  Value cycles;
  std::vector<std::string> elements;
};
struct FrameRotationStmt {
  Value angle;
  std::string element;
};
struct MeasureStmt {
  std::string pulse;
  std::string element;
  Expr target;
};

enum class BlockKind { StreamProcessing, If, While, For, ForEach, Switch, Case, Default };

struct BlockStmt {
  BlockKind kind = BlockKind::If;
  Value first;   // condition, for's init, switch value, case value
  Value second;  // for's condition
  Value third;   // for's update
  Expr variable;  // for, for_each
  std::vector<Value> values;  // for_each over plain values
  Expr array;                 // for_each over an array
  bool unsafe = false;
  BlockPtr body;
  BlockPtr else_body;  // if, once else_ opened it
};

using Stmt = std::variant<DeclareStmt, AdvanceStmt, DeclareStreamStmt, AssignStmt, SaveStmt, SaveAllStmt,
                          AlignStmt, PlayStmt, WaitStmt, FrameRotationStmt, MeasureStmt, BlockStmt>;

struct Block {
  std::vector<Stmt> stmts;
};

struct ProgramState {
  explicit ProgramState(std::uint64_t id_) : id(id_) {}
  const std::uint64_t id;
  std::atomic<bool> entered{false};
  std::atomic<std::size_t> entries{0};
  // Writers hold it while they change the tree; the entering thread alone writes, so it reads
  // without it. A reader on another thread (a listing) holds it.
  mutable std::mutex mutex;
  std::uint32_t next_var = 0;
  std::uint32_t next_stream = 0;
  Block root;
};

enum class FrameKind { Program, Block, Switch, StreamProcessing };

struct Frame {
  std::uint64_t token = 0;
  FrameKind kind = FrameKind::Program;
  std::shared_ptr<ProgramState> program;
  Block* block = nullptr;  // where statements go
  DType value_type = DType::Int;  // a switch's: the type its case values must fit
};

// The contexts open on this thread, outermost first; the first is always a program.
std::vector<Frame>& open_frames();
std::uint64_t next_token();

struct Access {
  static Expr expr(std::shared_ptr<const ExprNode> node) { return Expr(std::move(node)); }
  static ScopeGuard guard(std::uint64_t token) { return ScopeGuard(token); }
  static Program program(std::shared_ptr<ProgramState> state) { return Program(std::move(state)); }
  static const std::shared_ptr<ProgramState>& state(const Program& p) { return p.state_; }
  static ProgramScope scope(std::shared_ptr<ProgramState> state) { return ProgramScope(std::move(state)); }
  static ResultStreamSource stream(std::shared_ptr<const StreamInfo> info) {
    return ResultStreamSource(std::move(info));
  }
  static const std::shared_ptr<const StreamInfo>& info(const ResultStreamSource& s) { return s.info_; }
};

// Text helpers shared by the expression code and the listing.
std::string fixed_text(double value);
std::string quoted(std::string_view text);
void append_text(std::string& out, const Value& value);

// The first variable read by `value` that does not belong to `program_id`, or null.
const VarInfo* foreign_variable(const Value& value, std::uint64_t program_id);

}  // namespace vell::tavo::detail
