#include "rep/label_cache.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/log_capture.h"

using tav_rep::LabelCache;
using tav_test::LogCapture;
using tav_test::LogRecords;

// The test program stands between the checker and the label library to count creations and
// releases; every call still reaches the library.
namespace {
int createdLabels = 0;
int releasedLabels = 0;
}  // namespace

extern "C" zeml_t* zeml_get_new_init_mac(uint8_t level, int type, int flags, uint32_t categories,
                                         int reserved) {
  using Create = zeml_t* (*)(uint8_t, int, int, uint32_t, int);
  static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "zeml_get_new_init_mac"));
  zeml_t* label = next(level, type, flags, categories, reserved);
  if (label != nullptr) ++createdLabels;
  return label;
}

extern "C" void zeml_put(zeml_t* label) {
  using Put = void (*)(zeml_t*);
  static const auto next = reinterpret_cast<Put>(dlsym(RTLD_NEXT, "zeml_put"));
  ++releasedLabels;
  next(label);
}

namespace {

class LabelCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    createdLabels = 0;
    releasedLabels = 0;
  }
  void TearDown() override { unsetenv("ZEM_STANDIN_FAIL"); }

  LogCapture log;
};

}  // namespace

TEST_F(LabelCacheTest, OneLabelPerDistinctTextReleasedOnceAtClear) {
  {
    LabelCache cache;
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(cache.ensure("2:1f"));
    EXPECT_EQ(createdLabels, 1);
    // Texts are compared byte for byte, so another spelling of the same label is another entry.
    ASSERT_TRUE(cache.ensure("2:0x1f"));
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_EQ(createdLabels, 2);
    EXPECT_EQ(releasedLabels, 0);

    cache.clear();
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_EQ(releasedLabels, 2);

    ASSERT_TRUE(cache.ensure("2:1f"));
    EXPECT_EQ(createdLabels, 3);
  }
  // The destructor releases what is left.
  EXPECT_EQ(releasedLabels, 3);
  EXPECT_EQ(log.take(), LogRecords{});
}

TEST_F(LabelCacheTest, UnparsableTextIsNotStoredAndLoggedEveryTime) {
  LabelCache cache;
  LogRecords expected;
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(cache.ensure("2"));
    expected.push_back({"critical", "failed to parse mac label 2!"});
  }
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(createdLabels, 0);
  EXPECT_EQ(log.take(), expected);
}

TEST_F(LabelCacheTest, NullHandleFromTheLibraryIsNotStored) {
  setenv("ZEM_STANDIN_FAIL", "zeml_get_new_init_mac", 1);
  {
    LabelCache cache;
    EXPECT_FALSE(cache.ensure("2:1f"));
    EXPECT_EQ(cache.size(), 0u);
    EXPECT_FALSE(cache.validate("2:1f", "0:0", "3:ff").has_value());
    EXPECT_FALSE(cache.check("2:1f", "0:0").has_value());
  }
  EXPECT_EQ(releasedLabels, 0);
  EXPECT_EQ(log.take(), (LogRecords{{"error", "zeml_get_new_init_mac failed for mac label 2:1f"},
                                    {"error", "zeml_get_new_init_mac failed for mac label 2:1f"},
                                    {"error", "zeml_get_new_init_mac failed for mac label 2:1f"}}));

  unsetenv("ZEM_STANDIN_FAIL");
  LabelCache cache;
  EXPECT_TRUE(cache.ensure("2:1f"));
}

TEST_F(LabelCacheTest, ValidateIsTrueOnlyWhenTheSubjectLiesBetweenTheBounds) {
  struct Case {
    const char* subject;
    const char* min;
    const char* max;
    bool inRange;
  };
  const Case cases[] = {
      {"2:3", "2:3", "2:3", true},   // all equal
      {"2:3", "1:1", "3:7", true},   //
      {"2:3", "1:1", "3:5", false},  // category 0x2 missing from the upper bound
      {"2:3", "3:0", "3:7", false},  // below the lower bound's level
      {"4:3", "1:1", "3:7", false},  // above the upper bound's level
      {"2:2", "1:1", "3:7", false},  // lacks the lower bound's category 0x1
      {"0:0", "0:0", "255:-1", true},
      {"255:0", "0:0", "-1:-1", true},  // levels compare as unsigned 8-bit values
      {"0:-1", "0:0", "0:-1", true},    // and masks as unsigned numbers
  };
  LabelCache cache;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.subject) + " " + c.min + " " + c.max);
    EXPECT_EQ(cache.validate(c.subject, c.min, c.max), std::optional<bool>(c.inRange));
  }
  EXPECT_EQ(log.take(), LogRecords{});
}

TEST_F(LabelCacheTest, ValidateStopsAtTheFirstTextThatIsNotALabel) {
  LabelCache cache;
  EXPECT_FALSE(cache.validate("bad-subject", "bad-min", "bad-max").has_value());
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label bad-subject!"}}));

  EXPECT_FALSE(cache.validate("1:1", "bad-min", "bad-max").has_value());
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label bad-min!"}}));

  EXPECT_FALSE(cache.validate("1:1", "0:0", "").has_value());
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label !"}}));
  EXPECT_EQ(cache.size(), 2u);
}

TEST_F(LabelCacheTest, CheckAsksThePlatformForReadAccess) {
  LabelCache cache;
  // The stand-in grants a mode without the write bit when the subject dominates the object;
  // equal labels are not needed, so mode 5 reaches the library unchanged.
  EXPECT_EQ(cache.check("2:3", "1:1"), std::optional<bool>(true));
  EXPECT_EQ(cache.check("2:3", "2:3"), std::optional<bool>(true));
  EXPECT_EQ(cache.check("2:3", "3:1"), std::optional<bool>(false));
  EXPECT_EQ(cache.check("2:3", "1:4"), std::optional<bool>(false));
  EXPECT_EQ(log.take(), LogRecords{});

  EXPECT_FALSE(cache.check("x", "y").has_value());
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label x!"}}));
  EXPECT_FALSE(cache.check("2:3", "y").has_value());
  EXPECT_EQ(log.take(), (LogRecords{{"critical", "failed to parse mac label y!"}}));

  setenv("ZEM_STANDIN_FAIL", "zeml_permission", 1);
  EXPECT_EQ(cache.check("2:3", "1:1"), std::optional<bool>(false));
}
