#include "req/child_process.h"

#include <spdlog/spdlog.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <exception>
#include <memory>

#include "common/log_file.h"
#include "platform/zem.h"
#include "req/identity_switch.h"
#include "req/interruption.h"

namespace tav_req {

namespace {

int closeInheritedDescriptors() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  return close_range(3, UINT_MAX, 0);
#else
  return static_cast<int>(syscall(SYS_close_range, 3, UINT_MAX, 0));
#endif
}

// The parent's default logger must never be flushed or closed in the child: its buffer holds
// the parent's lines, and its descriptor number may by now belong to the child log. It is kept
// alive, unused, until _exit.
void abandonInheritedLogger() {
  new std::shared_ptr<spdlog::logger>(spdlog::default_logger());
  spdlog::set_default_logger(nullptr);
}

void reportChildException(bool logOpen, const char* what) {
  if (logOpen) {
    spdlog::error("child ended by an exception: {}", what);
  } else {
    tav::writeErrorLine(std::string("child ended by an exception: ") + what);
  }
}

// Linux clears the parent-death signal when the credentials change, so it is asked for after the
// switch; a parent that ended before that shows as a changed parent pid.
void endWithParent(pid_t parent) {
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) {
    spdlog::warn("Failed to ask for a signal at the runner's end: {}", std::strerror(errno));
  }
  if (getppid() != parent) raise(SIGTERM);
}

}  // namespace

ChildProcess::ChildProcess(std::string logDir, spdlog::level::level_enum logLevel, Environment env)
    : logDir_(std::move(logDir)), logLevel_(logLevel), env_(std::move(env)) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) wait();
}

void ChildProcess::start(const ChildUser& user, const std::function<bool()>& task) {
  if (pid_ != -1) return;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == -1) {
    spdlog::error("Failed to start the child of user {} with label {}:{:x}: fork: {}", user.name,
                  unsigned{user.macLevel}, user.macCategories, std::strerror(errno));
    return;
  }
  if (pid == 0) runChild(user, task, parent);
  pid_ = pid;
}

void ChildProcess::runChild(const ChildUser& user, const std::function<bool()>& task,
                            pid_t parent) {
  // A signal from here on is recorded for the task, which stops early and says so.
  catchInterruptions();
  bool logOpen = false;
  try {
    zem_release();
    abandonInheritedLogger();
    if (closeInheritedDescriptors() != 0) {
      tav::writeErrorLine(std::string("close_range failed: ") + std::strerror(errno));
      tav::exitChild(1);
    }
    if (!tav::openChildLog(logDir_, logLevel_, user.name, user.macLevel, user.macCategories)) {
      tav::exitChild(1);
    }
    logOpen = true;
    if (!initCapabilities() || !switchUser(user)) tav::exitChild(1);
    endWithParent(parent);
    if (!setEnvironment(env_)) tav::exitChild(1);
    tav::exitChild(task() ? 0 : 1);
  } catch (const std::exception& error) {
    reportChildException(logOpen, error.what());
  } catch (...) {
    reportChildException(logOpen, "unknown exception");
  }
  tav::exitChild(1);
}

bool ChildProcess::wait() {
  return reap(0).value_or(false);
}

std::optional<bool> ChildProcess::tryWait() {
  return reap(WNOHANG);
}

std::optional<bool> ChildProcess::ended() const {
  if (pid_ <= 0) return waitStatus_ && WIFEXITED(*waitStatus_) && WEXITSTATUS(*waitStatus_) == 0;
  siginfo_t info{};
  // WNOWAIT leaves the child to be reaped in task order; si_pid stays 0 while it runs.
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
      info.si_pid == 0) {
    return std::nullopt;
  }
  return info.si_code == CLD_EXITED && info.si_status == 0;
}

void ChildProcess::signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

std::optional<bool> ChildProcess::reap(int options) {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid_, &status, options);
  } while (result == -1 && errno == EINTR);
  if (result == 0) return std::nullopt;
  if (result != pid_) {
    // Nothing is left to wait for (ECHILD: the child is gone or was reaped elsewhere), so the
    // handle forgets the pid and neither a later wait nor the destructor tries again.
    spdlog::error("Failed to wait for process {}: {}", pid_, std::strerror(errno));
    pid_ = -1;
    return false;
  }
  pid_ = -1;
  waitStatus_ = status;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tav_req
