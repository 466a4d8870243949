// vell-qasmc: the example embedding application of the compiler.
//
//   vell-qasmc parse FILE    parse FILE (or "-" for standard input) and print its syntax tree
//                            as OpenQASM 3 source
//
// Each subcommand is one function taking its parsed options; add a subcommand by adding one
// register_* function and calling it from main.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <sstream>
#include <string>

#include "openqasm3/parser.hpp"
#include "openqasm3/printer.hpp"

namespace {

// Reads a whole file, or standard input for "-". Returns false with a message when it cannot.
// Only a regular file is read: opening does not wait (a FIFO without writer), and a device such
// as /dev/zero cannot feed bytes forever.
bool read_source(const std::string& path, std::string& text, std::string& error) {
  if (path == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    if (std::cin.bad()) {
      error = "cannot read standard input";
      return false;
    }
    text = buffer.str();
    return true;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = "cannot open '" + path + "'";
    return false;
  }
  struct stat status {};
  bool ok = ::fstat(fd, &status) == 0;
  if (ok && S_ISDIR(status.st_mode)) {
    error = "cannot read '" + path + "': it is a directory";
    ok = false;
  } else if (ok && !S_ISREG(status.st_mode)) {
    error = "cannot read '" + path + "': it is not a regular file";
    ok = false;
  } else if (!ok) {
    error = "cannot read '" + path + "'";
  }
  if (ok && status.st_size > 0) text.reserve(static_cast<std::size_t>(status.st_size));
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "cannot read '" + path + "'";
      ok = false;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ok;
}

std::string display_name(const std::string& path) { return path == "-" ? "<stdin>" : path; }

struct ParseOptions {
  std::string file;
};

int run_parse(const ParseOptions& options) {
  std::string text, error;
  if (!read_source(options.file, text, error)) {
    std::cerr << "vell-qasmc: error: " << error << "\n";
    return 1;
  }
  try {
    auto program = openqasm3::parse(text);
    std::cout << openqasm3::dumps(*program);
    return 0;
  } catch (const openqasm3::QASM3ParsingError& e) {
    std::cerr << display_name(options.file) << ":" << e.line << ":" << e.column << ": error: " << e.message << "\n";
    return 1;
  }
}

void register_parse(CLI::App& app, int& status) {
  auto options = std::make_shared<ParseOptions>();
  CLI::App* cmd = app.add_subcommand("parse", "Parse an OpenQASM 3 program and print its syntax tree as source");
  cmd->add_option("FILE", options->file, "source file, or - for standard input")->required();
  cmd->callback([options, &status] { status = run_parse(*options); });
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vell-qasmc: OpenQASM 3 to TAVO compiler"};
  app.require_subcommand(1);
  int status = 0;
  register_parse(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::cerr << "vell-qasmc: error: " << e.what() << "\n";
    return 1;
  }
  return status;
}
