// tav-rep on one million entries, generated here: every entry is decided, exactly the
// entries built to fail are listed, and the run ends with status 0. tav-view on the same files
// fails the same set.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

constexpr int kEntries = 1000000;

// Every 1000th entry gets a code outside both sets; the others alternate between an object
// the subject may read (granted, body with the expected text) and one it may not (refused).
// Subjects hold category 1 and 127 others in turn, so the label cache has 128 subjects.
bool failing(int i) {
  return i % 1000 == 7;
}

TEST(HeavyRep, AMillionEntriesAreAllDecided) {
  tav_test::TempDir dir;
  std::filesystem::create_directory(dir / "log");
  std::filesystem::create_directory(dir / "out");
  {
    std::FILE* metadata = std::fopen((dir / "metadata.json").c_str(), "w");
    std::FILE* responses = std::fopen((dir / "responses.json").c_str(), "w");
    ASSERT_NE(metadata, nullptr);
    ASSERT_NE(responses, nullptr);
    std::fputs("[\n", metadata);
    std::fputs("[\n", responses);
    for (int i = 0; i < kEntries; ++i) {
      const bool granted = i % 2 == 0;
      const char* separator = i + 1 < kEntries ? ",\n" : "\n";
      fmt::print(metadata,
                 R"(  {{"uuid": "e{:07}", "object_label": "{}", "subject_label": "2:{:x}", )"
                 R"("min_mac_label": "0:0", "max_mac_label": "3:ff", )"
                 R"("expect_ignore_mac_label": false}}{})",
                 i, granted ? "1:1" : "3:1", 1 + i % 128 * 2, separator);
      const int code = failing(i) ? 500 : (granted ? 200 : 403);
      fmt::print(responses, R"(  {{"uuid": "e{:07}", "code": {}, "body": "{}"}}{})", i, code,
                 granted ? "<p>level 2</p>" : "", separator);
    }
    std::fputs("]\n", metadata);
    std::fputs("]\n", responses);
    ASSERT_EQ(std::fclose(metadata), 0);
    ASSERT_EQ(std::fclose(responses), 0);
  }
  tav_test::writeFile(dir / "config.json",
                      R"({"check_body": true, "body_template": "level {subj_mac_lev}",
                          "allowed_codes": [200], "denied_codes": [403]})");

  const auto result = tav_test::runProgram(
      {TAV_REP_PATH, "-d", (dir / "log").string(), "-m", (dir / "metadata.json").string(), "-r",
       (dir / "responses.json").string(), "-c", (dir / "config.json").string(), "-o",
       (dir / "out").string()});
  ASSERT_EQ(result.status, 0) << result.err;

  std::string expected = "{\n  \"failed_uuids\": [";
  for (int i = 0; i < kEntries; ++i) {
    if (failing(i)) expected += fmt::format("{}\n    \"e{:07}\"", i == 7 ? "" : ",", i);
  }
  expected += fmt::format("\n  ],\n  \"total_count\": {}\n}}", kEntries);
  EXPECT_TRUE(tav_test::readFile(dir / "out" / "report.json") == expected);
  EXPECT_EQ(tav_test::readLines(dir / "log" / "report.log").size(), 1u);

  // tav-view names each failure on a "FAIL uuid" line, in the order of report.json.
  const auto view = tav_test::runProgram(
      {TAV_VIEW_PATH, "-m", (dir / "metadata.json").string(), "-r",
       (dir / "responses.json").string(), "-c", (dir / "config.json").string(), "--json",
       (dir / "out" / "view.json").string(), "--junit", (dir / "out" / "junit.xml").string(),
       "--html", (dir / "out" / "report.html").string()});
  ASSERT_EQ(view.status, 1) << view.err;
  std::istringstream lines(view.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, fmt::format("requests {}, passed {}, failed {}", kEntries,
                              kEntries - kEntries / 1000, kEntries / 1000));
  std::string failed = "{\n  \"failed_uuids\": [";
  for (bool first = true; std::getline(lines, line);) {
    if (line.rfind("FAIL ", 0) != 0) continue;
    failed += fmt::format("{}\n    \"{}\"", first ? "" : ",", line.substr(5));
    first = false;
  }
  failed += fmt::format("\n  ],\n  \"total_count\": {}\n}}", kEntries);
  EXPECT_TRUE(failed == tav_test::readFile(dir / "out" / "report.json"));
}

}  // namespace
