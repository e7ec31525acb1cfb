// Each program links exactly the libraries of its deliverable, as the dynamic section says.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

// The NEEDED entries of the program, without the C and C++ runtime.
std::set<std::string> neededLibraries(const std::string& program) {
  const auto result = tav_test::runProgram({"/usr/bin/readelf", "-d", program});
  EXPECT_EQ(result.status, 0) << result.err;
  std::set<std::string> needed;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("(NEEDED)") == std::string::npos) continue;
    const auto open = line.find('[');
    const std::string name = line.substr(open + 1, line.find(']') - open - 1);
    const std::string stem = name.substr(0, name.find(".so"));
    if (stem == "libc" || stem == "libm" || stem == "libstdc++" || stem == "libgcc_s" ||
        stem.rfind("libasan", 0) == 0 || stem.rfind("libubsan", 0) == 0) {
      continue;
    }
    needed.insert(name);
  }
  return needed;
}

}  // namespace

TEST(Linkage, RunnerLinksCurlLoggingAndBothPlatformLibraries) {
  EXPECT_EQ(neededLibraries(TAV_REQ_PATH),
            (std::set<std::string>{"libcurl.so.4", "libfmt.so.9", "libkorval-base.so.3",
                                   "libspdlog.so.1.10", "libzem.so.3"}));
}

TEST(Linkage, CheckerLinksLoggingAndTheLabelLibraryOnly) {
  EXPECT_EQ(neededLibraries(TAV_REP_PATH),
            (std::set<std::string>{"libfmt.so.9", "libspdlog.so.1.10", "libzem.so.3"}));
}

TEST(Linkage, ProbePageLinksTheCapabilityLibraryOnly) {
  EXPECT_EQ(neededLibraries(TAV_PCAPS_PATH), (std::set<std::string>{"libkorval-base.so.3"}));
}
