#include "rep/report_config.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <cstddef>
#include <iterator>

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

// The longest body text a template may make: a body is an answer of a web server, and a width
// of billions would cost as many bytes of memory for every request.
constexpr std::size_t kLongestBodyText = std::size_t{1} << 20;

// An output iterator that counts what a format writes and stops it past kLongestBodyText, so
// that a huge width costs no memory and little time.
class BoundedCount {
 public:
  struct TooLong {};
  using iterator_category = std::output_iterator_tag;
  using value_type = void;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = void;

  explicit BoundedCount(std::size_t* count) : count_(count) {}
  BoundedCount& operator*() { return *this; }
  BoundedCount& operator++() { return *this; }
  BoundedCount operator++(int) { return *this; }
  BoundedCount& operator=(char) {
    if (++*count_ > kLongestBodyText) throw TooLong{};
    return *this;
  }

 private:
  std::size_t* count_;
};

// Whether the template's text for the labels stays within kLongestBodyText.
bool fitsTheLimit(const std::string& bodyTemplate, const MacLabel& subject,
                  const MacLabel& object) {
  std::size_t count = 0;
  try {
    const unsigned subjectLevel = subject.level;
    const unsigned subjectCategories = subject.categories;
    const unsigned objectLevel = object.level;
    const unsigned objectCategories = object.categories;
    fmt::vformat_to(BoundedCount(&count), bodyTemplate,
                    fmt::make_format_args(fmt::arg("subj_mac_lev", subjectLevel),
                                          fmt::arg("subj_mac_cat", subjectCategories),
                                          fmt::arg("obj_mac_lev", objectLevel),
                                          fmt::arg("obj_mac_cat", objectCategories)));
  } catch (const BoundedCount::TooLong&) {
    return false;
  }
  return true;
}

// fmt rejects a template for some label values only where a width comes from an argument: the
// value must fit an int, and it sets the text's size. Formatting with zeros and with the largest
// labels finds every template the body check could not format, and every width taken from a
// category mask, which could ask for gigabytes; a width from a level stays below 256. The text's
// length is measured before it is made.
bool bodyTemplateFormats(const std::string& bodyTemplate) {
  const MacLabel largest{0xff, 0xffffffff};
  try {
    for (const MacLabel& label : {MacLabel{}, largest}) {
      if (!fitsTheLimit(bodyTemplate, label, label)) {
        spdlog::critical(
            "Failed to parse config: body_template \"{}\" cannot be formatted: its text for "
            "label {}:{:x} would be longer than {} bytes",
            bodyTemplate, static_cast<unsigned>(label.level), label.categories, kLongestBodyText);
        return false;
      }
      formatBodyTemplate(bodyTemplate, label, label);
    }
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
