#include "rep/mac_label.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/log_capture.h"

using tav_rep::MacLabel;
using tav_rep::parseMacLabel;
using tav_test::LogCapture;
using tav_test::LogRecords;

TEST(MacLabelTest, ALabelIsParsedSilently) {
  LogCapture log;
  const std::optional<MacLabel> label = parseMacLabel("2:0x1F");
  ASSERT_TRUE(label.has_value());
  EXPECT_EQ(label->level, 2);
  EXPECT_EQ(label->categories, 0x1fu);
  EXPECT_EQ(log.take(), LogRecords{});
}

TEST(MacLabelTest, RejectsTextsThatAreNotLabelsWithOneCriticalLineEach) {
  const std::string texts[] = {
      "",     "3",          "3:",          ":1",           "x:1",           "2:zz",
      "2::1", "0:80000000", "0:-80000001", "2147483648:0", "-2147483649:0", "0:100000000"};
  LogCapture log;
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseMacLabel(text).has_value());
    EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label " + text + "!"}}));
  }
}
