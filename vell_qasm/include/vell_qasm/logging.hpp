// One named logger per module ("vell_qasm.passes.pass_pipeline", ...), all writing to one shared
// sink that has no output of its own: the library never prints. The embedding application (or a
// test) attaches sinks to see the records.
//
// Records are handed over whole: callers build the text and log it with no format arguments
// (use logger->log(level, spdlog::string_view_t(text)) or the helpers below).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>
#include <type_traits>
#include <utility>

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

namespace vell_qasm::logging {

// The logger of a module, made on first use; the same object afterwards.
std::shared_ptr<spdlog::logger> get_logger(const std::string& name);

void add_sink(const spdlog::sink_ptr& sink);
void remove_sink(const spdlog::sink_ptr& sink);

inline void debug(spdlog::logger& logger, const std::string& text) {
  logger.log(spdlog::level::debug, spdlog::string_view_t(text));
}

namespace detail {
// How many sinks add_sink attached: none in a normal run, where every record is lost.
extern std::atomic<std::size_t> attached_sinks;
bool is_recorded_by_sinks(spdlog::level::level_enum level);
}  // namespace detail

// Whether an attached sink records `level`: without one, a record is lost before it is written.
// Inline, as steps ask it for every record they might make.
inline bool is_recorded(spdlog::level::level_enum level) {
  return detail::attached_sinks.load(std::memory_order_relaxed) != 0 && detail::is_recorded_by_sinks(level);
}

// A DEBUG record whose text is built by `make_text` only when some sink records DEBUG, for records
// that print subtrees.
template <class F>
  requires std::is_invocable_r_v<std::string, F>
void debug(spdlog::logger& logger, F&& make_text) {
  if (logger.should_log(spdlog::level::debug) && is_recorded(spdlog::level::debug))
    debug(logger, std::string(std::forward<F>(make_text)()));
}
inline void warning(spdlog::logger& logger, const std::string& text) {
  logger.log(spdlog::level::warn, spdlog::string_view_t(text));
}

// One captured log record.
struct Record {
  std::string logger;
  spdlog::level::level_enum level;
  std::string text;
  friend bool operator==(const Record&, const Record&) = default;
};

// Attaches a recording sink for its lifetime (tests use it to read the records).
class Capture {
 public:
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  std::vector<Record> records() const;
  // The records of one logger only.
  std::vector<Record> records(const std::string& logger) const;
  void clear();

 private:
  class Sink;
  std::shared_ptr<Sink> sink_;
};

}  // namespace vell_qasm::logging
