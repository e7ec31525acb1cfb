#include "rep/report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

using tav_rep::Report;
using tav_test::LogCapture;
using tav_test::LogRecords;

TEST(ReportTest, JsonHasTheSortedFailedListAndTheTotal) {
  Report report;
  report.total_count = 3;
  report.failed_uuids = {"b"};
  EXPECT_EQ(tav_rep::reportToJson(report).dump(2),
            "{\n  \"failed_uuids\": [\n    \"b\"\n  ],\n  \"total_count\": 3\n}");

  report.failed_uuids = {"a", "B", "", "\xc3\xa4"};
  report.total_count = 18446744073709551615u;
  EXPECT_EQ(tav_rep::reportToJson(report).dump(2),
            "{\n  \"failed_uuids\": [\n    \"\",\n    \"B\",\n    \"a\",\n    \"\xc3\xa4\"\n  ],\n"
            "  \"total_count\": 18446744073709551615\n}");

  report.failed_uuids.clear();
  EXPECT_EQ(tav_rep::reportToJson(report).dump(2),
            "{\n  \"failed_uuids\": [],\n  \"total_count\": 18446744073709551615\n}");
}

TEST(ReportTest, WriteSavesTheWholeTextOrSaysWhyNot) {
  LogCapture log;
  tav_test::TempDir dir;
  Report report;
  report.total_count = 1;
  report.failed_uuids = {"\xc3\xa4"};
  ASSERT_TRUE(tav_rep::writeReport(dir.path(), report));
  EXPECT_EQ(tav_test::readFile(dir / "report.json"),
            "{\n  \"failed_uuids\": [\n    \"\xc3\xa4\"\n  ],\n  \"total_count\": 1\n}");
  const std::string path = (dir / "report.json").string();
  EXPECT_EQ(log.take(), (LogRecords{{"info", "saved result to " + path}}));

  // A report.json that is a directory cannot be opened, even by root.
  std::filesystem::remove(dir / "report.json");
  std::filesystem::create_directory(dir / "report.json");
  EXPECT_FALSE(tav_rep::writeReport(dir.path(), report));
  EXPECT_EQ(log.take(),
            (LogRecords{{"error", "failed to save file " + path + ": is a folder; name a file"}}));

  // A full device (one of our own) takes the open but not the text.
  if (::geteuid() == 0) {
    std::filesystem::remove(dir / "report.json");
    ASSERT_EQ(::mknod(path.c_str(), S_IFCHR | 0600, ::makedev(1, 7)), 0);
    EXPECT_FALSE(tav_rep::writeReport(dir.path(), report));
    EXPECT_EQ(log.take(), (LogRecords{{"error", "failed to save file " + path +
                                                    ": cannot write: No space left on device"}}));
  }

  EXPECT_FALSE(tav_rep::writeReport(dir / "missing", report));
  EXPECT_EQ(log.take(),
            (LogRecords{{"error", "failed to save file " + (dir / "missing/report.json").string() +
                                      ": cannot write: No such file or directory"}}));
}
