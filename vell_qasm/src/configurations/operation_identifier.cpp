#include "vell_qasm/configurations/operation_identifier.hpp"

#include <charconv>

#include "vell_qasm/errors.hpp"

namespace vell_qasm::configurations {

namespace {

bool is_name_start(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u >= 0x80;
}
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool is_name(std::string_view s) {
  if (s.empty() || !is_name_start(s[0])) return false;
  for (char c : s)
    if (!is_name_char(c)) return false;
  return true;
}

void append_head(std::string& out, std::string_view name, std::size_t number_of_params) {
  out += name;
  if (number_of_params != 0) {
    out += '(';
    out += std::to_string(number_of_params);
    out += ')';
  }
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  OperationIdentifier read() {
    skip_blanks();
    std::size_t start = pos_;
    if (at_end() || !is_name_start(text_[pos_])) fail("an operation name");
    while (!at_end() && is_name_char(text_[pos_])) ++pos_;
    std::string name(text_.substr(start, pos_ - start));

    std::size_t number_of_params = 0;
    skip_blanks();
    if (accept('(')) {
      skip_blanks();
      number_of_params = read_number<std::size_t>("the number of parameters");
      skip_blanks();
      if (!accept(')')) fail("')' after the number of parameters");
    }

    std::vector<OperationIdentifier::QubitSlot> qubits;
    bool varying = false;
    skip_blanks();
    if (!at_end()) {
      for (;;) {
        if (text_.substr(pos_, 3) == "...") {
          pos_ += 3;
          varying = true;
          skip_blanks();
          if (!at_end()) fail("the end of the text after '...'");
          break;
        }
        if (accept('?')) {
          qubits.emplace_back(std::nullopt);
        } else if (accept('$')) {
          qubits.emplace_back(read_number<HwQubitIndex>("the index of a hardware qubit after '$'"));
        } else {
          fail("a qubit ('$' and an index, or '?') or '...'");
        }
        skip_blanks();
        if (at_end()) break;
        if (!accept(',')) fail("',' between qubits");
        skip_blanks();
      }
    }
    return OperationIdentifier(std::move(name), number_of_params, std::move(qubits), varying);
  }

 private:
  bool at_end() const { return pos_ >= text_.size(); }
  void skip_blanks() {
    while (!at_end() && is_blank(text_[pos_])) ++pos_;
  }
  bool accept(char c) {
    if (at_end() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  template <class N>
  N read_number(const char* what) {
    std::size_t start = pos_;
    while (!at_end() && is_digit(text_[pos_])) ++pos_;
    if (start == pos_) fail(what);
    N value{};
    auto [end, ec] = std::from_chars(text_.data() + start, text_.data() + pos_, value);
    if (ec != std::errc() || end != text_.data() + pos_) {
      pos_ = start;
      fail(std::string(what) + " small enough to be held in 64 bits");
    }
    return value;
  }

  [[noreturn]] void fail(const std::string& expected) const {
    std::string where = at_end() ? "at the end" : "at column " + std::to_string(pos_ + 1);
    throw ValueError("Malformed operation identifier '" + std::string(text_) + "': expected " + expected + " " + where +
                     " (form: name(count) qubit, ..., with a qubit written $index or ?, and a "
                     "trailing ... for any number of further qubits)");
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string OperationCandidate::text() const {
  std::string out;
  append_head(out, name, number_of_params);
  for (std::size_t i = 0; i < qubits.size(); ++i) {
    out += i ? ", $" : " $";
    out += std::to_string(qubits[i]);
  }
  return out;
}

OperationIdentifier::OperationIdentifier(std::string name, std::size_t number_of_params, std::vector<QubitSlot> qubits,
                                         bool is_varying_number_of_qubits)
    : name_(std::move(name)),
      number_of_params_(number_of_params),
      qubits_(std::move(qubits)),
      varying_(is_varying_number_of_qubits) {
  // Calls carry OpenQASM names; an identifier under any other name could never be resolved.
  if (!is_name(name_)) throw ValueError("Operation name '" + name_ + "' is not an OpenQASM identifier");
}

OperationIdentifier OperationIdentifier::create_from_string(std::string_view text) { return Reader(text).read(); }

std::size_t OperationIdentifier::number_of_parametric_qubits() const {
  std::size_t n = 0;
  for (const auto& slot : qubits_)
    if (!slot) ++n;
  return n;
}

bool OperationIdentifier::matches(const OperationCandidate& candidate) const {
  if (candidate.name != name_ || candidate.number_of_params != number_of_params_) return false;
  if (varying_ ? candidate.qubits.size() < qubits_.size() : candidate.qubits.size() != qubits_.size()) return false;
  for (std::size_t i = 0; i < qubits_.size(); ++i)
    if (qubits_[i] && *qubits_[i] != candidate.qubits[i]) return false;
  return true;
}

std::vector<HwQubitIndex> OperationIdentifier::get_parametric_qubits(std::span<const HwQubitIndex> hw_qubits) const {
  bool fits = varying_ ? hw_qubits.size() >= qubits_.size() : hw_qubits.size() == qubits_.size();
  for (std::size_t i = 0; fits && i < qubits_.size(); ++i) fits = !qubits_[i] || *qubits_[i] == hw_qubits[i];
  if (!fits) {
    OperationCandidate call(name_, hw_qubits, number_of_params_);
    throw ValueError("The qubits of " + call.text() + " do not fit the operation identifier " + text());
  }
  std::vector<HwQubitIndex> out;
  out.reserve(hw_qubits.size());
  for (std::size_t i = 0; i < hw_qubits.size(); ++i)
    if (i >= qubits_.size() || !qubits_[i]) out.push_back(hw_qubits[i]);
  return out;
}

std::string OperationIdentifier::text() const {
  std::string out;
  append_head(out, name_, number_of_params_);
  for (std::size_t i = 0; i < qubits_.size(); ++i) {
    out += i ? ", " : " ";
    out += qubits_[i] ? "$" + std::to_string(*qubits_[i]) : "?";
  }
  if (varying_) out += qubits_.empty() ? " ..." : ", ...";
  return out;
}

}  // namespace vell_qasm::configurations

std::size_t std::hash<vell_qasm::configurations::OperationIdentifier>::operator()(
    const vell_qasm::configurations::OperationIdentifier& id) const noexcept {
  std::size_t h = std::hash<std::string>()(id.name());
  auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
  mix(id.number_of_params());
  mix(id.is_varying_number_of_qubits());
  for (const auto& slot : id.qubits()) mix(slot ? std::hash<std::int64_t>()(*slot) : 0x5bd1e995U);
  return h;
}
