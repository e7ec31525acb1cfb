#include "mac_label.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "log_lines.h"

using tav_rep::MacLabel;
using tav_rep::parseMacLabel;
using tav_rep_test::Lines;
using tav_rep_test::LogLines;

namespace {

struct Parsed {
  std::string text;
  std::uint8_t level;
  std::uint32_t categories;
};

}  // namespace

TEST(MacLabelTest, ParsesByTheRulesOfStoi) {
  const Parsed cases[] = {
      {"2:1f", 2, 0x1f},
      {"2:0x1F", 2, 0x1f},
      {"2:0X1f", 2, 0x1f},
      {" 2:1f", 2, 0x1f},
      {"2: 1f", 2, 0x1f},
      {"2x:1fzz", 2, 0x1f},
      {"3:1:ff", 3, 0x1},
      {"0:0", 0, 0},
      {"+7:+a", 7, 0xa},
      {"256:0", 0, 0},
      {"257:0", 1, 0},
      {"-1:0", 255, 0},
      {"0:-1", 0, 0xffffffff},
      {"0:7fffffff", 0, 0x7fffffff},
      {"0:-80000000", 0, 0x80000000},
      {"2147483647:0", 255, 0},
      {"-2147483648:0", 0, 0},
      {"2:0x", 2, 0},
      {"1f:1", 1, 1},
      {std::string("2\0:1", 4), 2, 1},
  };
  LogLines log;
  for (const Parsed& expected : cases) {
    SCOPED_TRACE(expected.text);
    const std::optional<MacLabel> label = parseMacLabel(expected.text);
    ASSERT_TRUE(label.has_value());
    EXPECT_EQ(label->level, expected.level);
    EXPECT_EQ(label->categories, expected.categories);
  }
  EXPECT_EQ(log.take(), Lines{});
}

TEST(MacLabelTest, RejectsTextsThatAreNotLabelsWithOneCriticalLineEach) {
  const std::string texts[] = {
      "",     "3",          "3:",          ":1",           "x:1",           "2:zz",
      "2::1", "0:80000000", "0:-80000001", "2147483648:0", "-2147483649:0", "0:100000000"};
  LogLines log;
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parseMacLabel(text).has_value());
    EXPECT_EQ(log.take(), Lines{"critical: failed to parse mac label " + text + "!"});
  }
}
