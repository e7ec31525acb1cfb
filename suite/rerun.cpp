#include "suite/rerun.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/earlier_run.h"
#include "common/input_file.h"
#include "common/json_document.h"
#include "common/json_scan.h"
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
  tav::InputDocument input = tav::readInputDocument(path, true);
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

// What is kept of a file: its entries of the rerun, and how many the file had.
struct Kept {
  json document = json::array();
  std::size_t total = 0;
  std::size_t requests = 0;  // of a tasks file: the requests kept
};

// Whether the file whose first entry this is looks like another file of a suite than `kind`.
bool looksLikeAnother(std::string_view firstEntry, tav::SuiteFile kind) {
  const json first = tav::parseJsonText("[" + std::string(firstEntry) + "]");
  return !tav::lookalikeReason(first, kind).empty();
}

bool holds(const UuidSet& uuids, std::string_view uuid) {
  return uuids.contains(std::string(uuid));
}

// The uuid of one request or metadata entry, the rest of it checked and passed over.
std::optional<std::string_view> scanUuid(tav::JsonScan& scan) {
  std::optional<std::string_view> uuid;
  const bool scanned = tav::scanObject(scan, [&](std::string_view key) {
    if (key != "uuid") return scan.skipValue();
    // A key twice: which one counts is the library's to say.
    if (uuid) return scan.giveUp();
    return (uuid = scan.plainString()).has_value();
  });
  if (!scanned || !uuid) {
    scan.giveUp();
    return std::nullopt;
  }
  return uuid;
}

// The scanner's way through a tasks file: each task's text as written, its requests array cut
// down to the failed ones. Nothing when the scanner gave up, or when what is kept is something
// tav-req would refuse: the library's way then reads the whole file and says where.
std::optional<Kept> scanFailedTasks(const std::string& text, const UuidSet& failed,
                                    UuidSet& rerun) {
  tav::JsonScan scan(text);
  Kept kept;
  std::string keptText = "[";
  const bool scanned = tav::scanArray(scan, [&] {
    ++kept.total;
    const std::size_t taskStart = scan.position();
    std::size_t listStart = 0;
    std::size_t listEnd = 0;
    std::string requests;
    std::size_t keptHere = 0;
    const bool taskScanned = tav::scanObject(scan, [&](std::string_view key) {
      if (key != "requests") return scan.skipValue();
      if (listEnd != 0) return scan.giveUp();
      listStart = scan.position();
      const bool listScanned = tav::scanArray(scan, [&] {
        const std::size_t start = scan.position();
        const std::optional<std::string_view> uuid = scanUuid(scan);
        if (!uuid) return false;
        if (holds(failed, *uuid)) {
          requests += keptHere++ == 0 ? "" : ", ";
          requests.append(text, start, scan.offset() - start);
          rerun.emplace(*uuid);
        }
        return true;
      });
      listEnd = scan.offset();
      return listScanned;
    });
    if (!taskScanned || listEnd == 0) return scan.giveUp();
    if (kept.total == 1 &&
        looksLikeAnother(std::string_view(text).substr(taskStart, scan.offset() - taskStart),
                         tav::SuiteFile::tasks)) {
      return scan.giveUp();
    }
    if (keptHere > 0) {
      keptText += kept.requests == 0 ? "" : ",\n";
      keptText.append(text, taskStart, listStart - taskStart);
      keptText += "[" + requests + "]";
      keptText.append(text, listEnd, scan.offset() - listEnd);
      kept.requests += keptHere;
    }
    return true;
  });
  if (!scanned || !scan.atEnd()) return std::nullopt;
  // Nested too deep to be written back: the library's way says where.
  try {
    kept.document = tav::parseWritableJsonText(keptText + "]");
  } catch (const json::parse_error&) {
    return std::nullopt;
  }
  if (tav_req::tasksFault(kept.document)) return std::nullopt;
  return kept;
}

