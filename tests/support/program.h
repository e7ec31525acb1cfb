// Starting a built program as a real child process: run to completion, or in the background
// while the test watches it. Both use posix_spawn with an explicit environment.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tav_test {

// Owns one file descriptor and closes it; move-only.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept;
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// An unnamed, close-on-exec temporary file; throws std::runtime_error when it cannot be made.
Fd temporaryFile();
// Everything in the file behind fd, read from its start.
std::string readWhole(int fd);

// What a child's standard streams are: a descriptor of the parent, or -1 for standard input
// from /dev/null and standard output and error inherited from the test.
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
};

// Starts argv[0] with the arguments and this process's environment plus (or overridden by)
// extraEnv. Returns the child's pid; throws std::runtime_error when it cannot start.
pid_t spawnProgram(const std::vector<std::string>& argv,
                   const std::map<std::string, std::string>& extraEnv, const ChildStreams& streams);

// Waits for the child (never any other) and returns its exit status, 128 + signal, or -1
// when it cannot be waited for.
int waitForChild(pid_t pid) noexcept;

// Runs the body in a forked child of this test and returns the body's result as the child's
// exit status, or 128 + signal; for steps that must run as another user or leave this
// process's state alone. Throws std::runtime_error when fork fails.
int runInChild(const std::function<int()>& body);

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// A program started in the background, standard input /dev/null and its output going to
// temporary files, so a chatty program never blocks on a full pipe. wait() reaps it; a program
// still running when the object goes away is killed and reaped.
class BackgroundProgram {
 public:
  explicit BackgroundProgram(const std::vector<std::string>& argv,
                             const std::map<std::string, std::string>& extraEnv = {});
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;

  pid_t pid() const { return pid_; }
  RunResult wait();

 private:
  Fd out_;
  Fd err_;
  pid_t pid_ = -1;
};

// Runs the program with the arguments (argv[0] is the program) and the extra environment
// entries to its end; standard input is /dev/null.
RunResult runProgram(const std::vector<std::string>& argv,
                     const std::map<std::string, std::string>& extraEnv = {});

// runProgram, with SIGCHLD ignored in the program from its start, as some supervisors and shells
// leave it (posix_spawn can only reset a signal to its default, so this one forks and execs).
RunResult runProgramIgnoringSigchld(const std::vector<std::string>& argv,
                                    const std::map<std::string, std::string>& extraEnv = {});

}  // namespace tav_test
