#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "common/json_document.h"
#include "common/log_file.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;
using tav_test::TempDir;

namespace {

// Logs into a file of the test folder; lines() closes it and returns the messages.
class JsonDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tav::createMainLog(logDir.path().string(), "test.log", "test_logger",
                                   spdlog::level::trace));
  }
  void TearDown() override { spdlog::drop_all(); }

  std::vector<std::string> lines() {
    spdlog::default_logger_raw()->flush();
    std::vector<std::string> result;
    for (const auto& line : tav_test::readLines(logDir / "test.log")) {
      result.push_back(tav_test::logLevel(line) + ": " + tav_test::logMessage(line));
    }
    return result;
  }

  std::vector<int> readInts(const fs::path& path) {
    return tav::readJsonDocument(path, "Failed to parse data", [](const json& document) {
      return document.get<std::vector<int>>();
    });
  }

  TempDir logDir;
  TempDir dir;
};

}  // namespace

TEST_F(JsonDocumentTest, ReadsAndConverts) {
  tav_test::writeFile(dir / "a.json", " [1, 2,\n3] \n");
  EXPECT_EQ(readInts(dir / "a.json"), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(lines().empty());
}

TEST_F(JsonDocumentTest, MissingFileIsAParseErrorAtByteOne) {
  EXPECT_TRUE(readInts(dir / "missing.json").empty());
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "critical: Failed to parse data: [json.exception.parse_error.101] parse "
                         "error at line 1, column 1: syntax error while parsing value - unexpected "
                         "end of input; expected '[', '{', or a literal; exception id 101; byte "
                         "position of error: 1"});
}

TEST_F(JsonDocumentTest, TrailingDocumentAndCommentsAreParseErrors) {
  tav_test::writeFile(dir / "two.json", "[1] [2]");
  tav_test::writeFile(dir / "comment.json", "// note\n[1]");
  EXPECT_TRUE(readInts(dir / "two.json").empty());
  const auto config = tav::readJsonDocument(dir / "comment.json", "Failed to parse config",
                                            [](const json& d) { return std::optional<json>(d); });
  EXPECT_FALSE(config.has_value());
  const auto logged = lines();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0],
            "critical: Failed to parse data: [json.exception.parse_error.101] parse error at line "
            "1, column 5: syntax error while parsing value - unexpected '['; expected end of "
            "input; exception id 101; byte position of error: 5");
  EXPECT_EQ(logged[1].rfind("critical: Failed to parse config: [json.exception.parse_error.101] "
                            "parse error at line 1, column 1: syntax error while parsing value - "
                            "invalid literal",
                            0),
            0u)
      << logged[1];
}

TEST_F(JsonDocumentTest, NulByteIsAParseErrorWhereItStands) {
  tav_test::writeFile(dir / "nul.json", std::string("[1]\0[2]", 7));
  EXPECT_TRUE(readInts(dir / "nul.json").empty());
  EXPECT_EQ(lines(), std::vector<std::string>{
                         "critical: Failed to parse data: [json.exception.parse_error.101] parse "
                         "error at byte 4: syntax error while parsing value - NUL byte in the "
                         "input; exception id 101; byte position of error: 4"});
}

TEST_F(JsonDocumentTest, WrongShapeIsATypeErrorWithoutPosition) {
  tav_test::writeFile(dir / "object.json", R"({"a": 1})");
  EXPECT_TRUE(readInts(dir / "object.json").empty());
  EXPECT_EQ(lines(), std::vector<std::string>{"critical: Failed to parse data: "
                                              "[json.exception.type_error.302] type must be "
                                              "array, but is object; exception id 302"});
}

TEST_F(JsonDocumentTest, ForeignExceptionsPassThrough) {
  tav_test::writeFile(dir / "a.json", "[]");
  EXPECT_THROW(tav::readJsonDocument(dir / "a.json", "Failed to parse data",
                                     [](const json&) -> std::vector<int> {
                                       throw std::invalid_argument("not json");
                                     }),
               std::invalid_argument);
}

