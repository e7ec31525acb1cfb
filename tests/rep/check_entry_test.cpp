// The decision for one entry, row by row, with the lines each row logs.
#include "rep/check_entry.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/log_capture.h"

using tav_rep::CheckEntry;
using tav_rep::ReportConfig;
using tav_test::LogCapture;
using tav_test::LogRecord;
using tav_test::LogRecords;

namespace {

// Subject 2:3 inside the range [1:1, 3:7]; the stand-in grants it access to 1:1 and refuses 3:1.
constexpr const char* kGranted = "1:1";
constexpr const char* kRefused = "3:1";

class CheckEntryTest : public ::testing::Test {
 protected:
  CheckEntryTest() {
    config.allowed_codes = {200, 299};
    config.denied_codes = {403, 299};
  }

  static CheckEntry entry(std::int64_t code, const std::string& object, bool expectIgnore = false,
                          const std::string& subject = "2:3") {
    CheckEntry e;
    e.subject_label = subject;
    e.min_mac_label = "1:1";
    e.max_mac_label = "3:7";
    e.object_label = object;
    e.code = code;
    e.expect_ignore_mac_label = expectIgnore;
    return e;
  }
  // Outside the range: level 4 is above the upper bound.
  static CheckEntry outOfRange(std::int64_t code, bool expectIgnore) {
    return entry(code, kGranted, expectIgnore, "4:3");
  }

  bool passes(const CheckEntry& e) {
    tav_rep::Report report;
    tav_rep::checkEntry("u", e, config, cache, report);
    EXPECT_TRUE(report.failed_uuids.empty() || report.failed_uuids == std::set<std::string>{"u"});
    return report.failed_uuids.empty();
  }

  ReportConfig config;
  tav_rep::LabelCache cache;
  LogCapture log;
};

}  // namespace

TEST_F(CheckEntryTest, SubjectNotALabelFailsWithoutAnswers) {
  EXPECT_FALSE(passes(entry(200, kGranted, false, "")));
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label !"},
                                    {"debug", "failed to validate u"}}));
  EXPECT_FALSE(passes(entry(403, kGranted, true, "2")));
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label 2!"},
                                    {"debug", "failed to validate u"}}));
}

TEST_F(CheckEntryTest, OutOfRangeWithoutExpectIgnorePassesOnlyWithADeniedCode) {
  EXPECT_TRUE(passes(outOfRange(403, false)));
  EXPECT_EQ(log.take(),
            (LogRecords{{"debug", "validate uuid u: 4:3 -> 1:1 & 3:7 = false, code = 403"}}));
  EXPECT_TRUE(passes(outOfRange(299, false)));
  EXPECT_FALSE(passes(outOfRange(200, false)));
  EXPECT_FALSE(passes(outOfRange(0, false)));
  EXPECT_FALSE(passes(outOfRange(500, false)));
  // The platform is not asked, so an object that is not a label is never parsed.
  CheckEntry badObject = outOfRange(403, false);
  badObject.object_label = "bad";
  EXPECT_TRUE(passes(badObject));
  log.take();
  EXPECT_EQ(cache.size(), 3u);
}

TEST_F(CheckEntryTest, OutOfRangeWithExpectIgnorePassesWhateverTheCode) {
  for (const std::int64_t code : {0, 200, 299, 403, 500, -1}) {
    SCOPED_TRACE(code);
    EXPECT_TRUE(passes(outOfRange(code, true)));
  }
}

TEST_F(CheckEntryTest, ObjectNotALabelFailsAfterTheRangeLine) {
  EXPECT_FALSE(passes(entry(200, "", false)));
  EXPECT_EQ(log.take(),
            (LogRecords{{"debug", "validate uuid u: 2:3 -> 1:1 & 3:7 = true, code = 200"},
                        {"critical", "failed to parse mac label !"},
                        {"debug", "failed to check u"}}));
  EXPECT_FALSE(passes(entry(403, "x:1", true)));
  EXPECT_EQ(log.take(),
            (LogRecords{{"debug", "validate uuid u: 2:3 -> 1:1 & 3:7 = true, code = 403"},
                        {"critical", "failed to parse mac label x:1!"},
                        {"debug", "failed to check u"}}));
}

TEST_F(CheckEntryTest, GrantedPassesOnlyWithAnAllowedCode) {
  EXPECT_TRUE(passes(entry(200, kGranted)));
  EXPECT_EQ(log.take(),
            (LogRecords{{"debug", "validate uuid u: 2:3 -> 1:1 & 3:7 = true, code = 200"},
                        {"debug", "check uuid u: 2:3 -> 1:1 = true, code = 200"}}));
  // The denied set is not looked at, nor is expect_ignore_mac_label.
  EXPECT_TRUE(passes(entry(299, kGranted)));
  EXPECT_TRUE(passes(entry(200, kGranted, true)));
  EXPECT_FALSE(passes(entry(403, kGranted)));
  EXPECT_FALSE(passes(entry(403, kGranted, true)));
  // No response for the identifier leaves code 0.
  EXPECT_FALSE(passes(entry(0, kGranted)));
}

