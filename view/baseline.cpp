#include "view/baseline.h"

#include <fmt/format.h>

#include <algorithm>

#include "common/earlier_run.h"
#include "common/progress_line.h"

namespace tav_view {

namespace {

// No answer now: the code is 0 and in neither set, as the no-answer hint has it.
bool unanswered(const ViewEntry& view) {
  return view.entry->code == 0 && !view.verdict.code_allowed && !view.verdict.code_denied;
}

// `then` is the earlier run's outcome of the request, null when that run does not name it.
void mark(ViewEntry& view, const tav::EarlierOutcome* then, bool everyRequest,
          BaselineCounts& counts) {
  const bool passedNow = view.verdict.passed;
  if (!then && everyRequest) {
    view.change = passedNow ? Change::added : Change::newFailure;
  } else {
    // A report.json names only failures: a request it does not name passed in that run.
    const bool passedThen = !then || then->passed;
    if (passedNow) {
      view.change = passedThen ? Change::passed : Change::fixed;
    } else if (passedThen) {
      view.change = Change::newFailure;
    } else {
      view.change = Change::stillFailing;
      // A report.json does not say whether the failure had an answer: a failure without one
      // now counts as having lost it, so that --fail-on new does not hide it.
      view.lostAnswer = unanswered(view) && !view.uuid->empty() && then->answered;
    }
  }
  switch (view.change) {
    case Change::newFailure:
      ++counts.newFailures;
      break;
    case Change::fixed:
      ++counts.fixed;
      break;
    case Change::stillFailing:
      ++counts.stillFailing;
      counts.lostAnswers += view.lostAnswer ? 1 : 0;
      break;
    case Change::added:
      ++counts.added;
      break;
    case Change::passed:
    case Change::none:
      break;
  }
}

}  // namespace

std::optional<Baseline> compareWithBaseline(const std::string& file, const Inputs& inputs,
                                            std::vector<ViewEntry>& entries) {
  tav::progressPhase("reading " + file, "request", "requests");
  tav::EarlierRunRead read = tav::readEarlierRun(file);
  if (!read.run) {
    reportInputError(file, read.problem);
    return std::nullopt;
  }
  const tav::EarlierRun& earlier = *read.run;
  Baseline baseline;
  baseline.file = file;
  baseline.everyRequest = earlier.everyRequest;

  // Both in uuid order: one walk pairs them, and what the earlier run alone has is gone.
  std::vector<const tav::EarlierOutcome*> then(entries.size(), nullptr);
  auto earlierRequest = earlier.requests.begin();
  std::size_t inCommon = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& uuid = *entries[i].uuid;
    for (; earlierRequest != earlier.requests.end() && earlierRequest->uuid < uuid;
         ++earlierRequest) {
      if (!earlierRequest->uuid.empty()) baseline.gone.push_back(earlierRequest->uuid);
    }
    if (earlierRequest == earlier.requests.end() || earlierRequest->uuid != uuid) continue;
    then[i] = &earlierRequest->outcome;
    ++earlierRequest;
    // The empty id of failed transfers is in every run that had one; it says nothing about
    // which suite a file belongs to.
    inCommon += uuid.empty() ? 0 : 1;
  }
  for (; earlierRequest != earlier.requests.end(); ++earlierRequest) {
    if (!earlierRequest->uuid.empty()) baseline.gone.push_back(earlierRequest->uuid);
  }
  const std::size_t named = inCommon + baseline.gone.size();
  // A report.json of a run where nothing failed names no request: nothing to tell it by.
  if (inCommon == 0 && (earlier.everyRequest || named > 0)) {
    reportInputError(file, fmt::format("has no request id in common with this run ({} here, "
                                       "{} there): it is the report of another suite",
                                       inputs.table.size(), named));
    return std::nullopt;
  }
  baseline.counts.gone = baseline.gone.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    mark(entries[i], then[i], earlier.everyRequest, baseline.counts);
  }
  return baseline;
}

std::string changeName(Change change) {
  switch (change) {
    case Change::newFailure:
      return "new failure";
    case Change::fixed:
      return "fixed";
    case Change::stillFailing:
      return "still failing";
    case Change::passed:
      return "passed";
    case Change::added:
      return "new";
    case Change::none:
      break;
  }
  return {};
}

bool isRegression(const ViewEntry& entry) {
  return entry.change == Change::newFailure || entry.lostAnswer;
}

std::string baselineLine(const Baseline& baseline) {
  const BaselineCounts& c = baseline.counts;
  std::string line = fmt::format(
      "against baseline {}: new failures {}, fixed {}, still failing {}{}, new {}, gone {}",
      baseline.file, c.newFailures, c.fixed, c.stillFailing,
      c.lostAnswers == 0 ? std::string()
                         : fmt::format(" ({} lost {} answer)", c.lostAnswers,
                                       c.lostAnswers == 1 ? "its" : "their"),
      c.added, c.gone);
  if (!baseline.everyRequest) {
    line +=
        "; a report.json names only failures, so a request it does not name counts as "
        "passed there";
  }
  return line;
}

}  // namespace tav_view
