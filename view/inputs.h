// tav-view's inputs: the checker's configuration and table read by tav-rep's own loaders, and
// what the tasks file adds to each request (user, label, auth type, URL).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/log_capture.h"
#include "rep/check_table.h"
#include "rep/report_config.h"
#include "req/task.h"
#include "view/options.h"

namespace tav_view {

// The requests of one task with one auth type: the unit whose logins succeed or fail together.
struct TaskGroup {
  std::string user;
  std::string label;
  std::string auth_type;
};

struct RequestInfo {
  std::size_t group = 0;  // index into Inputs::groups
  std::string url;
  tav_req::RequestMethod method = tav_req::RequestMethod::get;
  std::size_t task = 0;      // index of its task in the tasks file
  std::size_t position = 0;  // index among its task's requests: the order they go out in
};

struct Inputs {
  tav_rep::ReportConfig config;
  tav_rep::CheckTable table;
  bool has_tasks = false;
  std::vector<TaskGroup> groups;
  std::unordered_map<std::string, RequestInfo> requests;  // by uuid; the first task naming it
};

// Reads every input, the loaders' lines going to the capture. When one cannot be used, writes
// "tav-view: FILE: reason" to standard error and gives no value; else the capture is stopped.
std::optional<Inputs> loadInputs(const Options& options, tav::LogCapture& capture);

// Writes "tav-view: {file}: {reason}" as one line to standard error, control characters shown
// as escapes.
void reportInputError(const std::string& file, const std::string& reason);

}  // namespace tav_view
