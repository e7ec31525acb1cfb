// The platform stand-ins' contract, which every other test relies on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "platform/korval.h"
#include "platform/zem.h"
#include "tests/support/test_support.h"

namespace {

struct LabelDeleter {
  void operator()(zeml_t* label) const { zeml_put(label); }
};
using Label = std::unique_ptr<zeml_t, LabelDeleter>;

Label makeLabel(uint8_t level, uint32_t categories) {
  return Label(zeml_get_new_init_mac(level, ZEML_TYPE_FULL, 0, categories, 0));
}

std::string text(const zeml_t* label) {
  char* raw = zeml_get_text(label, 0);
  if (raw == nullptr) return "(null)";
  std::string result(raw);
  free(raw);
  return result;
}

// Runs the body in a child that first becomes the user nobody; returns its exit status.
int asNobody(const std::function<int()>& body) {
  return tav_test::runInChild([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 99;
    return body();
  });
}

class StandinTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("ZEM_STANDIN_FAIL");
    unsetenv("KORVAL_STANDIN_FAIL");
  }
};

}  // namespace

TEST_F(StandinTest, LabelsKeepLevelAndCategoriesAndPrintAsText) {
  const Label a = makeLabel(2, 0x1f);
  const Label b = makeLabel(0, 0);
  const Label c = makeLabel(255, 0xffffffffu);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(zeml_lev(a.get()), 2);
  EXPECT_EQ(zeml_cat(a.get()), 0x1fu);
  EXPECT_EQ(zeml_cat(c.get()), 0xffffffffull);
  EXPECT_EQ(text(a.get()), "2:1f");
  EXPECT_EQ(text(b.get()), "0:0");
  EXPECT_EQ(text(c.get()), "255:ffffffff");
}

TEST_F(StandinTest, ReadingNeedsDominanceAndWritingNeedsEquality) {
  const Label high = makeLabel(3, 0x7);
  const Label mid = makeLabel(2, 0x3);
  const Label side = makeLabel(3, 0x8);
  EXPECT_EQ(zeml_permission(high.get(), mid.get(), ZEML_MODE_READ_EXEC), 0);
  EXPECT_EQ(zeml_permission(mid.get(), mid.get(), ZEML_MODE_READ_EXEC), 0);
  errno = 0;
  EXPECT_EQ(zeml_permission(mid.get(), high.get(), ZEML_MODE_READ_EXEC), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(zeml_permission(side.get(), mid.get(), ZEML_MODE_READ_EXEC),
            -1);  // level is enough, categories not
  EXPECT_EQ(zeml_permission(high.get(), mid.get(), 2), -1);
  EXPECT_EQ(zeml_permission(mid.get(), mid.get(), 7), 0);
}

TEST_F(StandinTest, ProcessLabelStartsAtZeroAndChangesOnlyForRoot) {
  EXPECT_EQ(text(zem_get_pid(0)), "0:0");
  EXPECT_EQ(zem_init(), 0);
  const Label label = makeLabel(1, 0x2);
  const int unprivileged = asNobody([&] {
    errno = 0;
    return zem_set_pid(0, label.get()) == -1 && errno == EPERM && text(zem_get_pid(0)) == "0:0" ? 0
                                                                                                : 1;
  });
  EXPECT_EQ(unprivileged, 0);
  if (!tav_test::isRoot()) GTEST_SKIP() << "needs root to apply a label";
  const int privileged = tav_test::runInChild([&] {
    const bool applied = zem_set_pid(0, label.get()) == 0;
    zem_release();  // the process label outlives the library's own state
    return applied && text(zem_get_pid(0)) == "1:2" ? 0 : 1;
  });
  EXPECT_EQ(privileged, 0);
}

TEST_F(StandinTest, CapabilitiesComeFromTheEnvironmentAndGoBackIntoIt) {
  const int status = tav_test::runInChild([] {
    // A fresh process image would read the variable at its first query.
    setenv("KORVAL_STANDIN_CAPS", "1 ffffffff 43c", 1);
    KorvalCaps caps{9, 9, 9};
    if (korval_capget(0, &caps) != 0) return 1;
    if (caps.effective != 1 || caps.permitted != 0xffffffffu || caps.inheritable != 0x43c) return 2;
    const KorvalCaps wanted{0x43c, 0x43c, 0x43c};
    if (tav_test::isRoot()) {
      if (korval_capset(0, &wanted) == -1) return 3;
      const char* stored = getenv("KORVAL_STANDIN_CAPS");
      if (stored == nullptr || std::string(stored) != "43c 43c 43c") return 4;
      if (korval_capget(0, &caps) != 0 || caps.effective != 0x43c) return 5;
    }
    if (setgid(65534) != 0 || setuid(65534) != 0) return 6;
    errno = 0;
    if (korval_capset(0, &wanted) != -1 || errno != EPERM) return 7;
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(StandinTest, CapabilitiesAreZeroWithoutTheVariable) {
  const int status = tav_test::runInChild([] {
    unsetenv("KORVAL_STANDIN_CAPS");
    KorvalCaps caps{9, 9, 9};
    return korval_capget(0, &caps) == 0 && caps.effective == 0 && caps.permitted == 0 &&
                   caps.inheritable == 0
               ? 0
               : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(StandinTest, InjectedFailuresFailWithEperm) {
  setenv("ZEM_STANDIN_FAIL", "zeml_permission,zem_init,zeml_get_new_init_mac", 1);
  setenv("KORVAL_STANDIN_FAIL", "korval_capget", 1);
  const Label label = makeLabel(0, 0);
  EXPECT_EQ(label, nullptr);
  errno = 0;
  EXPECT_EQ(zem_init(), -1);
  EXPECT_EQ(errno, EPERM);
  KorvalCaps caps{};
  errno = 0;
  EXPECT_EQ(korval_capget(0, &caps), -1);
  EXPECT_EQ(errno, EPERM);

  // A name that only starts like a listed one does not fail.
  setenv("ZEM_STANDIN_FAIL", "zem_init_extra,zem", 1);
  EXPECT_EQ(zem_init(), 0);
  const Label again = makeLabel(1, 1);
  ASSERT_NE(again, nullptr);
  setenv("ZEM_STANDIN_FAIL", "zeml_get_text", 1);
  EXPECT_EQ(text(again.get()), "(null)");
  setenv("ZEM_STANDIN_FAIL", "zem_set_pid", 1);
  errno = 0;
  EXPECT_EQ(zem_set_pid(0, again.get()), -1);
  EXPECT_EQ(errno, EPERM);
}
