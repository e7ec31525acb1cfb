// The work of one child once its identity is in place: log the label in force, send the
// task's requests one after another and save the answers.
#pragma once

#include <string>
#include <vector>

#include "req/http_engine.h"
#include "req/options.h"
#include "req/task.h"

namespace tav_req {

// What a child's task function captures, by value.
struct TaskClosure {
  Task task;
  Options options;
  std::string responsesFileName;  // chosen by the parent, unique within the run

  bool operator()() const;
};

// One request per task request, in order, for the task's user, each limited to timeoutSeconds
// (0: no limit); "gssapi" exactly selects Negotiate, anything else Basic.
std::vector<HttpRequest> toHttpRequests(const Task& task, unsigned timeoutSeconds = 0);

// True when the responses file was written with an answer for every request; false when the
// engine could not be set up, the file could not be written, or an interrupting signal stopped
// the requests (the answers received before it are saved).
bool runTask(const TaskClosure& closure);

}  // namespace tav_req
