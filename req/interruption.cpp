#include "req/interruption.h"

#include <fmt/format.h>
#include <poll.h>

#include <cstring>
#include <ctime>

namespace tav_req {

namespace {

constexpr int kInterruptingSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t lastSignal = 0;
volatile sig_atomic_t signalCount = 0;

// The handler blocks the other interrupting signals, so the count is never raced.
void recordSignal(int signal) {
  lastSignal = signal;
  signalCount = signalCount + 1;
}

// SIGCHLD is ignored by default and would then not end a wait; this handler makes it count.
void noteChildEnd(int) {}

sigset_t interruptingSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kInterruptingSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void catchInterruptions() {
  struct sigaction action {};
  action.sa_handler = recordSignal;
  action.sa_mask = interruptingSet();
  action.sa_flags = 0;
  for (const int signal : kInterruptingSignals) {
    // nohup and a shell's background jobs ignore SIGHUP and SIGINT on purpose; SIGTERM, the
    // children's parent-death signal, is always caught.
    struct sigaction inherited {};
    sigaction(signal, nullptr, &inherited);
    if (signal != SIGTERM && inherited.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
  const sigset_t set = interruptingSet();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void restoreChildSignal() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);
}

int interruption() {
  return lastSignal;
}

int interruptionCount() {
  return signalCount;
}

std::string signalText(int signal) {
  const char* name = strsignal(signal);
  return fmt::format("{} ({})", signal, name != nullptr ? name : "unknown signal");
}

SignalWait::SignalWait() {
  struct sigaction action {};
  action.sa_handler = noteChildEnd;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_NOCLDSTOP;
  sigaction(SIGCHLD, &action, &previousChild_);

  sigset_t blocked = interruptingSet();
  sigaddset(&blocked, SIGCHLD);
  sigprocmask(SIG_BLOCK, &blocked, &previousMask_);
  waitMask_ = previousMask_;
  for (const int signal : kInterruptingSignals) sigdelset(&waitMask_, signal);
  sigdelset(&waitMask_, SIGCHLD);
}

SignalWait::~SignalWait() {
  // The old SIGCHLD action comes back first, so an end still pending is dropped, not handled.
  sigaction(SIGCHLD, &previousChild_, nullptr);
  sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
}

void SignalWait::waitForSignal(int timeoutMs) const {
  timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
  ppoll(nullptr, 0, timeoutMs < 0 ? nullptr : &timeout, &waitMask_);
}

}  // namespace tav_req
