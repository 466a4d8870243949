#include "vell_test/golden.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace vell_test {

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void expect_golden_file(const std::filesystem::path& path, const std::string& actual) {
  if (const char* update = std::getenv("VELL_UPDATE_GOLDEN"); update != nullptr && std::string_view(update) == "1") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "missing golden file " << path << "; create it with VELL_UPDATE_GOLDEN=1";
    return;
  }
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(expected.str(), actual) << "differs from " << path
                                    << "; refresh with VELL_UPDATE_GOLDEN=1 if the change is intended";
}

}  // namespace vell_test
