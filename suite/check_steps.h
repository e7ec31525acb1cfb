// The steps of `tav-suite check` and what they share: the suite as the programs' own loaders
// took it, and the places findings name ("tasks[2] (user daemon)", "[7]").
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/mac_label_text.h"
#include "rep/check_entry.h"
#include "rep/report_config.h"
#include "req/task.h"
#include "suite/check.h"
#include "suite/user_access.h"

namespace tav_suite {

// A metadata entry in file order: its uuid and the labels tav-rep keeps for it (those of the
// last entry with that uuid).
struct MetadataEntry {
  const std::string* uuid = nullptr;
  const tav_rep::CheckEntry* labels = nullptr;
};

// A label text as the programs read it and whether that is what it says; parsed once each.
struct LabelReading {
  tav::MacLabelText read;
  bool asWritten = false;
};

class LabelTexts {
 public:
  const LabelReading& parse(const std::string& text);

 private:
  std::unordered_map<std::string, LabelReading> parsed_;
};

// "tasks[2] (user daemon)"
std::string taskWhere(const std::vector<tav_req::Task>& tasks, std::size_t task);

// A folder that cannot be looked at counts as missing.
bool isFolder(const std::string& path);

// Labels of the metadata: texts that are no label, texts read as something else, empty ranges
// and subjects outside their range.
void checkMetadataLabels(const std::string& path, const std::vector<MetadataEntry>& entries,
                         LabelTexts& texts, Findings& findings);

// The tasks' mac_label texts as written, by task, which the loaded tasks no longer hold; read
// without building the document. Empty for a file that does not parse.
std::vector<std::optional<std::string>> scanTaskLabelTexts(const std::string& path);

// The texts of the scan that the programs read as something else than written.
void checkTaskLabelTexts(const std::string& path, const std::vector<tav_req::Task>& tasks,
                         const std::vector<std::optional<std::string>>& labels, LabelTexts& texts,
                         Findings& findings);

// Requests against metadata: each uuid once on each side, and the same subject label.
// bodyCheckingConfig: the configuration's name when it checks bodies against a template that
// is not empty, else empty.
void checkCrossReferences(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                          const std::string& metadataPath,
                          const std::vector<MetadataEntry>& entries, LabelTexts& texts,
                          const std::string& bodyCheckingConfig, Findings& findings);

// Request URLs: tav-req sends only http and https.
void checkRequestUrls(const std::string& path, const std::vector<tav_req::Task>& tasks,
                      Findings& findings);

// Writes that may stay on the server: a PUT without a DELETE of the same uri after it in its
// task.
void checkWriteCleanup(const std::string& path, const std::vector<tav_req::Task>& tasks,
                       Findings& findings);

// Codes a write's success comes with that the configuration names in neither set: 201 for a
// PUT, 204 for a DELETE; each such success would fail as a code in neither set.
void checkWriteCodes(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                     const std::string& configPath, const tav_rep::ReportConfig& config,
                     Findings& findings);

// The task users: that they exist, reach their ticket caches and can write the output folder.
void checkTaskUsers(const std::string& path, const std::vector<tav_req::Task>& tasks,
                    const CheckOptions& options, AccessProbe& probe, Findings& findings);

}  // namespace tav_suite
