#include "req/run_progress.h"

#include <fmt/format.h>

#include "common/progress_line.h"

namespace tav_req {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kLookEvery = std::chrono::milliseconds(100);

}  // namespace

std::string runProgressText(const RunCounts& counts) {
  const auto seconds = counts.running.count();
  std::string text = fmt::format("{} of {} tasks done, {} failed, {} answers, {}:{:02}",
                                 tav::groupedDigits(counts.done), tav::groupedDigits(counts.tasks),
                                 tav::groupedDigits(counts.failed),
                                 tav::groupedDigits(counts.answers), seconds / 60, seconds % 60);
  if (counts.interruption != 0) {
    text += fmt::format(", stopping after signal {}", counts.interruption);
  }
  return text;
}

RunProgress::RunProgress(const std::vector<Task>& tasks)
    : seen_(tasks.size(), false), start_(Clock::now()) {
  requests_.reserve(tasks.size());
  for (const Task& task : tasks) requests_.push_back(task.requests.size());
  counts_.tasks = tasks.size();
}

void RunProgress::update(const std::vector<std::unique_ptr<ChildProcess>>& children,
                         int interruption, bool force) {
  if (!tav::progressOn()) return;
  const Clock::time_point now = Clock::now();
  if (!force && now - lastLook_ < kLookEvery) return;
  lastLook_ = now;
  // Children end roughly in the order they started: the scan starts at the first one not seen
  // to end, so a look costs one waitid per child still running after it.
  for (std::size_t i = firstUnseen_; i < children.size(); ++i) {
    if (seen_[i]) continue;
    const std::optional<bool> ended = children[i]->ended();
    if (!ended) continue;
    seen_[i] = true;
    ++counts_.done;
    if (*ended) {
      counts_.answers += requests_[i];
    } else {
      ++counts_.failed;
    }
  }
  while (firstUnseen_ < seen_.size() && seen_[firstUnseen_]) ++firstUnseen_;
  counts_.running = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
  counts_.interruption = interruption;
  tav::progressText(runProgressText(counts_), force);
}

int RunProgress::timeoutMs() const {
  return tav::progressOn() ? static_cast<int>(kLookEvery.count()) : -1;
}

}  // namespace tav_req
