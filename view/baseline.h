// This run against an earlier one (--baseline): per request whether it failed anew, was fixed,
// still fails, passed both times or is new, and the requests the earlier run had that this one
// lacks. A new failure, or a failure that lost the answer it had, is a regression: what
// --fail-on new fails on.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "view/inputs.h"
#include "view/verdicts.h"

namespace tav_view {

struct BaselineCounts {
  std::size_t newFailures = 0;
  std::size_t fixed = 0;
  std::size_t stillFailing = 0;
  std::size_t added = 0;  // absent from the earlier run and passing now
  std::size_t gone = 0;
  std::size_t lostAnswers = 0;  // still failing, without the answer the earlier run had
};

struct Baseline {
  std::string file;
  bool everyRequest = false;  // false: a report.json, which names only failures
  BaselineCounts counts;
  std::vector<std::string> gone;  // sorted
};

// Reads the earlier run and marks each entry's change. Nothing, after one line on standard
// error, when the file cannot be used or shares no request id with this run.
std::optional<Baseline> compareWithBaseline(const std::string& file, const Inputs& inputs,
                                            std::vector<ViewEntry>& entries);

// "new failure", "fixed", "still failing", "passed", "new"; empty for Change::none.
std::string changeName(Change change);

// A failure that --fail-on new counts.
bool isRegression(const ViewEntry& entry);

// "against baseline B: new failures 1, fixed 2, still failing 3, new 4, gone 5"
std::string baselineLine(const Baseline& baseline);

}  // namespace tav_view
