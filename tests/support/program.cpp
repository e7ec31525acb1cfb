#include "tests/support/program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace tav_test {

Fd::Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) reset(std::exchange(other.fd_, -1));
  return *this;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

Fd temporaryFile() {
  std::string name = (std::filesystem::temp_directory_path() / "tav-test-run-XXXXXX").string();
  // Close-on-exec keeps one run's output files out of programs started meanwhile.
  Fd fd(mkostemp(name.data(), O_CLOEXEC));
  if (!fd) {
    throw std::runtime_error("cannot create a temporary file " + name + ": " +
                             std::strerror(errno));
  }
  unlink(name.c_str());
  return fd;
}

std::string readWhole(int fd) {
  std::string text;
  if (lseek(fd, 0, SEEK_SET) != 0) return text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

namespace {

// "KEY=value" entries: the current environment with the extra entries set over it.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& extraEnv) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!extraEnv.contains(text.substr(0, text.find('=')))) entries.push_back(text);
  }
  for (const auto& [key, value] : extraEnv) entries.push_back(key + "=" + value);
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// posix_spawn_file_actions_t, destroyed at the end of the scope.
class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

pid_t spawnProgram(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& extraEnv,
                   const ChildStreams& streams) {
  if (argv.empty()) throw std::invalid_argument("spawnProgram needs a program");
  std::vector<std::string> args = argv;
  std::vector<std::string> env = environmentWith(extraEnv);
  std::vector<char*> argPointers = pointers(args);
  std::vector<char*> envPointers = pointers(env);

  FileActions actions;
  int failed = 0;
  if (streams.in >= 0) {
    failed |= posix_spawn_file_actions_adddup2(actions.get(), streams.in, 0);
  } else {
    failed |= posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  }
  if (streams.out >= 0) failed |= posix_spawn_file_actions_adddup2(actions.get(), streams.out, 1);
  if (streams.err >= 0) failed |= posix_spawn_file_actions_adddup2(actions.get(), streams.err, 2);
  if (failed != 0) throw std::runtime_error("cannot set up the streams of " + argv[0]);

  pid_t pid = -1;
  const int error = posix_spawn(&pid, args[0].c_str(), actions.get(), nullptr, argPointers.data(),
                                envPointers.data());
  if (error != 0) {
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
  }
  return pid;
}

int waitForChild(pid_t pid) noexcept {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int runInChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
  if (pid == 0) _exit(body());
  return waitForChild(pid);
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv,
                                     const std::map<std::string, std::string>& extraEnv)
    : out_(temporaryFile()), err_(temporaryFile()) {
  pid_ = spawnProgram(argv, extraEnv, {-1, out_.get(), err_.get()});
}

BackgroundProgram::~BackgroundProgram() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitForChild(pid_);
}

RunResult BackgroundProgram::wait() {
  RunResult result;
  if (pid_ <= 0) return result;
  const pid_t pid = std::exchange(pid_, -1);
  result.status = waitForChild(pid);
  result.out = readWhole(out_.get());
  result.err = readWhole(err_.get());
  return result;
}

RunResult runProgram(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnv) {
  return BackgroundProgram(argv, extraEnv).wait();
}

RunResult runProgramIgnoringSigchld(const std::vector<std::string>& argv,
                                    const std::map<std::string, std::string>& extraEnv) {
  if (argv.empty()) throw std::invalid_argument("runProgramIgnoringSigchld needs a program");
  Fd out = temporaryFile();
  Fd err = temporaryFile();
  std::vector<std::string> args = argv;
  std::vector<std::string> env = environmentWith(extraEnv);
  std::vector<char*> argPointers = pointers(args);
  std::vector<char*> envPointers = pointers(env);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork failed: ") + std::strerror(errno));
  if (pid == 0) {
    // An ignored disposition survives execve; only the calls between fork and exec run here.
    signal(SIGCHLD, SIG_IGN);
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out.get(), 1) < 0 || dup2(err.get(), 2) < 0) _exit(127);
    execve(argPointers[0], argPointers.data(), envPointers.data());
    _exit(127);
  }
  RunResult result;
  result.status = waitForChild(pid);
  result.out = readWhole(out.get());
  result.err = readWhole(err.get());
  return result;
}

}  // namespace tav_test
