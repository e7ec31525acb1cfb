#include "view/inputs.h"

#include <fmt/format.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <system_error>

#include "req/task.h"
#include "view/text.h"

namespace tav_view {

namespace {

using Sink = spdlog::sinks::ringbuffer_sink_mt;

// The loaders log their failures through the default logger; this one keeps the last lines.
std::shared_ptr<Sink> captureLog() {
  auto sink = std::make_shared<Sink>(8);
  auto logger = std::make_shared<spdlog::logger>("tav_view", sink);
  logger->set_level(spdlog::level::critical);
  spdlog::set_default_logger(std::move(logger));
  return sink;
}

// The last critical line the loaders logged.
std::optional<std::string> loggedReason(Sink& sink) {
  const std::vector<spdlog::details::log_msg_buffer> lines = sink.last_raw();
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (line->level == spdlog::level::critical) {
      return std::string(line->payload.data(), line->payload.size());
    }
  }
  return std::nullopt;
}

// True when the file opens for reading; otherwise reports why.
bool readable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  if (in.is_open() && std::filesystem::is_regular_file(path, error)) return true;
  reportInputError(path, in.is_open() ? "not a regular file" : std::strerror(errno));
  return false;
}

bool loadTasksInto(const std::string& path, Sink& sink, Inputs& inputs) {
  const std::vector<tav_req::Task> tasks = tav_req::loadTasks(path);
  if (tasks.empty()) {
    // The loader logs nothing for a file that holds [], which has no request to add.
    reportInputError(path, loggedReason(sink).value_or("it holds no task"));
    return false;
  }
  inputs.has_tasks = true;
  for (const tav_req::Task& task : tasks) {
    const std::string label =
        fmt::format("{}:{:x}", static_cast<unsigned>(task.user.macLevel), task.user.macCategories);
    std::map<std::string, std::size_t> groupOfAuth;
    for (const tav_req::TaskRequest& request : task.requests) {
      auto [group, added] = groupOfAuth.try_emplace(request.authTypeName, inputs.groups.size());
      if (added) inputs.groups.push_back({task.user.name, label, request.authTypeName});
      inputs.requests.try_emplace(request.uuid, RequestInfo{group->second, request.uri});
    }
  }
  return true;
}

}  // namespace

void reportInputError(const std::string& file, const std::string& reason) {
  std::cerr << "tav-view: " << terminalText(file) << ": " << terminalText(reason) << std::endl;
}

std::optional<Inputs> loadInputs(const Options& options) {
  for (const std::string* path : {&options.config, &options.metadata, &options.responses}) {
    if (!readable(*path)) return std::nullopt;
  }
  if (!options.tasks.empty() && !readable(options.tasks)) return std::nullopt;

  const std::shared_ptr<Sink> sink = captureLog();
  Inputs inputs;
  std::optional<tav_rep::ReportConfig> config = tav_rep::loadConfig(options.config);
  if (!config) {
    reportInputError(options.config, loggedReason(*sink).value_or("cannot be used"));
    return std::nullopt;
  }
  inputs.config = std::move(*config);

  if (!options.tasks.empty() && !loadTasksInto(options.tasks, *sink, inputs)) return std::nullopt;

  std::filesystem::path failedPath;
  inputs.table = tav_rep::loadData(options.metadata, options.responses, failedPath);
  if (inputs.table.empty()) {
    if (failedPath.empty()) {
      reportInputError(options.metadata,
                       fmt::format("neither it nor {} holds a request", options.responses));
    } else {
      reportInputError(failedPath.string(), loggedReason(*sink).value_or("cannot be used"));
    }
    return std::nullopt;
  }
  // The per-entry lines of the decisions are tav-rep's log; here they would only cost time.
  spdlog::default_logger()->set_level(spdlog::level::off);
  return inputs;
}

}  // namespace tav_view
