// Every request of the table decided by tav-rep's own decision, in identifier order.
#pragma once

#include <string>
#include <vector>

#include "rep/check_entry.h"
#include "view/inputs.h"

namespace tav_view {

// What changed against an earlier run; none without one. A request the earlier run lacks is
// new when it passes and a new failure when it fails.
enum class Change { none, newFailure, fixed, stillFailing, passed, added };

struct ViewEntry {
  const std::string* uuid = nullptr;
  const tav_rep::CheckEntry* entry = nullptr;
  tav_rep::Verdict verdict;
  const RequestInfo* request = nullptr;  // null when no task names the request
  Change change = Change::none;
  bool lostAnswer = false;  // still failing, and without the answer the earlier run had
};

// Decides every entry of the inputs' table; the entries point into the inputs.
std::vector<ViewEntry> decideAll(const Inputs& inputs);

// The verdict in words: what the labels predict and why ("subject 1:1 does not dominate object
// 3:7"), and why the recorded code passes or fails ("200 is an allowed code").
std::string predictionName(tav_rep::Prediction prediction);
std::string reasonName(tav_rep::VerdictReason reason);
std::string whyPredicted(const ViewEntry& entry);
std::string codeVerdict(const ViewEntry& entry, const tav_rep::ReportConfig& config);

}  // namespace tav_view
