#include "common/mac_label_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tav_test {
namespace {

using namespace tav;

TEST(MacLabelTextTest, ReadsDecimalLevelAndHexMaskLikeStoi) {
  struct Case {
    std::string text;
    unsigned level;
    std::uint32_t categories;
  };
  const Case cases[] = {
      {"2:1f", 2, 0x1f},
      {"2:0x1F", 2, 0x1f},
      {"2:0X1f", 2, 0x1f},
      {" 2:1f", 2, 0x1f},
      {"2: 1f", 2, 0x1f},
      {" 4: 1F", 4, 31},
      {"2x:1fzz", 2, 0x1f},
      {"5x:ay", 5, 10},
      {"3:1:ff", 3, 0x1},
      {"1:2:3", 1, 2},
      {"1:2:", 1, 2},
      {"0:0", 0, 0},
      {"3:0x10", 3, 16},
      {"+7:+a", 7, 0xa},
      {"+7:0X1", 7, 1},
      {"256:0", 0, 0},
      {"257:0", 1, 0},
      {"300:0", 44, 0},
      {"-1:0", 255, 0},
      {"-1:-1", 255, 0xffffffffu},
      {"0:-1", 0, 0xffffffff},
      {"0:7fffffff", 0, 0x7fffffff},
      {"6:7fffffff", 6, 0x7fffffffu},
      {"0:-80000000", 0, 0x80000000},
      {"2147483647:0", 255, 0},
      {"-2147483648:0", 0, 0},
      {"2:0x", 2, 0},
      {"1f:1", 1, 1},
      {std::string("2\0:1", 4), 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const MacLabelText parsed = parseMacLabelText(c.text);
    ASSERT_TRUE(parsed.label.has_value());
    EXPECT_EQ(parsed.label->level, c.level);
    EXPECT_EQ(parsed.label->categories, c.categories);
    EXPECT_EQ(parsed.error, "");
  }
}

TEST(MacLabelTextTest, NamesWhyATextIsNotALabel) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "it has no colon"},
      {"2", "it has no colon"},
      {"3", "it has no colon"},
      {"2:", "the category mask is not a number"},
      {"3:", "the category mask is not a number"},
      {":1", "the level is not a number"},
      {":1f", "the level is not a number"},
      {"a:1", "the level is not a number"},
      {"x:1", "the level is not a number"},
      {"2:zz", "the category mask is not a number"},
      {"2::1", "the category mask is not a number"},
      {"1::", "the category mask is not a number"},
      {"0:80000000", "the category mask is out of range"},
      {"1:80000000", "the category mask is out of range"},
      {"0:-80000001", "the category mask is out of range"},
      {"0:100000000", "the category mask is out of range"},
      {"2147483648:0", "the level is out of range"},
      {"-2147483649:0", "the level is out of range"},
  };
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    const MacLabelText parsed = parseMacLabelText(text);
    EXPECT_FALSE(parsed.label.has_value());
    EXPECT_EQ(parsed.error, reason);
  }
}

}  // namespace
}  // namespace tav_test
