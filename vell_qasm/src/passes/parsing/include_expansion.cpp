#include "vell_qasm/passes/parsing/include_expansion.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

#include "openqasm3/parser.hpp"
#include "vell_qasm/errors.hpp"

namespace vell_qasm::passes::parsing {

namespace ast = openqasm3::ast;

namespace {

std::string deep_inclusion_message(const std::vector<std::string>& files) {
  std::string message = "Max inclusion depth reached, included files:\n - ";
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i) message += "\n - ";
    message += files[i];
  }
  return message;
}

[[noreturn]] void unreadable(const std::string& filename, const std::string& what, int error) {
  throw std::filesystem::filesystem_error(what, std::filesystem::path(filename),
                                          std::error_code(error, std::generic_category()));
}

// Whether anything exists under the name. A name with a NUL byte would be cut short by the system,
// so it names nothing.
bool exists(const std::string& filename) {
  if (filename.find('\0') != std::string::npos) return false;
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::path(filename), ignored);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The whole content of a regular file. Opening does not wait (a FIFO without writer), and only a
// regular file is read, so a device or a FIFO can neither block nor feed bytes forever.
std::string read_whole_file(const std::string& filename) {
  FileDescriptor file(::open(filename.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (file.get() < 0) unreadable(filename, "cannot open the included file", errno);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) unreadable(filename, "cannot read the included file", errno);
  if (S_ISDIR(status.st_mode)) unreadable(filename, "cannot read the included file", EISDIR);
  if (!S_ISREG(status.st_mode))
    unreadable(filename, "cannot read the included file, which is not a regular file", EINVAL);

  std::string text;
  if (status.st_size > 0) text.reserve(static_cast<std::size_t>(status.st_size));
  char buffer[16384];
  while (true) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) return text;
    if (n < 0) {
      if (errno == EINTR) continue;
      unreadable(filename, "cannot read the included file", errno);
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// Gives every span of a tree (switch cases included) one file number.
class SpanFile : public ast::QASMVisitor {
 public:
  explicit SpanFile(int file) : QASMVisitor(ast::SwitchCases::enter), file_(file) {}
  void generic_visit(ast::QASMNode& node) override {
    if (node.span) node.span->file = file_;
    QASMVisitor::generic_visit(node);
  }

 private:
  int file_;
};

}  // namespace

DeepInclusionError::DeepInclusionError(std::vector<std::string> inclusion_files_)
    : inclusion_files(std::move(inclusion_files_)), _message(deep_inclusion_message(inclusion_files)) {}

IncludeFileDeclaresVersionException::IncludeFileDeclaresVersionException(std::string filename_)
    : filename(std::move(filename_)),
      _message("The included file " + filename + " declares a version, which is prohibited.") {}

IncludeLimitError::IncludeLimitError(std::string filename_, std::string message)
    : filename(std::move(filename_)), _message(std::move(message)) {}

std::string read_source_file(const std::string& filename) {
  if (!exists(filename)) throw FileNotFoundError("File " + filename + " not found");
  return read_whole_file(filename);
}

std::shared_ptr<ast::Program> parse_oq3_source_filename(const std::string& filename) {
  return openqasm3::parse(read_source_file(filename));
}

std::size_t IncludeExpansion::find_include(const std::vector<ast::NodePtr>& statements, std::size_t from) {
  const std::size_t size = statements.size();
  for (std::size_t i = from; i < size; ++i) {
    // Only the statement nodes are read, a few instructions each: a long program's are asked for
    // far ahead of the scan (16 places ahead arrived too late).
    if (i + 64 < size) __builtin_prefetch(statements[i + 64].get());
    if (ast::isa<ast::Include>(statements[i])) return i;
  }
  return size;
}

IncludeExpansion::IncludeExpansion(std::int64_t max_depth_)
    : Step(std::nullopt, "IncludeExpansion"), max_depth(max_depth_) {}

programs::ProgramPtr IncludeExpansion::operator()(const programs::ProgramPtr& program) {
  included_files_ = 0;
  included_bytes_ = 0;
  source_files_.assign(1, std::string());
  return std::make_shared<programs::OpenQasmProgram>(_parse_inclusions(programs::open_qasm_tree(program), {}));
}

void IncludeExpansion::count_included_file(const std::string& filename, std::size_t bytes) const {
  ++included_files_;
  // Saturates: two terms of at most INT64_MAX / 2 cannot overflow.
  included_bytes_ = std::min<std::int64_t>(
      INT64_MAX / 2, included_bytes_ + static_cast<std::int64_t>(std::min<std::size_t>(bytes, INT64_MAX / 2)));
  // A file's number is an int (Span::file).
  const std::int64_t max_files = std::min<std::int64_t>(max_included_files, INT_MAX);
  if (included_files_ > max_files)
    throw IncludeLimitError(filename, "Includes read more than " + std::to_string(max_files) +
                                          " files (the bound on included files), the last one " + filename);
  if (included_bytes_ > max_included_bytes)
    throw IncludeLimitError(filename, "Includes read more than " + std::to_string(max_included_bytes) +
                                          " bytes (the bound on included bytes), the last file " + filename);
}

std::shared_ptr<ast::Program> IncludeExpansion::get_sub_program(const std::string& filename) const {
  const std::string text = read_source_file(filename);
  count_included_file(filename, text.size());
  auto sub_program = openqasm3::parse(text);
  if (sub_program->version) throw IncludeFileDeclaresVersionException(filename);
  number_source_file(*sub_program, filename);
  return sub_program;
}

void IncludeExpansion::number_source_file(ast::Program& sub_program, std::string name) const {
  // Every file read was counted first, so the number stays within the bound on files.
  if (source_files_.empty()) source_files_.emplace_back();
  if (source_files_.size() > static_cast<std::size_t>(INT_MAX))
    throw IncludeLimitError(name, "Includes read more files than can be numbered, the last one " + name);
  const int number = static_cast<int>(source_files_.size());
  source_files_.push_back(std::move(name));
  SpanFile{number}.visit(sub_program);
}

std::shared_ptr<ast::Program> IncludeExpansion::_parse_inclusions(const std::shared_ptr<ast::Program>& program,
                                                                  const std::vector<std::string>& included_files) {
  check_inclusion_depth(included_files);
  return expand_includes(program, find_include(program->statements), included_files);
}

void IncludeExpansion::check_inclusion_depth(const std::vector<std::string>& included_files) const {
  if (static_cast<std::int64_t>(included_files.size()) > max_depth ||
      included_files.size() > kMaxInclusionNesting)
    throw DeepInclusionError(included_files);
}

std::shared_ptr<ast::Program> IncludeExpansion::expand_includes(const std::shared_ptr<ast::Program>& program,
                                                                std::size_t first,
                                                                const std::vector<std::string>& included_files) {
  // A program without includes (most of them, and every included file at the bottom) keeps its
  // list as it is. Otherwise the list is rebuilt aside, so that a failure leaves it untouched.
  if (first >= program->statements.size()) return program;
  const auto first_include = program->statements.begin() + static_cast<std::ptrdiff_t>(first);
  std::vector<ast::NodePtr> statements;
  statements.reserve(program->statements.size());
  statements.assign(program->statements.begin(), first_include);
  // The chain of the files one level down; only its last name changes from include to include.
  std::vector<std::string> sub_chain;
  for (auto it = first_include; it != program->statements.end(); ++it) {
    const ast::NodePtr& statement = *it;
    auto include = ast::dyn_cast<ast::Include>(statement);
    if (!include) {
      statements.push_back(statement);
      continue;
    }
    if (sub_chain.empty()) {
      sub_chain = included_files;
      sub_chain.emplace_back();
    }
    sub_chain.back() = include->filename;
    std::shared_ptr<ast::Program> sub_program;
    try {
      sub_program = _parse_inclusions(get_sub_program(include->filename), sub_chain);
    } catch (...) {
      // The include statement at fault: the innermost one, in the file that holds it.
      locate_failure(*include, included_files.empty() ? std::nullopt : std::optional(included_files.back()));
      throw;
    }
    statements.insert(statements.end(), sub_program->statements.begin(), sub_program->statements.end());
  }
  program->statements = std::move(statements);
  return program;
}

}  // namespace vell_qasm::passes::parsing
