#include "req/run_children.h"

#include <spdlog/spdlog.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>

#include "req/interruption.h"
#include "req/run_task.h"

namespace tav_req {

namespace {

using Clock = std::chrono::steady_clock;

// How long children may take to save their answers after an interruption before they are
// killed; they need well under a second.
constexpr auto kGracePeriod = std::chrono::seconds(5);

// The second line for a failed child: the signal that killed it, or its exit status (the
// child's log tells why it chose that status; a signal often leaves that log empty).
void nameHowItEnded(int pid, int status) {
  if (WIFSIGNALED(status)) {
    spdlog::error("child [{}] was killed by signal {}", pid, signalText(WTERMSIG(status)));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    spdlog::error("child [{}] exited with status {}", pid, WEXITSTATUS(status));
  }
}

// After an interruption: the signal goes on to every child still running; a second signal, or
// the end of the grace period, kills those still running.
class WindDown {
 public:
  explicit WindDown(Children& children) : children_(children) {}

  int signal() const { return signal_; }

  // Acts on what arrived since the last call.
  void update() {
    const int count = interruptionCount();
    if (count != handled_) {
      const bool first = handled_ == 0;
      handled_ = count;
      signal_ = interruption();
      if (first) {
        spdlog::error("run interrupted by signal {}; passing it on to the children still running",
                      signalText(signal_));
        killAt_ = Clock::now() + kGracePeriod;
        sendToRunning(signal_);
      } else if (!killed_) {
        spdlog::error("signal {} during the wind-down: killing the children still running",
                      signalText(signal_));
        killRunning();
      }
    }
    if (killAt_ && !killed_ && Clock::now() >= *killAt_) {
      spdlog::error("children still running {} s after the interruption: killing them",
                    kGracePeriod.count());
      killRunning();
    }
  }

  // How long to wait for the next event: no limit, or until the grace period ends.
  int timeoutMs() const {
    if (!killAt_ || killed_) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*killAt_ - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }

 private:
  void sendToRunning(int signal) const {
    for (const auto& child : children_) child->signal(signal);
  }
  void killRunning() {
    killed_ = true;
    sendToRunning(SIGKILL);
  }

  Children& children_;
  int handled_ = 0;
  int signal_ = 0;
  bool killed_ = false;
  std::optional<Clock::time_point> killAt_;
};

// The shorter of two time-outs, where -1 means none.
int earlier(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}

}  // namespace

Children startChildren(const std::vector<Task>& tasks, const Options& options,
                       const std::vector<std::string>& fileNames) {
  Children children;
  children.reserve(tasks.size());
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    // An interrupted run starts no more children; the reaping passes the signal on.
    if (interruption() != 0) {
      spdlog::error("run interrupted by signal {}: {} of {} tasks not started",
                    signalText(interruption()), tasks.size() - i, tasks.size());
      break;
    }
    const Task& task = tasks[i];
    auto child = std::make_unique<ChildProcess>(options.logDir, options.logLevel, task.env);
    const ChildUser user{task.user.name, task.user.macLevel, task.user.macCategories};
    child->start(user, TaskClosure{task, options, fileNames[i]});
    children.push_back(std::move(child));
  }
  return children;
}

ReapResult reapChildren(Children& children, RunProgress& progress) {
  ReapResult result;
  // Signals reach the parent only inside the wait below, after the record was looked at.
  const SignalWait signals;
  WindDown windDown(children);
  for (std::size_t i = 0; i < children.size(); ++i) {
    // A successful wait forgets the pid, so it is read first.
    const int pid = children[i]->pid();
    std::optional<bool> succeeded;
    for (;;) {
      windDown.update();
      // Looked at before this child is reaped: once reaped, the child cannot be seen to end.
      progress.update(children, windDown.signal());
      succeeded = children[i]->tryWait();
      if (succeeded) break;
      signals.waitForSignal(earlier(windDown.timeoutMs(), progress.timeoutMs()));
    }
    if (*succeeded) {
      spdlog::info("child [{}] was successfully completed", pid);
      result.succeededTasks.push_back(i);
    } else if (pid > 0) {
      spdlog::error("child [{}] was failed", pid);
      if (const auto status = children[i]->waitStatus()) nameHowItEnded(pid, *status);
      result.allChildrenOk = false;
    } else {
      // Never started: the failed fork was logged with the task's user and label.
      result.allChildrenOk = false;
    }
  }
  windDown.update();
  progress.update(children, windDown.signal(), true);
  result.interruption = windDown.signal();
  return result;
}

}  // namespace tav_req