// Every prefix of a valid document either loads or is reported; none crashes.
TEST_F(JsonDocumentTest, EveryTruncationLoadsOrIsReported) {
  const std::string text =
      R"([{"uuid": "a", "code": 200, "body": "x\u00e9"}, {"k": [1, 2.5, null]}])";
  for (std::size_t length = 0; length <= text.size(); ++length) {
    tav_test::writeFile(dir / "cut.json", text.substr(0, length));
    const auto value = tav::readJsonDocument(dir / "cut.json", "Failed to parse data",
                                             [](const json& d) { return std::optional<json>(d); });
    EXPECT_EQ(value.has_value(), length == text.size()) << length;
  }
  EXPECT_EQ(lines().size(), text.size());
}

TEST_F(JsonDocumentTest, WritesTwoSpaceIndentWithoutTrailingNewline) {
  const json value = {{"b", {1, 2}}, {"a", "\xc3\xa9"}, {"c", json::array()}};
  ASSERT_TRUE(tav::writeJsonDocument(dir / "out.json", value));
  EXPECT_EQ(tav_test::readFile(dir / "out.json"),
            "{\n  \"a\": \"\xc3\xa9\",\n  \"b\": [\n    1,\n    2\n  ],\n  \"c\": []\n}");
  EXPECT_EQ(lines(),
            std::vector<std::string>{"info: saved result to " + (dir / "out.json").string()});
}

TEST_F(JsonDocumentTest, WriteIntoMissingDirectoryFailsAndCreatesNothing) {
  const fs::path target = dir / "missing" / "out.json";
  EXPECT_FALSE(tav::writeJsonDocument(target, json::array()));
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_EQ(lines(), std::vector<std::string>{"error: failed to save file " + target.string() +
                                              ": cannot write: No such file or directory"});
}

TEST_F(JsonDocumentTest, InvalidUtf8FailsAndLeavesNoFile) {
  EXPECT_FALSE(tav::writeJsonDocument(dir / "bad.json", json{{"body", "a\xff"}}));
  EXPECT_FALSE(fs::exists(dir / "bad.json"));
  const auto logged = lines();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "error: could not serialize json to " + (dir / "bad.json").string() +
                           ": [json.exception.type_error.316] invalid UTF-8 byte at index 1: 0xFF");
}

TEST_F(JsonDocumentTest, FullDiskIsNotReportedAsSaved) {
  if (::geteuid() != 0) GTEST_SKIP() << "making a device takes root";
  const fs::path full = dir / "full";
  ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0600, ::makedev(1, 7)), 0);
  // Larger than any stream buffer, so the failure shows while writing or at the close.
  json big = json::array();
  for (int i = 0; i < 20000; ++i) big.push_back("entry number " + std::to_string(i));
  EXPECT_FALSE(tav::writeJsonDocument(full, big));
  EXPECT_FALSE(tav::writeJsonDocument(full, json::array()));
  const std::string line =
      "error: failed to save file " + full.string() + ": cannot write: No space left on device";
  EXPECT_EQ(lines(), (std::vector<std::string>{line, line}));
}

TEST(ReadWholeFileTest, ReadsEveryByteOfAnyKindOfFile) {
  TempDir dir;
  // Larger than one read chunk, with a NUL byte and a byte that is not UTF-8.
  std::string big(200000, 'x');
  big[70000] = '\0';
  big[140000] = '\xff';
  tav_test::writeFile(dir / "big", big);
  EXPECT_EQ(tav::readWholeFile(dir / "big"), big);
  tav_test::writeFile(dir / "empty", "");
  EXPECT_EQ(tav::readWholeFile(dir / "empty"), "");
  // Missing, a folder, no size of its own: empty, empty, the text it gives.
  EXPECT_EQ(tav::readWholeFile(dir / "missing"), "");
  EXPECT_EQ(tav::readWholeFile(dir.path()), "");
  EXPECT_FALSE(tav::readWholeFile("/proc/self/status").empty());
}
