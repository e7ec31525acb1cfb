#include "suite/split.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "common/input_file.h"
#include "common/json_document.h"
#include "common/log_capture.h"
#include "common/output_set.h"
#include "common/progress_line.h"
#include "common/words.h"
#include "rep/check_table.h"
#include "rep/entry_fault.h"
#include "req/task.h"
#include "req/task_fault.h"
#include "suite/report_line.h"
#include "suite/suite_files.h"

namespace tav_suite {

namespace {

using nlohmann::json;

// The file's document once its program's loader has taken it; no value after printing why the
// loader refused it, or why it cannot be read.
template <typename Load>
std::optional<json> loadedDocument(const std::string& path, const char* program,
                                   tav::SuiteFile kind, const tav::FaultFinder& findFault,
                                   Load&& load) {
  if (const std::optional<std::string> why = tav::unreadableReason(path)) {
    reportFileError(path, *why);
    return std::nullopt;
  }
  tav::LogCapture recorder;
  load();
  const std::vector<std::string> lines = recorder.take();
  if (!lines.empty()) {
    reportFileError(path, fmt::format("{} would refuse it: {}", program,
                                      tav::refusalReason(path, kind, findFault, lines.back())));
    return std::nullopt;
  }
  try {
    return tav::parseWritableJsonText(tav::readWholeFile(path));
  } catch (const nlohmann::json::parse_error&) {
    // Loadable, but nested too deep to be written back: the reader says where.
    reportFileError(path, tav::readInputDocument(path, true).problem);
    return std::nullopt;
  }
}

// "shards 1 and 2", "shards 1, 2 and 4" (1-based).
std::string shardList(const std::vector<std::size_t>& shards) {
  std::string text = "shards ";
  for (std::size_t i = 0; i < shards.size(); ++i) {
    text += fmt::format("{}{}",
                        i == 0                   ? ""
                        : i + 1 == shards.size() ? " and "
                                                 : ", ",
                        shards[i] + 1);
  }
  return text;
}

// The shards (0-based, in task order) whose requests use each uuid.
using ShardsOfUuid = std::unordered_map<std::string, std::vector<std::size_t>>;

ShardsOfUuid shardsOfUuids(const std::vector<tav_req::Task>& tasks,
                           const std::vector<std::size_t>& shardOf) {
  ShardsOfUuid shardsOf;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    for (const tav_req::TaskRequest& request : tasks[t].requests) {
      std::vector<std::size_t>& shards = shardsOf[request.uuid];
      if (std::find(shards.begin(), shards.end(), shardOf[t]) == shards.end()) {
        shards.push_back(shardOf[t]);
      }
    }
  }
  return shardsOf;
}

// False after printing how many request uuids the metadata lacks; a request without its entry
// would be judged without labels on its machine.
bool metadataCoversRequests(const SplitOptions& options, const std::vector<tav_req::Task>& tasks,
                            const json& metadata) {
  std::unordered_set<std::string> named;
  for (const json& entry : metadata) named.insert(entry.at("uuid").get<std::string>());
  std::unordered_set<std::string> seen;
  FirstFew missing;
  for (const tav_req::Task& task : tasks) {
    for (const tav_req::TaskRequest& request : task.requests) {
      if (!seen.insert(request.uuid).second || named.contains(request.uuid)) continue;
      missing.add([&] { return fmt::format("\"{}\"", request.uuid); });
    }
  }
  if (missing.empty()) return true;
  reportFileError(
      options.metadata,
      fmt::format("has no entry for {} of the {} of {} ({}); give the metadata of "
                  "this suite",
                  missing.count(), tav::counted(seen.size(), "request uuid", "request uuids"),
                  options.tasks, missing.text()));
  return false;
}

// The metadata entries of each shard's requests, in file order; an entry goes to every shard
// that uses its uuid.
std::vector<json> metadataShards(const SplitOptions& options, json& metadata,
                                 const ShardsOfUuid& shardsOf, std::size_t shards) {
  std::vector<json> result(shards, json::array());
  FirstFew unnamed;
  std::size_t k = 0;
  for (json& entry : metadata) {
    const auto found = shardsOf.find(entry.at("uuid").get<std::string>());
    if (found == shardsOf.end()) {
      unnamed.add(
          [&] { return fmt::format("[{}] \"{}\"", k, entry.at("uuid").get<std::string>()); });
    } else {
      for (std::size_t i = 0; i + 1 < found->second.size(); ++i) {
        result[found->second[i]].push_back(entry);
      }
      result[found->second.back()].push_back(std::move(entry));
    }
    ++k;
  }
  if (!unnamed.empty()) {
    reportFileWarning(options.metadata,
                      fmt::format("entries no request of {} names, left out of every shard: {}",
                                  options.tasks, unnamed.text()));
  }
  return result;
}

// The files of an earlier split into the folder that the new one does not replace:
// "tasks-K.json" and "metadata-K.json" with K > shards, written as split writes K, and, for a
// split without metadata, every "metadata-K.json". Left, they would pass for part of the new
// split.
std::vector<std::filesystem::path> earlierShards(const std::filesystem::path& dir,
                                                 std::size_t shards, bool withMetadata) {
  std::vector<std::filesystem::path> found;
  std::error_code error;
  for (std::filesystem::directory_iterator item(dir, error), end; !error && item != end;
       item.increment(error)) {
    const std::string name = item->path().filename().string();
    for (const std::string_view prefix : {"tasks-", "metadata-"}) {
      if (!name.starts_with(prefix) || !name.ends_with(".json")) continue;
      const std::string number = name.substr(prefix.size(), name.size() - prefix.size() - 5);
      const bool plain = !number.empty() && number[0] != '0' &&
                         number.find_first_not_of("0123456789") == std::string::npos;
      const bool replaced = prefix == "tasks-" || withMetadata;
      if (plain && (!replaced || number.size() > 18 || std::stoull(number) > shards)) {
        found.push_back(item->path());
      }
    }
  }
  return found;
}

void warnAboutSharedUuids(const SplitOptions& options, const std::vector<tav_req::Task>& tasks,
                          const ShardsOfUuid& shardsOf) {
  std::unordered_set<std::string> reported;
  FirstFew shared;
  for (const tav_req::Task& task : tasks) {
    for (const tav_req::TaskRequest& request : task.requests) {
      const std::vector<std::size_t>& shards = shardsOf.at(request.uuid);
      if (shards.size() < 2 || !reported.insert(request.uuid).second) continue;
      shared.add([&] { return fmt::format("\"{}\" ({})", request.uuid, shardList(shards)); });
    }
  }
  if (shared.empty()) return;
  reportFileWarning(options.tasks,
                    fmt::format("uuids in tasks of different shards, each of which gets their "
                                "metadata: {}",
                                shared.text()));
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
  tav::progressPhase("reading " + options.tasks);
  std::optional<json> tasksDocument =
      loadedDocument(options.tasks, "tav-req", tav::SuiteFile::tasks, tav_req::tasksFault,
                     [&] { tasks = tav_req::loadTasks(options.tasks); });
  if (!tasksDocument) return 2;
  std::optional<json> metadata;
  if (!options.metadata.empty()) {
    metadata =
        loadedDocument(options.metadata, "tav-rep", tav::SuiteFile::metadata,
                       tav_rep::metadataFault, [&] { tav_rep::loadMetadata(options.metadata); });
    if (!metadata) return 2;
    if (!metadataCoversRequests(options, tasks, *metadata)) return 2;
  }
  if (tasks.size() < options.shards) {
    reportFileError(options.tasks,
                    fmt::format("{} cannot fill {} shards; ask for fewer",
                                tav::counted(tasks.size(), "task", "tasks"), options.shards));
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
  if (metadata) {
    const ShardsOfUuid shardsOf = shardsOfUuids(tasks, shardOf);
    warnAboutSharedUuids(options, tasks, shardsOf);
    metadataShardsOf = metadataShards(options, *metadata, shardsOf, options.shards);
  }
  if (!makeFolder(options.outDir)) return 1;
  const std::filesystem::path dir = options.outDir;
  tav::progressPhase("writing " + (dir / "").string());
  tav::OutputSet files(reportFileError);
  files.addInput(options.tasks);
  if (metadata) files.addInput(options.metadata);
  for (std::size_t s = 0; s < options.shards; ++s) {
    files.add((dir / fmt::format("tasks-{}.json", s + 1)).string(), documentText(taskShards[s]));
    if (metadata) {
      files.add((dir / fmt::format("metadata-{}.json", s + 1)).string(),
                documentText(metadataShardsOf[s]));
    }
  }
  for (const std::filesystem::path& earlier :
       earlierShards(dir, options.shards, metadata.has_value())) {
    files.addRemoval(earlier.string());
  }
  return files.commit() ? 0 : 1;
}

}  // namespace tav_suite
