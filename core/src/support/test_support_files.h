// Test-only: a scratch directory removed with everything in it when the test
// ends, and a whole file read as bytes ("" when it cannot be read).
#ifndef VELKOR_SUPPORT_TEST_SUPPORT_FILES_H_
#define VELKOR_SUPPORT_TEST_SUPPORT_FILES_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velkor {

class TempDir {
 public:
  TempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "velkor-test-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "cannot create " << name;
    path_ = std::filesystem::weakly_canonical(name).string();
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace velkor

#endif  // VELKOR_SUPPORT_TEST_SUPPORT_FILES_H_
