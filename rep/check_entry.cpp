#include "rep/check_entry.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <initializer_list>
#include <optional>

namespace tav_rep {

namespace {

// The first of the texts that is not a label; empty when the parser takes them all (the label
// library refused one).
std::string firstBadLabel(std::initializer_list<const std::string*> texts) {
  for (const std::string* text : texts) {
    if (!tav::parseMacLabelText(*text).label) return *text;
  }
  return {};
}

}  // namespace

Verdict decideEntry(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
                    LabelCache& cache) {
  Verdict verdict;
  verdict.code_allowed = config.allowed_codes.contains(entry.code);
  verdict.code_denied = config.denied_codes.contains(entry.code);

  verdict.in_range = cache.validate(entry.subject_label, entry.min_mac_label, entry.max_mac_label);
  if (!verdict.in_range) {
    spdlog::debug("failed to validate {}", uuid);
    verdict.bad_label =
        firstBadLabel({&entry.subject_label, &entry.min_mac_label, &entry.max_mac_label});
    return verdict;
  }
  spdlog::debug("validate uuid {}: {} -> {} & {} = {}, code = {}", uuid, entry.subject_label,
                entry.min_mac_label, entry.max_mac_label, *verdict.in_range, entry.code);
  // Outside the user's range the platform is not asked.
  if (!*verdict.in_range) {
    verdict.reason = VerdictReason::out_of_range;
    verdict.expect_ignore = entry.expect_ignore_mac_label;
    verdict.predicted = verdict.expect_ignore ? Prediction::none : Prediction::refused;
    verdict.passed = verdict.code_denied || verdict.expect_ignore;
    return verdict;
  }

  verdict.permitted = cache.check(entry.subject_label, entry.object_label,
                                  entry.write ? ZEML_MODE_WRITE : ZEML_MODE_READ_EXEC);
  if (!verdict.permitted) {
    spdlog::debug("failed to check {}", uuid);
    verdict.bad_label = firstBadLabel({&entry.subject_label, &entry.object_label});
    return verdict;
  }
  spdlog::debug("check uuid {}: {} -> {} = {}, code = {}{}", uuid, entry.subject_label,
                entry.object_label, *verdict.permitted, entry.code, entry.write ? ", write" : "");
  if (*verdict.permitted) {
    verdict.reason = VerdictReason::permitted;
    verdict.predicted = Prediction::granted;
    // A write's answer says how the write went; only a read's carries the object's text.
    verdict.body_missing = verdict.code_allowed && !entry.write && !checkBody(uuid, entry, config);
    verdict.passed = verdict.code_allowed && !verdict.body_missing;
    return verdict;
  }
  if (!entry.expect_ignore_mac_label) {
    verdict.reason = VerdictReason::not_permitted;
    verdict.predicted = Prediction::refused;
    verdict.passed = verdict.code_denied;
    return verdict;
  }
  verdict.reason = VerdictReason::labels_ignored;
  verdict.expect_ignore = true;
  verdict.predicted = Prediction::granted;
  const bool codeFits = !verdict.code_denied && verdict.code_allowed;
  verdict.body_missing = codeFits && !entry.write && !checkBody(uuid, entry, config);
  verdict.passed = codeFits && !verdict.body_missing;
  return verdict;
}

void checkEntry(const std::string& uuid, const CheckEntry& entry, const ReportConfig& config,
                LabelCache& cache, Report& report) {
  if (!decideEntry(uuid, entry, config, cache).passed) report.failed_uuids.insert(uuid);
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
