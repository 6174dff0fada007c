// Test-only: a scratch directory removed with everything in it when the test
// ends, a whole file read as bytes ("" when it cannot be read), and a step
// run as an unprivileged user.
#ifndef VELKOR_SUPPORT_TEST_SUPPORT_FILES_H_
#define VELKOR_SUPPORT_TEST_SUPPORT_FILES_H_

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
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

// Runs `step` as a user without privileges, so that permission bits mean for
// it what they mean for a user: as root (tests run as root in CI), in a
// child process that first gives the tree at `owned` to uid/gid 65534 and
// takes those ids; otherwise in this process. Returns what `step` returned.
inline std::string run_unprivileged(const std::string& owned, const std::function<std::string()>& step) {
  if (::geteuid() != 0) return step();
  constexpr uid_t kNobody = 65534;
  namespace fs = std::filesystem;
  if (::lchown(owned.c_str(), kNobody, kNobody) != 0) ADD_FAILURE() << "cannot chown " << owned;
  for (const auto& entry : fs::recursive_directory_iterator(owned)) {
    if (::lchown(entry.path().c_str(), kNobody, kNobody) != 0) ADD_FAILURE() << "cannot chown " << entry.path();
  }
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "(no pipe)";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    const std::string result = step();
    const bool sent = ::write(pipe_fds[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
    ::_exit(sent ? 0 : 3);
  }
  ::close(pipe_fds[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ADD_FAILURE() << "unprivileged step failed: " << status;
  return result;
}

}  // namespace velkor

#endif  // VELKOR_SUPPORT_TEST_SUPPORT_FILES_H_
