#include "suite/split.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <numeric>
#include <unordered_map>

#include "common/json_document.h"
#include "common/log_capture.h"
#include "rep/check_table.h"
#include "req/task.h"
#include "suite/suite_files.h"

namespace tav_suite {

namespace {

using nlohmann::json;

// The file's document once its program's loader has taken it; no value after printing the
// loader's complaints.
template <typename Load>
std::optional<json> loadedDocument(const std::string& path, const char* program, Load&& load) {
  tav::LogCapture recorder;
  load();
  const std::vector<std::string> lines = recorder.take();
  for (const std::string& line : lines) {
    std::cerr << fmt::format("error: {}: {} would reject it: {}", path, program, line) << std::endl;
  }
  if (!lines.empty()) return std::nullopt;
  return tav::parseJsonText(tav::readWholeFile(path));
}

// The metadata entries of each shard's requests, in file order; entries as tav-rep takes them.
std::vector<json> metadataShards(json& metadata, const std::vector<tav_req::Task>& tasks,
                                 const std::vector<std::size_t>& shardOf, std::size_t shards) {
  std::unordered_map<std::string, std::size_t> shardOfUuid;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    for (const tav_req::TaskRequest& request : tasks[t].requests) {
      shardOfUuid.emplace(request.uuid, shardOf[t]);
    }
  }
  std::vector<json> result(shards, json::array());
  for (json& entry : metadata) {
    const auto found = shardOfUuid.find(entry.at("uuid").get<std::string>());
    if (found != shardOfUuid.end()) result[found->second].push_back(std::move(entry));
  }
  return result;
}

}  // namespace

std::vector<std::size_t> assignShards(const std::vector<std::size_t>& requestCounts,
                                      std::size_t shards) {
  std::vector<std::size_t> order(requestCounts.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return requestCounts[a] > requestCounts[b];
  });
  std::vector<std::size_t> load(shards, 0);
  std::vector<std::size_t> shardOf(requestCounts.size(), 0);
  for (const std::size_t task : order) {
    const auto lightest = std::min_element(load.begin(), load.end());
    shardOf[task] = static_cast<std::size_t>(lightest - load.begin());
    *lightest += requestCounts[task];
  }
  return shardOf;
}

int runSplit(const SplitOptions& options) {
  // Both files must load as their programs load them; the shards keep the entries as written.
  std::vector<tav_req::Task> tasks;
  std::optional<json> tasksDocument =
      loadedDocument(options.tasks, "tav-req", [&] { tasks = tav_req::loadTasks(options.tasks); });
  if (!tasksDocument) return 2;
  std::optional<json> metadata;
  if (!options.metadata.empty()) {
    metadata = loadedDocument(options.metadata, "tav-rep",
                              [&] { tav_rep::loadMetadata(options.metadata); });
    if (!metadata) return 2;
  }
  if (tasks.size() < options.shards) {
    std::cerr << fmt::format("error: {}: {} tasks cannot fill {} shards; ask for fewer",
                             options.tasks, tasks.size(), options.shards)
              << std::endl;
    return 2;
  }
  std::vector<std::size_t> counts;
  for (const tav_req::Task& task : tasks) counts.push_back(task.requests.size());
  const std::vector<std::size_t> shardOf = assignShards(counts, options.shards);
  std::vector<json> taskShards(options.shards, json::array());
  for (std::size_t i = 0; i < shardOf.size(); ++i) {
    taskShards[shardOf[i]].push_back(std::move((*tasksDocument)[i]));
  }
  std::vector<json> metadataShardsOf;
  if (metadata) metadataShardsOf = metadataShards(*metadata, tasks, shardOf, options.shards);
  std::vector<NamedText> files;
  for (std::size_t s = 0; s < options.shards; ++s) {
    files.push_back({fmt::format("tasks-{}.json", s + 1), documentText(taskShards[s])});
    if (metadata) {
      files.push_back({fmt::format("metadata-{}.json", s + 1), documentText(metadataShardsOf[s])});
    }
  }
  if (!makeFolder(options.outDir) || !writeFiles(options.outDir, files)) return 1;
  return 0;
}

}  // namespace tav_suite
