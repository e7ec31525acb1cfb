// Inputs the fuzz targets in tests/fuzz found troublesome, kept as ordinary tests.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "rep/check_entry.h"
#include "rep/report_config.h"
#include "tests/support/test_support.h"

namespace {

using tav_rep::MacLabel;

class BodyTemplateRegression : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = spdlog::default_logger();
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(log_);
    sink->set_pattern("%l: %v");
    spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", std::move(sink)));
  }
  void TearDown() override { spdlog::set_default_logger(previous_); }

  // What was logged since the last call.
  std::string takeLog() {
    std::string text = log_.str();
    log_.str({});
    return text;
  }

  std::optional<tav_rep::ReportConfig> load(const std::string& bodyTemplate) {
    tav_test::writeFile(dir / "config.json",
                        R"({"check_body": true, "allowed_codes": [200], "denied_codes": [403],
                            "body_template": ")" +
                            bodyTemplate + "\"}");
    return tav_rep::loadConfig(dir / "config.json");
  }

  tav_test::TempDir dir;
  std::ostringstream log_;
  std::shared_ptr<spdlog::logger> previous_;
};

// A width taken from a category mask is as wide as the mask is large: 0x6f6c6c61 asked for a
// text of 1.8 GB, and masks above 7fffffff do not format at all. Such templates are rejected
// when the configuration is loaded, not met entry by entry.
TEST_F(BodyTemplateRegression, WidthFromACategoryMaskIsRejectedAtLoad) {
  for (const std::string bodyTemplate :
       {"{subj_mac_lev:{subj_mac_cat}}", "{obj_mac_lev:>{obj_mac_cat}}", "{0:{1}}", "{:{}}",
        "{subj_mac_cat:{3}}"}) {
    SCOPED_TRACE(bodyTemplate);
    EXPECT_FALSE(load(bodyTemplate).has_value());
    EXPECT_EQ(takeLog(), fmt::format("critical: Failed to parse config: body_template \"{}\" "
                                     "cannot be formatted: number is too big\n",
                                     bodyTemplate));
  }
}

// What remains accepted formats for every label: a width from a level is at most 255.
TEST_F(BodyTemplateRegression, AcceptedTemplatesFormatForTheExtremeLabels) {
  const MacLabel extremes[] = {{0, 0}, {255, 0xffffffff}, {1, 0x7fffffff}, {255, 0x80000000}};
  for (const std::string bodyTemplate :
       {"level {subj_mac_lev}", "{subj_mac_cat:#x}", "{obj_mac_cat:{subj_mac_lev}}", "{2:{0}}"}) {
    SCOPED_TRACE(bodyTemplate);
    const auto config = load(bodyTemplate);
    ASSERT_TRUE(config.has_value());
    for (const MacLabel& subject : extremes) {
      for (const MacLabel& object : extremes) {
        EXPECT_NO_THROW(tav_rep::formatBodyTemplate(config->body_template, subject, object));
      }
    }
  }
}

// The body check with the largest mask: the text a template asks for is found.
TEST_F(BodyTemplateRegression, BodyCheckWorksForTheLargestMask) {
  const auto config = load("{obj_mac_lev:>{subj_mac_lev}}|{subj_mac_cat:x}");
  ASSERT_TRUE(config.has_value());
  tav_rep::CheckEntry entry;
  entry.subject_label = "5:-1";
  entry.object_label = "3:0";
  entry.body = "<p>    3|ffffffff</p>";
  EXPECT_TRUE(tav_rep::checkBody("a", entry, *config));
  entry.body = "<p>3|ffffffff</p>";
  EXPECT_FALSE(tav_rep::checkBody("a", entry, *config));
}

}  // namespace