TEST_F(CheckEntryTest, RefusedWithoutExpectIgnorePassesOnlyWithADeniedCode) {
  EXPECT_TRUE(passes(entry(403, kRefused)));
  EXPECT_EQ(log.take(),
            (LogRecords{{"debug", "validate uuid u: 2:3 -> 1:1 & 3:7 = true, code = 403"},
                        {"debug", "check uuid u: 2:3 -> 3:1 = false, code = 403"}}));
  EXPECT_TRUE(passes(entry(299, kRefused)));
  EXPECT_FALSE(passes(entry(200, kRefused)));
  EXPECT_FALSE(passes(entry(0, kRefused)));
}

TEST_F(CheckEntryTest, RefusedWithExpectIgnoreNeedsAnAllowedCodeThatIsNotDenied) {
  EXPECT_TRUE(passes(entry(200, kRefused, true)));
  EXPECT_FALSE(passes(entry(299, kRefused, true)));
  EXPECT_FALSE(passes(entry(403, kRefused, true)));
  EXPECT_FALSE(passes(entry(500, kRefused, true)));
}

TEST_F(CheckEntryTest, BodyCheckDecidesTheRowsThatLeadToIt) {
  config.check_body = true;
  config.body_template = "level {subj_mac_lev}";
  for (CheckEntry e : {entry(200, kGranted), entry(200, kRefused, true)}) {
    SCOPED_TRACE(e.object_label);
    e.body = "<p>level 2</p>";
    EXPECT_TRUE(passes(e));
    e.body = "<p>Level 2</p>";
    EXPECT_FALSE(passes(e));
    e.body = "";
    EXPECT_FALSE(passes(e));
    const LogRecords lines = log.take();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[4], (LogRecord{"debug", "message for u doesn't contains level 2"}));
    EXPECT_EQ(lines[7], (LogRecord{"debug", "message for u doesn't contains level 2"}));
  }
  // Rows that pass on a denied code never look at the body.
  EXPECT_TRUE(passes(entry(403, kRefused)));
  EXPECT_TRUE(passes(outOfRange(200, true)));
}

TEST_F(CheckEntryTest, EveryFailedIdentifierIsListedOnce) {
  tav_rep::Report report;
  const CheckEntry failing = entry(500, kGranted);
  tav_rep::checkEntry("b", failing, config, cache, report);
  tav_rep::checkEntry("a", failing, config, cache, report);
  tav_rep::checkEntry("b", failing, config, cache, report);
  tav_rep::checkEntry("", failing, config, cache, report);
  tav_rep::checkEntry("ok", entry(200, kGranted), config, cache, report);
  EXPECT_EQ(report.failed_uuids, (std::set<std::string>{"", "a", "b"}));
  EXPECT_EQ(report.total_count, 0u);
}

TEST_F(CheckEntryTest, PerEntryLinesAreDebugOnly) {
  LogCapture infoLog(spdlog::level::info);
  EXPECT_FALSE(passes(entry(500, kGranted)));
  EXPECT_FALSE(passes(entry(200, "bad")));
  EXPECT_EQ(infoLog.take(), (LogRecords{{"critical", "failed to parse mac label bad!"}}));
}

TEST(CheckBodyTest, ComparesTheFormattedTemplateWithTheBody) {
  LogCapture log;
  ReportConfig config;
  config.body_template = "{subj_mac_cat:x}/{obj_mac_lev}";
  CheckEntry e;
  e.subject_label = "2:1f";
  e.object_label = "1:1";
  e.body = "caps 1f/1 end";
  // Without check_body nothing is looked at, not even the labels.
  e.subject_label = "bad";
  EXPECT_TRUE(tav_rep::checkBody("u", e, config));
  EXPECT_EQ(log.take(), LogRecords{});

  config.check_body = true;
  e.subject_label = "2:1f";
  EXPECT_TRUE(tav_rep::checkBody("u", e, config));
  e.body = "caps 1F/1 end";
  EXPECT_FALSE(tav_rep::checkBody("u", e, config));
  EXPECT_EQ(log.take(), (LogRecords{{"debug", "message for u doesn't contains 1f/1"}}));

  e.subject_label = "bad";
  EXPECT_FALSE(tav_rep::checkBody("u", e, config));
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label bad!"},
                                    {"debug", "failed to check body for u"}}));
  // Both texts are parsed before either is judged.
  e.object_label = "";
  EXPECT_FALSE(tav_rep::checkBody("u", e, config));
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label bad!"},
                                    {"critical", "failed to parse mac label !"},
                                    {"debug", "failed to check body for u"}}));
  e.subject_label = "2:1f";
  e.object_label = "1";
  EXPECT_FALSE(tav_rep::checkBody("u", e, config));
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label 1!"},
                                    {"debug", "failed to check body for u"}}));
}

TEST(CheckBodyTest, EmptyTextPassesAndARejectedTemplateFailsWithoutThrowing) {
  LogCapture log;
  ReportConfig config;
  config.check_body = true;
  CheckEntry e;
  e.subject_label = "2:1f";
  e.object_label = "1:1";
  config.body_template = "";
  EXPECT_TRUE(tav_rep::checkBody("u", e, config));

  // loadConfig rejects such a template; the body check still survives one.
  config.body_template = "{nope}";
  bool result = true;
  EXPECT_NO_THROW(result = tav_rep::checkBody("u", e, config));
  EXPECT_FALSE(result);
  EXPECT_EQ(log.take(), (LogRecords{{"debug", "failed to check body for u: argument not found"}}));
}
