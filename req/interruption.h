// The signals that end a run early: SIGINT, SIGTERM and SIGHUP. Their handler only records
// the signal; the runner and its children look at the record where they can act on it.
#pragma once

#include <signal.h>

#include <string>

namespace tav_req {

// Installs the recording handler for the three signals (without SA_RESTART, so a blocking call
// returns with EINTR) and unblocks them. SIGINT and SIGHUP stay ignored when they were ignored
// on entry (nohup, a shell's background job). A record inherited through fork is kept.
void catchInterruptions();

// Sets SIGCHLD to its default action, whatever was inherited: an ignored SIGCHLD makes the
// kernel reap children at their end, and waitpid then fails instead of telling how they ended.
void restoreChildSignal();

// The last interrupting signal received, or 0 when none was.
int interruption();

// How many interrupting signals were received; tells a second signal from the first.
int interruptionCount();

// "15 (Terminated)"
std::string signalText(int signal);

// While it lives, the three signals and SIGCHLD are blocked and reach the process only inside
// waitForSignal, so none arrives between a look at the record and the wait that follows it.
class SignalWait {
 public:
  SignalWait();
  ~SignalWait();
  SignalWait(const SignalWait&) = delete;
  SignalWait& operator=(const SignalWait&) = delete;

  // Returns after an interrupting signal or a child's end was handled, or after timeoutMs
  // (negative: no limit).
  void waitForSignal(int timeoutMs) const;

 private:
  sigset_t previousMask_;
  sigset_t waitMask_;
  struct sigaction previousChild_ {};
};

}  // namespace tav_req