// The scanner's way through a metadata file: the entries of the rerun's uuids, as written.
std::optional<Kept> scanRerunEntries(const std::string& text, const UuidSet& rerun,
                                     UuidSet& described) {
  tav::JsonScan scan(text);
  Kept kept;
  std::string keptText = "[";
  const bool scanned = tav::scanArray(scan, [&] {
    ++kept.total;
    const std::size_t start = scan.position();
    const std::optional<std::string_view> uuid = scanUuid(scan);
    if (!uuid) return false;
    if (kept.total == 1 &&
        looksLikeAnother(std::string_view(text).substr(start, scan.offset() - start),
                         tav::SuiteFile::metadata)) {
      return scan.giveUp();
    }
    if (holds(rerun, *uuid)) {
      keptText += keptText.size() == 1 ? "" : ",\n";
      keptText.append(text, start, scan.offset() - start);
      described.emplace(*uuid);
    }
    return true;
  });
  if (!scanned || !scan.atEnd()) return std::nullopt;
  // Nested too deep to be written back: the library's way says where.
  try {
    kept.document = tav::parseWritableJsonText(keptText + "]");
  } catch (const json::parse_error&) {
    return std::nullopt;
  }
  if (tav_rep::metadataFault(kept.document)) return std::nullopt;
  return kept;
}

// Whether each request of the task has its uuid as a string: what cutting the task needs.
bool uuidsReadable(const json& task) {
  if (!task.is_object() || !task.contains("requests") || !task["requests"].is_array()) {
    return false;
  }
  return std::all_of(task["requests"].begin(), task["requests"].end(), [](const json& request) {
    return request.is_object() && request.contains("uuid") && request["uuid"].is_string();
  });
}

// The tasks of the failed requests, by the scanner or, when it gives up, by the library; nothing
// after saying why tav-req would refuse the file. Either way only what is kept is judged, each
// task and request named by its place in the file.
std::optional<Kept> keptTasksOf(const std::string& path, const UuidSet& failed, UuidSet& rerun) {
  tav::progressPhase("reading " + path);
  if (std::optional<Kept> kept = scanFailedTasks(tav::readWholeFile(path), failed, rerun)) {
    return kept;
  }
  std::optional<json> whole =
      usableDocument(path, "tav-req", tav::SuiteFile::tasks, [](const json& document) {
        return document.is_array() ? std::nullopt : tav_req::tasksFault(document);
      });
  if (!whole) return std::nullopt;
  Kept kept;
  kept.total = whole->size();
  rerun.clear();
  for (std::size_t t = 0; t < whole->size(); ++t) {
    json& task = (*whole)[t];
    std::optional<std::string> fault;
    std::vector<std::size_t> positions;
    if (!uuidsReadable(task)) {
      fault = tav_req::taskFaultAt(t, task).value_or(tav_req::taskPlace(t, task) +
                                                     ": a request has no string \"uuid\"");
    } else {
      json& all = task["requests"];
      json some = json::array();
      for (std::size_t r = 0; r < all.size(); ++r) {
        if (!failed.contains(all[r]["uuid"].get_ref<const std::string&>())) continue;
        positions.push_back(r);
        some.push_back(std::move(all[r]));
      }
      if (some.empty()) continue;
      all = std::move(some);
      fault = tav_req::taskFaultAt(t, task, positions);
    }
    if (fault) {
      reportFileError(path, fmt::format("tav-req would refuse it: {}", *fault));
      return std::nullopt;
    }
    for (const json& request : task["requests"]) rerun.insert(request["uuid"].get<std::string>());
    kept.requests += positions.size();
    kept.document.push_back(std::move(task));
  }
  return kept;
}

// The metadata entries of the rerun's requests, the same two ways.
std::optional<Kept> keptEntriesOf(const std::string& path, const UuidSet& rerun,
                                  UuidSet& described) {
  tav::progressPhase("reading " + path);
  if (std::optional<Kept> kept = scanRerunEntries(tav::readWholeFile(path), rerun, described)) {
    return kept;
  }
  // Entries by name or a lone entry are rare: those files are judged whole.
  std::optional<json> whole =
      usableDocument(path, "tav-rep", tav::SuiteFile::metadata, [](const json& document) {
        return document.is_array() ? std::nullopt : tav_rep::metadataFault(document);
      });
  if (!whole) return std::nullopt;
  Kept kept;
  kept.total = whole->size();
  described.clear();
  std::size_t k = 0;
  for (json& entry : *whole) {
    const std::size_t place = k++;
    const bool readable = entry.is_object() && entry.contains("uuid") && entry["uuid"].is_string();
    if (readable && !rerun.contains(entry["uuid"].get_ref<const std::string&>())) continue;
    if (const std::optional<std::string> fault = tav_rep::metadataEntryFault(entry)) {
      reportFileError(path, fmt::format("tav-rep would refuse it: [{}]: {}", place, *fault));
      return std::nullopt;
    }
    described.insert(entry["uuid"].get<std::string>());
    kept.document.push_back(std::move(entry));
  }
  return kept;
}

