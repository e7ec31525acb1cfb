// The report configuration: which codes mean granted and which refused, and the body template
// that granted answers must contain.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "rep/mac_label.h"

namespace tav_rep {

struct ReportConfig {
  bool check_body = false;
  std::string body_template;
  std::set<std::int64_t> allowed_codes;
  std::set<std::int64_t> denied_codes;
};

// Reads the configuration file. No value when it cannot be used: a JSON failure, or a body
// template that fmt rejects for some labels while `check_body` is set; the reason is logged at
// critical level.
std::optional<ReportConfig> loadConfig(const std::filesystem::path& path);

// Formats the body template with the named arguments subj_mac_lev, subj_mac_cat, obj_mac_lev
// and obj_mac_cat, in this order and all unsigned. Throws fmt::format_error for a template fmt
// rejects.
std::string formatBodyTemplate(const std::string& bodyTemplate, const MacLabel& subject,
                               const MacLabel& object);

}  // namespace tav_rep
