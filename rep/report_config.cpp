#include "rep/report_config.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "common/json_document.h"
#include "rep/json_fields.h"

namespace tav_rep {

namespace {

std::optional<ReportConfig> toReportConfig(const nlohmann::json& document) {
  ReportConfig config;
  config.check_body = document.at("check_body").get<bool>();
  config.body_template = document.at("body_template").get<std::string>();
  config.allowed_codes = toCodeSet(document.at("allowed_codes"));
  config.denied_codes = toCodeSet(document.at("denied_codes"));
  return config;
}

// fmt rejects a template for some label values only where a width comes from an argument: the
// value must fit an int, and it sets the text's size. Formatting with zeros and with the largest
// labels finds every template the body check could not format, and every width taken from a
// category mask, which could ask for gigabytes; a width from a level stays below 256.
bool bodyTemplateFormats(const std::string& bodyTemplate) {
  try {
    formatBodyTemplate(bodyTemplate, MacLabel{}, MacLabel{});
    const MacLabel largest{0xff, 0xffffffff};
    formatBodyTemplate(bodyTemplate, largest, largest);
  } catch (const fmt::format_error& error) {
    spdlog::critical("Failed to parse config: body_template \"{}\" cannot be formatted: {}",
                     bodyTemplate, error.what());
    return false;
  }
  return true;
}

}  // namespace

std::optional<ReportConfig> loadConfig(const std::filesystem::path& path) {
  std::optional<ReportConfig> config =
      tav::readJsonDocument(path, "Failed to parse config", toReportConfig);
  if (config && config->check_body && !bodyTemplateFormats(config->body_template)) return {};
  return config;
}

std::string formatBodyTemplate(const std::string& bodyTemplate, const MacLabel& subject,
                               const MacLabel& object) {
  const unsigned subjectLevel = subject.level;
  const unsigned subjectCategories = subject.categories;
  const unsigned objectLevel = object.level;
  const unsigned objectCategories = object.categories;
  return fmt::vformat(bodyTemplate,
                      fmt::make_format_args(fmt::arg("subj_mac_lev", subjectLevel),
                                            fmt::arg("subj_mac_cat", subjectCategories),
                                            fmt::arg("obj_mac_lev", objectLevel),
                                            fmt::arg("obj_mac_cat", objectCategories)));
}

}  // namespace tav_rep
