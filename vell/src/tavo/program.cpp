#include "vell/tavo/program.hpp"

#include <atomic>
#include <utility>

#include "internal.hpp"
#include "vell/tavo/errors.hpp"

namespace vell::tavo {

namespace detail {
namespace {

// The open contexts of one thread. A thread that ends with a program scope still entered
// releases the scope, so that it can be entered again elsewhere.
struct ThreadFrames {
  std::vector<Frame> frames;
  ~ThreadFrames() {
    if (!frames.empty()) frames.front().program->entered.store(false);
  }
};

thread_local ThreadFrames tls_frames;
std::atomic<std::uint64_t> last_token{0};
std::atomic<std::uint64_t> last_program{0};

}  // namespace

std::vector<Frame>& open_frames() { return tls_frames.frames; }
std::uint64_t next_token() { return ++last_token; }

}  // namespace detail

ScopeGuard::ScopeGuard(ScopeGuard&& other) noexcept : token_(std::exchange(other.token_, 0)) {}

ScopeGuard::~ScopeGuard() { close(); }

void ScopeGuard::close() noexcept {
  const std::uint64_t token = std::exchange(token_, 0);
  if (token == 0) return;
  auto& frames = detail::open_frames();
  std::size_t at = frames.size();
  while (at > 0 && frames[at - 1].token != token) --at;
  if (at == 0) return;  // already closed with an outer context, or opened on another thread
  if (at == 1) frames.front().program->entered.store(false);
  frames.resize(at - 1);
}

bool ScopeGuard::is_open() const noexcept {
  if (token_ == 0) return false;
  for (const auto& frame : detail::open_frames()) {
    if (frame.token == token_) return true;
  }
  return false;
}

bool Program::empty() const {
  std::lock_guard lock(state_->mutex);
  return state_->root.empty();
}

ScopeGuard ProgramScope::enter() const {
  auto& frames = detail::open_frames();
  if (!frames.empty()) {
    throw TavoScopeError("enter", "a program scope is already entered on this thread");
  }
  if (state_->entered.exchange(true)) {
    throw TavoScopeError("enter", "this program scope is already entered on another thread");
  }
  ++state_->entries;
  const std::uint64_t token = detail::next_token();
  frames.push_back({token, detail::FrameKind::Program, state_, &state_->root});
  return detail::Access::guard(token);
}

Program ProgramScope::program() const { return detail::Access::program(state_); }
bool ProgramScope::is_entered() const { return state_->entered.load(); }
std::size_t ProgramScope::entry_count() const { return state_->entries.load(); }

ProgramScope program() {
  return detail::Access::scope(std::make_shared<detail::ProgramState>(++detail::last_program));
}

bool is_inside_scope() { return !detail::open_frames().empty(); }

}  // namespace vell::tavo