// Warns of each kept PUT that no kept DELETE of the same uri follows in its task: that DELETE
// passed, so it is not sent again, and what a granted PUT stores stays on the server.
void warnOfLonePuts(const std::string& path, const json& tasks) {
  FirstFew lone;
  for (const json& task : tasks) {
    const json& requests = task["requests"];
    std::vector<bool> alone(requests.size(), false);
    std::unordered_set<std::string> deletedLater;
    for (std::size_t r = requests.size(); r-- > 0;) {
      const std::string method = requests[r].value("method", "GET");
      const std::string& uri = requests[r]["uri"].get_ref<const std::string&>();
      if (method == "DELETE") deletedLater.insert(uri);
      if (method == "PUT") alone[r] = !deletedLater.contains(uri);
    }
    for (std::size_t r = 0; r < requests.size(); ++r) {
      if (alone[r]) lone.add([&] { return requests[r]["uuid"].get<std::string>(); });
    }
  }
  if (lone.empty()) return;
  reportFileWarning(path, fmt::format("{} of the rerun without a DELETE of the same uri after it "
                                      "in the rerun: {}; what a granted PUT stores stays on the "
                                      "server",
                                      tav::counted(lone.count(), "PUT", "PUTs"), lone.text()));
}

// Warns of each uuid that more than one kept request sends: their answers cannot be told apart,
// and the rerun's responses would answer it twice.
void warnOfSharedUuids(const std::string& path, const json& tasks) {
  std::unordered_map<std::string_view, std::size_t> sent;
  for (const json& task : tasks) {
    for (const json& request : task["requests"]) {
      ++sent[request["uuid"].get_ref<const std::string&>()];
    }
  }
  std::vector<std::string> shared;
  for (const auto& [uuid, times] : sent) {
    if (times > 1) shared.emplace_back(uuid);
  }
  if (shared.empty()) return;
  std::sort(shared.begin(), shared.end());
  FirstFew few;
  for (const std::string& uuid : shared) few.add([&] { return uuid; });
  reportFileWarning(path, fmt::format("{} of the rerun sent by more than one request: {}; their "
                                      "answers cannot be told apart",
                                      tav::counted(few.count(), "uuid", "uuids"), few.text()));
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
  bool failedTransfers = false;
  for (const auto& [uuid, outcome] : report.run->requests) {
    // The empty id of failed transfers belongs to no request; those requests fail by their own.
    if (!outcome.passed && uuid.empty()) failedTransfers = true;
    if (!outcome.passed && !uuid.empty()) failed.insert(uuid);
  }

  std::string configText;
  if (!options.config.empty()) {
    if (!usableDocument(options.config, "tav-rep", tav::SuiteFile::config, tav_rep::configFault)) {
      return 2;
    }
    configText = tav::readWholeFile(options.config);
  }
  if (failed.empty()) {
    tav::clearProgress();
    std::cout << (failedTransfers
                      ? fmt::format("nothing to rerun in {}: its only failure is the entry of "
                                    "failed transfers (\"\"), which names no request; no rerun "
                                    "suite written\n",
                                    options.report)
                      : fmt::format("nothing failed in {}: no rerun suite written\n",
                                    options.report));
    return 0;
  }

  UuidSet rerun;
  const std::optional<Kept> tasks = keptTasksOf(options.tasks, failed, rerun);
  if (!tasks) return 2;
  const json& keptTasks = tasks->document;
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
  warnOfLonePuts(options.tasks, keptTasks);
  warnOfSharedUuids(options.tasks, keptTasks);
  UuidSet described;
  const std::optional<Kept> metadata = keptEntriesOf(options.metadata, rerun, described);
  if (!metadata) return 2;
  const json& keptMetadata = metadata->document;
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
  // Without a configuration, an earlier rerun's in the folder would pass for this suite's.
  if (options.config.empty()) {
    files.addRemoval((dir / "config.json").string());
  } else {
    files.add((dir / "config.json").string(), std::move(configText));
  }
  if (!files.commit()) return 1;
  tav::clearProgress();
  std::cout << fmt::format("rerun suite in {}: {} in {} (of {} in {})\n", dir.string(),
                           tav::counted(tasks->requests, "request", "requests"),
                           tav::counted(keptTasks.size(), "task", "tasks"), tasks->total,
                           options.tasks);
  return 0;
}

}  // namespace tav_suite
