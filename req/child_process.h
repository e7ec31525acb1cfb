// One task's child process: forked by the runner, it takes on the task's identity in the
// child and runs the task function there; the parent later reaps it.
#pragma once

#include <spdlog/common.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

namespace tav_req {

using Environment = std::unordered_map<std::string, std::string>;

// The identity a child takes on; the password stays out of it.
struct ChildUser {
  std::string name;
  std::uint8_t macLevel = 0;
  std::uint32_t macCategories = 0;
};

// Owns one child process from start until it is reaped.
class ChildProcess {
 public:
  ChildProcess(std::string logDir, spdlog::level::level_enum logLevel, Environment env);
  // Reaps a child that is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Forks; returns in the parent only. In the child: catch the interrupting signals, release
  // the inherited label state, close every inherited descriptor, open the child log, switch
  // identity, ask for SIGTERM when the parent dies, set the environment, run the task and exit
  // with 0 when it returned true, else 1. Does nothing when already started; a failed fork is
  // logged at error level with the user, the label and the reason, and leaves the handle not
  // started.
  void start(const ChildUser& user, const std::function<bool()>& task);

  // -1 when not started or already reaped.
  int pid() const { return pid_; }

  // True when the child exited with status 0; false when it failed, was killed, was never
  // started or was reaped before. A failed waitpid is logged once with its reason, and the
  // child is not waited for again.
  bool wait();

  // wait without blocking: nothing while the child runs, else what wait returns.
  std::optional<bool> tryWait();

  // Whether the child has ended, without reaping it: nothing while it runs, true when it
  // exited with status 0, false otherwise (a child never started or already reaped included:
  // then as its reaped status says).
  std::optional<bool> ended() const;

  // The status waitpid gave for the reaped child; nothing before it was reaped.
  std::optional<int> waitStatus() const { return waitStatus_; }

  // Sends the signal to a child that is not reaped yet.
  void signal(int signal) const;

 private:
  [[noreturn]] void runChild(const ChildUser& user, const std::function<bool()>& task,
                             pid_t parent);
  std::optional<bool> reap(int options);

  int pid_ = -1;
  std::optional<int> waitStatus_;
  std::string logDir_;
  spdlog::level::level_enum logLevel_;
  Environment env_;
};

}  // namespace tav_req
