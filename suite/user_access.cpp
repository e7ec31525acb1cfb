#include "suite/user_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace tav_suite {

namespace {

constexpr char kAllowed = 'y';
constexpr char kRefused = 'n';
constexpr char kUnknown = '?';

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n == -1 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The names OpenSSL looks a CA up by in a hashed folder: eight hex digits, ".", a number
// ("5ed36f99.0"), with "r" before the number for a revocation list.
bool isHashedName(const std::string& name) {
  if (name.size() < 10 || name[8] != '.') return false;
  for (std::size_t i = 0; i < 8; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  std::size_t digits = name[9] == 'r' ? 10 : 9;
  if (digits >= name.size()) return false;
  for (; digits < name.size(); ++digits) {
    if (!std::isdigit(static_cast<unsigned char>(name[digits]))) return false;
  }
  return true;
}

// The folder's hashed names, listed while still root: the user needs to search the folder, not
// to list it.
std::vector<std::string> hashedNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return names;
  while (const dirent* item = readdir(folder)) {
    if (isHashedName(item->d_name)) names.emplace_back(item->d_name);
  }
  closedir(folder);
  return names;
}

bool canOpen(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1) return false;
  close(fd);
  return true;
}

// In a child of the helper: takes on the user and tries the access.
[[noreturn]] void tryAs(char question, const std::string& name, uid_t uid, gid_t gid,
                        const std::string& path) {
  const std::vector<std::string> hashed =
      question == 'd' ? hashedNames(path) : std::vector<std::string>{};
  if (initgroups(name.c_str(), gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(2);
  if (question == 'r') _exit(canOpen(path) ? 0 : 1);
  if (question == 'd') {
    if (access(path.c_str(), X_OK) != 0) _exit(1);
    for (const std::string& file : hashed) {
      if (!canOpen(path + "/" + file)) _exit(1);
    }
    _exit(0);
  }
  if (question == 'x') _exit(access(path.c_str(), X_OK) == 0 ? 0 : 1);
  _exit(access(path.c_str(), W_OK | X_OK) == 0 ? 0 : 1);
}

char answer(char question, const std::string& name, uid_t uid, gid_t gid, const std::string& path) {
  const pid_t pid = fork();
  if (pid == -1) return kUnknown;
  if (pid == 0) tryAs(question, name, uid, gid, path);
  int status = 0;
  while (waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) return kUnknown;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return kUnknown;
  return WEXITSTATUS(status) == 0 ? kAllowed : kRefused;
}

// The helper's loop: questions "Q UID GID NAMELEN PATHLEN\n" followed by exactly that many
// bytes of name and path in, one answer byte out, until the checker closes its end. The
// lengths frame the texts, so no byte in a name or path can shift a later question.
[[noreturn]] void serve(int in, int out) {
  FILE* questions = fdopen(in, "r");
  if (questions == nullptr) _exit(1);
  char* head = nullptr;
  std::size_t headSize = 0;
  const auto text = [&](std::size_t length) -> std::optional<std::string> {
    std::string value(length, '\0');
    if (length > 0 && std::fread(value.data(), 1, length, questions) != length) return std::nullopt;
    return value;
  };
  while (getline(&head, &headSize, questions) > 0) {
    char question = 0;
    unsigned long uid = 0;
    unsigned long gid = 0;
    std::size_t nameLength = 0;
    std::size_t pathLength = 0;
    if (std::sscanf(head, "%c %lu %lu %zu %zu", &question, &uid, &gid, &nameLength, &pathLength) !=
        5) {
      _exit(1);
    }
    const auto name = text(nameLength);
    const auto path = name ? text(pathLength) : std::nullopt;
    if (!path) _exit(1);
    const char reply =
        answer(question, *name, static_cast<uid_t>(uid), static_cast<gid_t>(gid), *path);
    if (!writeAll(out, std::string(1, reply))) _exit(1);
  }
  _exit(0);
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

std::size_t hashedCertificateCount(const std::string& dir) {
  std::size_t count = 0;
  for (const std::string& name : hashedNames(dir)) count += name[9] == 'r' ? 0 : 1;
  return count;
}

AccessProbe::AccessProbe() {
  if (geteuid() != 0) return;
  // An ignored SIGCHLD, inherited by the helper, would have the kernel reap its children before
  // their answers are read.
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigaction(SIGCHLD, &defaultAction, nullptr);
  int questions[2];
  int answers[2];
  if (pipe2(questions, O_CLOEXEC) != 0) return;
  if (pipe2(answers, O_CLOEXEC) != 0) {
    close(questions[0]);
    close(questions[1]);
    return;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(questions[1]);
    close(answers[0]);
    serve(questions[0], answers[1]);
  }
  close(questions[0]);
  close(answers[1]);
  if (pid == -1) {
    close(questions[1]);
    close(answers[0]);
    return;
  }
  pid_ = pid;
  toHelper_ = questions[1];
  fromHelper_ = answers[0];
}

AccessProbe::~AccessProbe() {
  if (pid_ == -1) return;
  close(toHelper_);
  close(fromHelper_);
  int status = 0;
  while (waitpid(pid_, &status, 0) == -1 && errno == EINTR) {
  }
}

std::optional<bool> AccessProbe::ask(char question, const TaskUserId& user,
                                     const std::string& path) {
  if (pid_ == -1) return std::nullopt;
  std::string message =
      fmt::format("{} {} {} {} {}\n", question, user.uid, user.gid, user.name.size(), path.size());
  message += user.name;
  message += path;
  // A helper that is gone must not end the checker with SIGPIPE.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  char reply = kUnknown;
  ssize_t n = -1;
  if (writeAll(toHelper_, message)) {
    do {
      n = read(fromHelper_, &reply, 1);
    } while (n == -1 && errno == EINTR);
  }
  sigaction(SIGPIPE, &previous, nullptr);
  if (n != 1 || reply == kUnknown) return std::nullopt;
  return reply == kAllowed;
}

std::optional<bool> AccessProbe::canRead(const TaskUserId& user, const std::string& path) {
  return ask('r', user, path);
}

std::optional<bool> AccessProbe::canSearch(const TaskUserId& user, const std::string& dir) {
  return ask('x', user, dir);
}

std::optional<bool> AccessProbe::canWriteInto(const TaskUserId& user, const std::string& dir) {
  return ask('w', user, dir);
}

std::optional<bool> AccessProbe::canUseCaFolder(const TaskUserId& user, const std::string& dir) {
  return ask('d', user, dir);
}

}  // namespace tav_suite
