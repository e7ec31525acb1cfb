#include "suite/user_access.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <vector>

namespace tav_suite {

namespace {

constexpr int kAllowed = 0;
constexpr int kRefused = 1;
constexpr int kNoIdentity = 2;

// Runs the test in a child that is the user; the parent keeps its own identity.
std::optional<bool> asUser(const TaskUserId& user, const std::function<bool()>& test) {
  if (geteuid() != 0) return std::nullopt;
  const pid_t pid = fork();
  if (pid == -1) return std::nullopt;
  if (pid == 0) {
    if (initgroups(user.name.c_str(), user.gid) != 0 || setgid(user.gid) != 0 ||
        setuid(user.uid) != 0) {
      _exit(kNoIdentity);
    }
    _exit(test() ? kAllowed : kRefused);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) return std::nullopt;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) == kNoIdentity) return std::nullopt;
  return WEXITSTATUS(status) == kAllowed;
}

}  // namespace

std::optional<TaskUserId> findUser(const std::string& name) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    return std::nullopt;
  }
  return TaskUserId{name, found->pw_uid, found->pw_gid};
}

std::optional<bool> userCanRead(const TaskUserId& user, const std::string& path) {
  return asUser(user, [&] {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd == -1) return false;
    close(fd);
    return true;
  });
}

std::optional<bool> userCanWriteInto(const TaskUserId& user, const std::string& dir) {
  return asUser(user, [&] { return access(dir.c_str(), W_OK | X_OK) == 0; });
}

}  // namespace tav_suite
