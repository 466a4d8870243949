#include "vell_qasm/logging.hpp"

#include <atomic>
#include <map>

#include <spdlog/sinks/dist_sink.h>

namespace vell_qasm::logging {

constinit std::atomic<std::size_t> detail::attached_sinks{0};

namespace {
struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<spdlog::logger>, std::less<>> loggers;
  std::shared_ptr<spdlog::sinks::dist_sink_mt> sink = std::make_shared<spdlog::sinks::dist_sink_mt>();
  // The sinks attached through add_sink, read by is_recorded (detail::attached_sinks counts them,
  // sparing the lock when there are none, as in a normal run).
  std::vector<spdlog::sink_ptr> sinks;
};
Registry& registry() {
  static Registry r;
  return r;
}
}  // namespace

std::shared_ptr<spdlog::logger> get_logger(const std::string& name) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.loggers.find(name);
  if (it != r.loggers.end()) return it->second;
  auto logger = std::make_shared<spdlog::logger>(name, r.sink);
  logger->set_level(spdlog::level::trace);
  r.loggers.emplace(name, logger);
  return logger;
}

void add_sink(const spdlog::sink_ptr& sink) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.sink->add_sink(sink);
  r.sinks.push_back(sink);
  detail::attached_sinks = r.sinks.size();
}
void remove_sink(const spdlog::sink_ptr& sink) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.sink->remove_sink(sink);
  std::erase(r.sinks, sink);
  detail::attached_sinks = r.sinks.size();
}

bool detail::is_recorded_by_sinks(spdlog::level::level_enum level) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  for (const auto& sink : r.sinks)
    if (sink->should_log(level)) return true;
  return false;
}

class Capture::Sink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<Record> records() {
    std::lock_guard lock(mutex_);
    return records_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    records_.push_back({std::string(msg.logger_name.data(), msg.logger_name.size()), msg.level,
                        std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}

 private:
  std::vector<Record> records_;
};

Capture::Capture() : sink_(std::make_shared<Sink>()) { add_sink(sink_); }
Capture::~Capture() { remove_sink(sink_); }
std::vector<Record> Capture::records() const { return sink_->records(); }
std::vector<Record> Capture::records(const std::string& logger) const {
  std::vector<Record> out;
  for (auto& r : sink_->records())
    if (r.logger == logger) out.push_back(r);
  return out;
}
void Capture::clear() { sink_->clear(); }

}  // namespace vell_qasm::logging
