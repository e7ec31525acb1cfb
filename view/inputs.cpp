#include "view/inputs.h"

#include <fmt/format.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <system_error>

#include "common/input_file.h"
#include "common/progress_line.h"
#include "common/terminal_text.h"
#include "rep/entry_fault.h"
#include "req/task.h"
#include "req/task_fault.h"

namespace tav_view {

namespace {

// The last line the loaders logged about the file that failed.
std::string loggedLine(tav::LogCapture& capture) {
  std::vector<std::string> lines = capture.take();
  return lines.empty() ? std::string() : std::move(lines.back());
}

bool loadTasksInto(const std::string& path, tav::LogCapture& capture, Inputs& inputs) {
  tav::progressPhase("reading " + path);
  const std::vector<tav_req::Task> tasks = tav_req::loadTasks(path);
  if (tasks.empty()) {
    // The loader logs nothing for a file that holds [], which has no request to add.
    const std::string line = loggedLine(capture);
    reportInputError(path, line.empty() ? "it holds no task"
                                        : tav::refusalReason(path, tav::SuiteFile::tasks,
                                                             tav_req::tasksFault, line));
    return false;
  }
  inputs.has_tasks = true;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const tav_req::Task& task = tasks[t];
    const std::string label =
        fmt::format("{}:{:x}", static_cast<unsigned>(task.user.macLevel), task.user.macCategories);
    std::map<std::string, std::size_t> groupOfAuth;
    for (std::size_t r = 0; r < task.requests.size(); ++r) {
      const tav_req::TaskRequest& request = task.requests[r];
      auto [group, added] = groupOfAuth.try_emplace(request.authTypeName, inputs.groups.size());
      if (added) inputs.groups.push_back({task.user.name, label, request.authTypeName});
      inputs.requests.try_emplace(request.uuid,
                                  RequestInfo{group->second, request.uri, request.method, t, r});
    }
  }
  return true;
}

}  // namespace

void reportInputError(const std::string& file, const std::string& reason) {
  tav::clearProgress();
  std::cerr << "tav-view: " << tav::terminalText(file) << ": " << tav::terminalText(reason)
            << std::endl;
}

std::optional<Inputs> loadInputs(const Options& options, tav::LogCapture& capture) {
  for (const std::string* path : {&options.config, &options.metadata, &options.responses,
                                  &options.tasks, &options.baseline}) {
    if (path->empty()) continue;
    if (const std::optional<std::string> why = tav::unreadableReason(*path)) {
      reportInputError(*path, *why);
      return std::nullopt;
    }
  }

  Inputs inputs;
  tav::progressPhase("reading " + options.config);
  std::optional<tav_rep::ReportConfig> config = tav_rep::loadConfig(options.config);
  if (!config) {
    reportInputError(options.config, tav::refusalReason(options.config, tav::SuiteFile::config,
                                                        tav_rep::configFault, loggedLine(capture)));
    return std::nullopt;
  }
  inputs.config = std::move(*config);

  if (!options.tasks.empty() && !loadTasksInto(options.tasks, capture, inputs)) {
    return std::nullopt;
  }

  // One file cannot be both: a failure below could not tell which of the two it was about.
  std::error_code same;
  if (std::filesystem::equivalent(options.metadata, options.responses, same)) {
    reportInputError(options.responses,
                     "is the metadata file (-m) as well; give the merged "
                     "responses.json of the run");
    return std::nullopt;
  }
  std::filesystem::path failedPath;
  inputs.table = tav_rep::loadData(options.metadata, options.responses, failedPath);
  if (inputs.table.empty()) {
    if (failedPath.empty()) {
      reportInputError(options.metadata,
                       fmt::format("neither it nor {} holds a request", options.responses));
    } else if (failedPath == options.metadata) {
      reportInputError(options.metadata,
                       tav::refusalReason(failedPath, tav::SuiteFile::metadata,
                                          tav_rep::metadataFault, loggedLine(capture)));
    } else {
      reportInputError(options.responses,
                       tav::refusalReason(failedPath, tav::SuiteFile::responses,
                                          tav_rep::responsesFault, loggedLine(capture)));
    }
    return std::nullopt;
  }
  // The per-entry lines of the decisions are tav-rep's log; here they would only cost time.
  capture.stop();
  return inputs;
}

}  // namespace tav_view
