// The verdict carries the facts that explain it; tav-rep's own tests prove that its pass or
// fail and its log lines did not change.
#include <gtest/gtest.h>

#include "rep/check_entry.h"
#include "tests/support/log_capture.h"

using tav_rep::Prediction;
using tav_rep::VerdictReason;

namespace {

tav_rep::CheckEntry entry(const std::string& subject, const std::string& object, std::int64_t code,
                          bool expectIgnore = false) {
  tav_rep::CheckEntry e;
  e.subject_label = subject;
  e.min_mac_label = "0:0";
  e.max_mac_label = "3:7";
  e.object_label = object;
  e.code = code;
  e.expect_ignore_mac_label = expectIgnore;
  return e;
}

TEST(VerdictTest, EveryRuleNamesItsReasonAndFacts) {
  tav_test::LogCapture log;
  tav_rep::ReportConfig config;
  config.allowed_codes = {200};
  config.denied_codes = {401, 403};
  config.check_body = true;
  config.body_template = "object label {obj_mac_lev}:{obj_mac_cat:x}";
  tav_rep::LabelCache cache;
  const auto decide = [&](const tav_rep::CheckEntry& e) {
    return tav_rep::decideEntry("u", e, config, cache);
  };

  const tav_rep::Verdict refused = decide(entry("1:1", "3:7", 200));
  EXPECT_FALSE(refused.passed);
  EXPECT_EQ(refused.predicted, Prediction::refused);
  EXPECT_EQ(refused.reason, VerdictReason::not_permitted);
  EXPECT_EQ(refused.in_range, true);
  EXPECT_EQ(refused.permitted, false);
  EXPECT_TRUE(refused.code_allowed);
  EXPECT_FALSE(refused.code_denied);

  tav_rep::CheckEntry granted = entry("3:7", "1:1", 200);
  granted.body = "<p>object label 1:1</p>";
  const tav_rep::Verdict pass = decide(granted);
  EXPECT_TRUE(pass.passed);
  EXPECT_EQ(pass.reason, VerdictReason::permitted);
  EXPECT_EQ(pass.predicted, Prediction::granted);
  granted.body = "<p>object label 3:7</p>";
  EXPECT_TRUE(decide(granted).body_missing);
  EXPECT_FALSE(decide(granted).passed);

  const tav_rep::Verdict ignored = decide(entry("1:1", "3:7", 200, true));
  EXPECT_EQ(ignored.reason, VerdictReason::labels_ignored);
  EXPECT_TRUE(ignored.expect_ignore);
  EXPECT_TRUE(ignored.body_missing);

  const tav_rep::Verdict outside = decide(entry("4:7", "1:1", 500, true));
  EXPECT_TRUE(outside.passed);
  EXPECT_EQ(outside.reason, VerdictReason::out_of_range);
  EXPECT_EQ(outside.predicted, Prediction::none);
  EXPECT_FALSE(outside.permitted.has_value());

  const tav_rep::Verdict badObject = decide(entry("1:1", "x:1", 403));
  EXPECT_FALSE(badObject.passed);
  EXPECT_EQ(badObject.reason, VerdictReason::not_a_label);
  EXPECT_EQ(badObject.bad_label, "x:1");
  EXPECT_EQ(decide(entry("2", "1:1", 403)).bad_label, "2");
  EXPECT_FALSE(decide(entry("", "1:1", 403)).in_range.has_value());
}

}  // namespace
