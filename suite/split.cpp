#include "suite/split.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <numeric>

#include "common/json_document.h"
#include "req/task.h"
#include "suite/log_recorder.h"
#include "suite/suite_files.h"

namespace tav_suite {

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
  std::vector<std::size_t> counts;
  nlohmann::json document;
  {
    // The tasks must load as tav-req loads them; each shard then keeps its tasks as written.
    LogRecorder recorder;
    for (const tav_req::Task& task : tav_req::loadTasks(options.tasks)) {
      counts.push_back(task.requests.size());
    }
    for (const std::string& line : recorder.take()) {
      std::cerr << fmt::format("error: {}: tav-req would reject it: {}", options.tasks, line)
                << std::endl;
      return 2;
    }
    document = tav::parseJsonText(tav::readWholeFile(options.tasks));
  }
  if (counts.size() < options.shards) {
    std::cerr << fmt::format("error: {}: {} tasks cannot fill {} shards; ask for fewer",
                             options.tasks, counts.size(), options.shards)
              << std::endl;
    return 2;
  }
  const std::vector<std::size_t> shardOf = assignShards(counts, options.shards);
  std::vector<nlohmann::json> shards(options.shards, nlohmann::json::array());
  for (std::size_t i = 0; i < shardOf.size(); ++i) {
    shards[shardOf[i]].push_back(std::move(document[i]));
  }
  std::vector<NamedDocument> files;
  for (std::size_t s = 0; s < shards.size(); ++s) {
    files.emplace_back(fmt::format("tasks-{}.json", s + 1), &shards[s]);
  }
  if (!makeFolder(options.outDir) || !writeDocuments(options.outDir, files)) return 1;
  return 0;
}

}  // namespace tav_suite
