// The runner's two steps around its children: start one child per task, all before any is
// waited for, then reap them in task order and keep the files of those that succeeded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "req/child_process.h"
#include "req/options.h"
#include "req/run_progress.h"
#include "req/task.h"

namespace tav_req {

using Children = std::vector<std::unique_ptr<ChildProcess>>;

// One started child per task, in task order; child i writes fileNames[i]. After an
// interrupting signal no further child is started (logged), so there may be fewer children
// than tasks.
Children startChildren(const std::vector<Task>& tasks, const Options& options,
                       const std::vector<std::string>& fileNames);

// What the reaping found: every child's outcome is logged, and only the tasks whose children
// exited with status 0 are kept for the merge.
struct ReapResult {
  bool allChildrenOk = true;
  std::vector<std::size_t> succeededTasks;  // indexes into the task list, in task order
  int interruption = 0;  // the interrupting signal, 0 when the run was not interrupted
};

// Reaps the children in task order, whatever order they ended in. An interrupting signal,
// received before or during the reaping, is passed on to every child still running; a second
// one, or 5 s without the children ending, kills those still running. Every child is reaped.
// The progress line, when on, is kept up to date meanwhile.
ReapResult reapChildren(Children& children, RunProgress& progress);

}  // namespace tav_req
