// An earlier run as its report tells it: tav-view's --json file (every request, passed or not,
// with its code) or tav-rep's report.json (only the failed ids and the total). Told apart by
// content, read without building a tree, so a file of a million verdicts costs little.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tav {

struct EarlierOutcome {
  bool passed = false;
  bool answered = true;  // a code other than 0; unknown (taken as true) in a report.json
};

struct EarlierRequest {
  std::string uuid;
  EarlierOutcome outcome;
};

struct EarlierRun {
  // The verdicts of tav-view name every request; report.json names only the failed ones, so
  // a request it does not name passed or was not part of that run, which it cannot tell.
  bool everyRequest = false;
  // Sorted by uuid, as tav-view writes its verdicts, one per uuid: the last the file gives.
  std::vector<EarlierRequest> requests;
};

struct EarlierRunRead {
  std::optional<EarlierRun> run;
  std::string problem;  // in a person's words when there is no run
};

// Reads the file, counting its requests on the progress line (the phase is the caller's).
EarlierRunRead readEarlierRun(const std::filesystem::path& path);

}  // namespace tav
