// The judgement of one answer: what the labels predict, compared with the code the server gave
// and, where configured, with the body.
#pragma once

#include <cstdint>
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
};

// Decides one entry; a failed entry's identifier goes into the report's failed list.
void checkEntry(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
                LabelCache& cache, Report& report);

// True when body checks are off, the formatted template is empty, or the body contains it.
bool checkBody(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config);

}  // namespace tav_rep
