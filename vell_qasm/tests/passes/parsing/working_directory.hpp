// A fresh temporary directory that a test works in; the previous working directory is restored
// and the directory removed when the guard goes, also when the test fails.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace vell_qasm::testing {

class WorkingDirectory {
 public:
  WorkingDirectory() : previous_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vell-front-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    std::filesystem::current_path(dir_);
  }
  // Works in an existing directory, which is left in place.
  explicit WorkingDirectory(const std::filesystem::path& existing)
      : previous_(std::filesystem::current_path()), keep_(true) {
    std::filesystem::current_path(existing);
    dir_ = std::filesystem::current_path();
  }
  ~WorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    if (keep_) return;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(dir_, ignored);
  }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
  bool keep_ = false;
};

// Writes a text file, making its directories first.
inline void write_file(const std::filesystem::path& name, const std::string& text) {
  if (name.has_parent_path()) std::filesystem::create_directories(name.parent_path());
  std::ofstream(name) << text;
}

}  // namespace vell_qasm::testing
