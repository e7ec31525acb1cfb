// The judgement of one answer: what the labels predict, compared with the code the server gave
// and, where configured, with the body.
#pragma once

#include <string>

#include "check_table.h"
#include "label_cache.h"
#include "report.h"
#include "report_config.h"

namespace tav_rep {

// Decides one entry; a failed entry's identifier goes into the report's failed list.
void checkEntry(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
                LabelCache& cache, Report& report);

// True when body checks are off, the formatted template is empty, or the body contains it.
bool checkBody(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config);

}  // namespace tav_rep
