#include "rep/check_entry.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <optional>

namespace tav_rep {

namespace {

bool passes(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
            LabelCache& cache) {
  const bool inAllowed = config.allowed_codes.contains(entry.code);
  const bool inDenied = config.denied_codes.contains(entry.code);

  const std::optional<bool> inRange =
      cache.validate(entry.subject_label, entry.min_mac_label, entry.max_mac_label);
  if (!inRange) {
    spdlog::debug("failed to validate {}", uuid);
    return false;
  }
  spdlog::debug("validate uuid {}: {} -> {} & {} = {}, code = {}", uuid, entry.subject_label,
                entry.min_mac_label, entry.max_mac_label, *inRange, entry.code);
  // Outside the user's range the platform is not asked.
  if (!*inRange) return inDenied || entry.expect_ignore_mac_label;

  const std::optional<bool> permitted = cache.check(entry.subject_label, entry.object_label);
  if (!permitted) {
    spdlog::debug("failed to check {}", uuid);
    return false;
  }
  spdlog::debug("check uuid {}: {} -> {} = {}, code = {}", uuid, entry.subject_label,
                entry.object_label, *permitted, entry.code);
  if (*permitted) return inAllowed && checkBody(uuid, entry, config);
  if (!entry.expect_ignore_mac_label) return inDenied;
  return !inDenied && inAllowed && checkBody(uuid, entry, config);
}

}  // namespace

void checkEntry(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
                LabelCache& cache, Report& report) {
  if (!passes(uuid, entry, config, cache)) report.failed_uuids.insert(uuid);
}

bool checkBody(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config) {
  if (!config.check_body) return true;
  const std::optional<MacLabel> subject = parseMacLabel(entry.subject_label);
  const std::optional<MacLabel> object = parseMacLabel(entry.object_label);
  if (!subject || !object) {
    spdlog::debug("failed to check body for {}", uuid);
    return false;
  }
  std::string expected;
  try {
    expected = formatBodyTemplate(config.body_template, *subject, *object);
  } catch (const fmt::format_error& error) {
    // loadConfig rejects such templates; this only keeps a bad one from ending the run.
    spdlog::debug("failed to check body for {}: {}", uuid, error.what());
    return false;
  }
  if (expected.empty() || entry.body.find(expected) != std::string::npos) return true;
  spdlog::debug("message for {} doesn't contains {}", uuid, expected);
  return false;
}

}  // namespace tav_rep
