#include "view/verdicts.h"

#include <fmt/format.h>

#include <algorithm>

#include "common/progress_line.h"
#include "rep/label_cache.h"

namespace tav_view {

using tav_rep::Prediction;
using tav_rep::VerdictReason;

namespace {

std::string refusedWrite(const tav_rep::CheckEntry& e) {
  return fmt::format("subject {} may not write object {}: the label library refuses write access",
                     e.subject_label, e.object_label);
}

}  // namespace

std::vector<ViewEntry> decideAll(const Inputs& inputs) {
  std::vector<ViewEntry> entries;
  entries.reserve(inputs.table.size());
  tav_rep::LabelCache labels;
  tav::progressPhase("deciding");
  for (const auto& [uuid, entry] : inputs.table) {
    tav::progressFraction(entries.size(), inputs.table.size());
    ViewEntry view{&uuid, &entry, tav_rep::decideEntry(uuid, entry, inputs.config, labels),
                   nullptr};
    if (const auto found = inputs.requests.find(uuid); found != inputs.requests.end()) {
      view.request = &found->second;
    }
    entries.push_back(std::move(view));
  }
  // Platform labels go back to the library before anything else is released.
  labels.clear();
  std::sort(entries.begin(), entries.end(),
            [](const ViewEntry& a, const ViewEntry& b) { return *a.uuid < *b.uuid; });
  return entries;
}

std::string predictionName(Prediction prediction) {
  switch (prediction) {
    case Prediction::granted:
      return "granted";
    case Prediction::refused:
      return "refused";
    case Prediction::none:
      break;
  }
  return "none";
}

std::string reasonName(VerdictReason reason) {
  switch (reason) {
    case VerdictReason::not_a_label:
      return "not_a_label";
    case VerdictReason::out_of_range:
      return "out_of_range";
    case VerdictReason::permitted:
      return "permitted";
    case VerdictReason::not_permitted:
      return "not_permitted";
    case VerdictReason::labels_ignored:
      break;
  }
  return "labels_ignored";
}

std::string whyPredicted(const ViewEntry& view) {
  const tav_rep::CheckEntry& e = *view.entry;
  const tav_rep::Verdict& v = view.verdict;
  switch (v.reason) {
    case VerdictReason::not_a_label: {
      if (v.bad_label.empty() && e.subject_label.empty() && e.object_label.empty()) {
        return "the metadata has no entry for this request";
      }
      if (v.bad_label.empty()) return "the label library gives no label for one of its labels";
      return fmt::format("\"{}\" is not a label: {}", v.bad_label,
                         tav::parseMacLabelText(v.bad_label).error);
    }
    case VerdictReason::out_of_range:
      return fmt::format("subject {} is outside the user's range {} to {}{}", e.subject_label,
                         e.min_mac_label, e.max_mac_label,
                         v.expect_ignore ? "; the server ignores labels, so any code passes" : "");
    case VerdictReason::permitted:
      if (e.write) {
        return fmt::format("subject {} may write object {}: the label library grants write access",
                           e.subject_label, e.object_label);
      }
      return fmt::format("subject {} dominates object {}", e.subject_label, e.object_label);
    case VerdictReason::not_permitted:
      if (e.write) return refusedWrite(e);
      return fmt::format("subject {} does not dominate object {}", e.subject_label, e.object_label);
    case VerdictReason::labels_ignored:
      break;
  }
  if (e.write) return refusedWrite(e) + ", but the server ignores labels";
  return fmt::format("subject {} does not dominate object {}, but the server ignores labels",
                     e.subject_label, e.object_label);
}

std::string codeVerdict(const ViewEntry& view, const tav_rep::ReportConfig& config) {
  const std::int64_t code = view.entry->code;
  const tav_rep::Verdict& v = view.verdict;
  if (code == 0 && !v.code_allowed && !v.code_denied) {
    return "code 0: no answer, the transfer failed";
  }
  if (v.body_missing) {
    std::string expected = config.body_template;
    const auto subject = tav::parseMacLabelText(view.entry->subject_label).label;
    const auto object = tav::parseMacLabelText(view.entry->object_label).label;
    if (subject && object) expected = tav_rep::formatBodyTemplate(expected, *subject, *object);
    return fmt::format("{} is an allowed code, but the body lacks \"{}\"", code, expected);
  }
  if (v.code_allowed && v.code_denied) {
    return fmt::format("{} is both an allowed and a denied code", code);
  }
  if (v.code_allowed) return fmt::format("{} is an allowed code", code);
  if (v.code_denied) return fmt::format("{} is a denied code", code);
  return fmt::format("{} is in neither the allowed nor the denied codes", code);
}

}  // namespace tav_view
