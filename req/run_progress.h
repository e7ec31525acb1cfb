// tav-req's line on the terminal while the children run: "412 of 10,000 tasks done, 3 failed,
// 8,240 answers, 0:12". A task is done when its child has ended, in whatever order the children
// end; its answers count once its child has ended with success, since only then is its file of
// answers (one per request, a failed transfer included) complete. Nothing is drawn unless the
// progress line is on.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "req/child_process.h"
#include "req/task.h"

namespace tav_req {

struct RunCounts {
  std::size_t tasks = 0;
  std::size_t done = 0;
  std::size_t failed = 0;
  std::size_t answers = 0;
  std::chrono::seconds running{0};
  int interruption = 0;
};

// "412 of 10,000 tasks done, 3 failed, 8,240 answers, 0:12", and ", stopping after signal 2"
// once interrupted.
std::string runProgressText(const RunCounts& counts);

class RunProgress {
 public:
  // Requests per task, in task order.
  explicit RunProgress(const std::vector<Task>& tasks);
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;

  // Looks at the children not yet seen to end, and redraws the line; at most ten times a
  // second unless forced.
  void update(const std::vector<std::unique_ptr<ChildProcess>>& children, int interruption,
              bool force = false);

  // How long the reaping may wait before the line needs redrawing (its clock); -1 when off.
  int timeoutMs() const;

 private:
  std::vector<std::size_t> requests_;
  std::vector<bool> seen_;
  std::size_t firstUnseen_ = 0;
  RunCounts counts_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastLook_;
};

}  // namespace tav_req
