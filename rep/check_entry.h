// The judgement of one answer: what the labels predict, compared with the code the server gave
// and, where configured, with the body.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "rep/label_cache.h"
#include "rep/report.h"
#include "rep/report_config.h"

namespace tav_rep {

// What the checker knows of one request: the metadata's labels and the recorded answer. Every
// field starts empty, 0 or false and is filled from whichever file names the request.
struct CheckEntry {
  std::string object_label;
  std::string subject_label;
  std::string min_mac_label;
  std::string max_mac_label;
  std::string body;
  std::int64_t code = 0;
  bool expect_ignore_mac_label = false;
  bool write = false;  // "access": "write": the label library is asked for write access, and
                       // the body is not checked
};

// What the labels predict for a request: an allowed code, a denied code, or nothing (a label
// that is not a label, or a subject outside its range whose server ignores labels).
enum class Prediction { granted, refused, none };

// The rule that decided an entry.
enum class VerdictReason {
  not_a_label,     // a label text gives no platform label; the entry fails
  out_of_range,    // the subject lies outside the user's range; the platform is not asked
  permitted,       // the platform grants the subject access to the object (in the entry's mode)
  not_permitted,   // the platform refuses it
  labels_ignored,  // the platform refuses it, but the server is expected to ignore labels
};

// One decision with the facts that explain it.
struct Verdict {
  bool passed = false;
  Prediction predicted = Prediction::none;
  VerdictReason reason = VerdictReason::not_a_label;
  std::optional<bool> in_range;   // no value when a label of the range check is not a label
  std::optional<bool> permitted;  // asked only inside the range
  bool expect_ignore = false;     // expect_ignore_mac_label changed the rule applied
  bool code_allowed = false;
  bool code_denied = false;
  bool body_missing = false;  // the body check ran and the body lacks the expected text
  std::string bad_label;      // the first label text that the text parser rejects
};

// Decides one entry, logging as checkEntry does.
Verdict decideEntry(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
                    LabelCache& cache);

// Decides one entry; a failed entry's identifier goes into the report's failed list.
void checkEntry(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
                LabelCache& cache, Report& report);

// True when body checks are off, the formatted template is empty, or the body contains it.
bool checkBody(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config);

}  // namespace tav_rep
