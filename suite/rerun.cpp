#include "suite/rerun.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <unordered_set>

#include "common/earlier_run.h"
#include "common/input_file.h"
#include "common/json_document.h"
#include "common/output_set.h"
#include "common/progress_line.h"
#include "common/words.h"
#include "rep/entry_fault.h"
#include "req/task_fault.h"
#include "suite/report_line.h"
#include "suite/suite_files.h"

namespace tav_suite {

namespace {

using nlohmann::json;

// The file parsed once and walked as its program's loader walks it; nothing after saying why
// the program would refuse it.
std::optional<json> usableDocument(const std::string& path, const char* program,
                                   tav::SuiteFile kind, const tav::FaultFinder& findFault) {
  tav::progressPhase("reading " + path);
  tav::InputDocument input = tav::readInputDocument(path);
  if (!input.document) {
    reportFileError(path, input.problem);
    return std::nullopt;
  }
  if (std::string lookalike = tav::lookalikeReason(*input.document, kind); !lookalike.empty()) {
    reportFileError(path, lookalike);
    return std::nullopt;
  }
  if (const std::optional<std::string> fault = findFault(*input.document)) {
    reportFileError(path, fmt::format("{} would refuse it: {}", program, *fault));
    return std::nullopt;
  }
  return std::move(input.document);
}

using UuidSet = std::unordered_set<std::string>;

// The uuids of `all` that `some` lacks, sorted, so that a warning names the same ones each time.
std::vector<std::string> sortedOutside(const UuidSet& all, const UuidSet& some) {
  std::vector<std::string> outside;
  for (const std::string& uuid : all) {
    if (!some.contains(uuid)) outside.push_back(uuid);
  }
  std::sort(outside.begin(), outside.end());
  return outside;
}

// Each task with at least one failed request, holding only those, in their order; the rest of
// the task (user, label, environment) as written. `rerun` gets the uuids kept.
json failedTasks(json& tasks, const UuidSet& failed, UuidSet& rerun, std::size_t& requests) {
  json kept = json::array();
  for (json& task : tasks) {
    json& all = task.at("requests");
    json some = json::array();
    for (json& request : all) {
      const std::string& uuid = request.at("uuid").get_ref<const std::string&>();
      if (!failed.contains(uuid)) continue;
      rerun.insert(uuid);
      some.push_back(std::move(request));
    }
    if (some.empty()) continue;
    requests += some.size();
    all = std::move(some);
    kept.push_back(std::move(task));
  }
  return kept;
}

}  // namespace

int runRerun(const RerunOptions& options) {
  for (const std::string* path :
       {&options.tasks, &options.metadata, &options.config, &options.report}) {
    if (path->empty()) continue;
    if (const std::optional<std::string> why = tav::unreadableReason(*path)) {
      reportFileError(*path, *why);
      return 2;
    }
  }
  tav::progressPhase("reading " + options.report, "request", "requests");
  tav::EarlierRunRead report = tav::readEarlierRun(options.report);
  if (!report.run) {
    reportFileError(options.report, report.problem);
    return 2;
  }
  UuidSet failed;
  for (const auto& [uuid, outcome] : report.run->requests) {
    // The empty id of failed transfers belongs to no request; those requests fail by their own.
    if (!outcome.passed && !uuid.empty()) failed.insert(uuid);
  }

  std::optional<json> tasks =
      usableDocument(options.tasks, "tav-req", tav::SuiteFile::tasks, tav_req::tasksFault);
  if (!tasks) return 2;
  std::optional<json> metadata =
      usableDocument(options.metadata, "tav-rep", tav::SuiteFile::metadata, tav_rep::metadataFault);
  if (!metadata) return 2;
  std::string configText;
  if (!options.config.empty()) {
    if (!usableDocument(options.config, "tav-rep", tav::SuiteFile::config, tav_rep::configFault)) {
      return 2;
    }
    configText = tav::readWholeFile(options.config);
  }
  if (failed.empty()) {
    tav::clearProgress();
    std::cout << fmt::format("nothing failed in {}: no rerun suite written\n", options.report);
    return 0;
  }

  tav::progressPhase("choosing the failed requests");
  UuidSet rerun;
  std::size_t requests = 0;
  const std::size_t taskCount = tasks->size();
  json keptTasks = failedTasks(*tasks, failed, rerun, requests);
  if (rerun.empty()) {
    reportFileError(options.report,
                    fmt::format("none of its {} is a request of {}: it is the report of "
                                "another suite",
                                tav::counted(failed.size(), "failed request", "failed requests"),
                                options.tasks));
    return 2;
  }
  if (rerun.size() < failed.size()) {
    FirstFew missing;
    for (const std::string& uuid : sortedOutside(failed, rerun)) missing.add([&] { return uuid; });
    reportFileWarning(options.tasks, fmt::format("{} of {} no task sends, so none is rerun: {}",
                                                 tav::counted(missing.count(), "failed request",
                                                              "failed requests"),
                                                 options.report, missing.text()));
  }
  json keptMetadata = json::array();
  UuidSet described;
  for (json& entry : *metadata) {
    const auto uuid = entry.find("uuid");
    if (uuid == entry.end() || !uuid->is_string() ||
        !rerun.contains(uuid->get_ref<const std::string&>())) {
      continue;
    }
    described.insert(uuid->get<std::string>());
    keptMetadata.push_back(std::move(entry));
  }
  if (described.size() < rerun.size()) {
    FirstFew bare;
    for (const std::string& uuid : sortedOutside(rerun, described)) bare.add([&] { return uuid; });
    reportFileWarning(options.metadata,
                      fmt::format("has no entry for {} of the rerun: {}",
                                  tav::counted(bare.count(), "request", "requests"), bare.text()));
  }

  if (!makeFolder(options.outDir)) return 1;
  const std::filesystem::path dir = options.outDir;
  tav::progressPhase("writing " + (dir / "").string());
  tav::OutputSet files(reportFileError);
  for (const std::string* input :
       {&options.tasks, &options.metadata, &options.config, &options.report}) {
    if (!input->empty()) files.addInput(*input);
  }
  files.add((dir / "tasks.json").string(), documentText(keptTasks));
  files.add((dir / "metadata.json").string(), documentText(keptMetadata));
  if (!options.config.empty()) files.add((dir / "config.json").string(), std::move(configText));
  if (!files.commit()) return 1;
  tav::clearProgress();
  std::cout << fmt::format("rerun suite in {}: {} in {} (of {} in {})\n", dir.string(),
                           tav::counted(requests, "request", "requests"),
                           tav::counted(keptTasks.size(), "task", "tasks"), taskCount,
                           options.tasks);
  return 0;
}

}  // namespace tav_suite
