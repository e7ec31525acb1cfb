// Input files that are anything but what the loaders expect: empty, binary, huge, deeply
// nested, cut short. Each load either succeeds or logs one critical line; none crashes.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "rep/check_table.h"
#include "rep/report_config.h"
#include "tests/rep/log_lines.h"
#include "tests/support/test_support.h"

using nlohmann::json;
using tav_rep::CheckTable;
using tav_rep_test::Lines;
using tav_rep_test::LogLines;

namespace {

const std::string kMetadata = R"([
  {"uuid": "a", "object_label": "1:1", "subject_label": "2:3", "min_mac_label": "0:0",
   "max_mac_label": "3:7", "expect_ignore_mac_label": false},
  {"uuid": "b", "object_label": "1:1", "subject_label": "2:3", "min_mac_label": "0:0",
   "max_mac_label": "3:7", "expect_ignore_mac_label": true}
])";
const std::string kResponses = R"({"1": {"uuid": "a", "code": 200, "body": "level 2 \u00e4"},
  "2": {"uuid": "b", "code": 403.5, "body": ""}})";
const std::string kConfig = R"({"check_body": true, "body_template": "level {subj_mac_lev}",
  "allowed_codes": [200, 201], "denied_codes": [403]})";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

class BadInputTest : public ::testing::Test {
 protected:
  CheckTable loadData(const std::string& metadata, const std::string& responses) {
    tav_test::writeFile(dir / "metadata.json", metadata);
    tav_test::writeFile(dir / "responses.json", responses);
    return tav_rep::loadData(dir / "metadata.json", dir / "responses.json");
  }
  std::optional<tav_rep::ReportConfig> loadConfig(const std::string& text) {
    tav_test::writeFile(dir / "config.json", text);
    return tav_rep::loadConfig(dir / "config.json");
  }

  tav_test::TempDir dir;
  LogLines log;
};

}  // namespace

TEST_F(BadInputTest, EmptyAndBinaryFilesAreParseErrors) {
  EXPECT_TRUE(loadData("", kResponses).empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.parse_error.101] parse error at "
                  "line 1, column 1: syntax error while parsing value - unexpected end of input; "
                  "expected '[', '{', or a literal; exception id 101; byte position of error: 1"});

  EXPECT_TRUE(loadData(kMetadata, std::string("\x7f"
                                              "ELF\x02\x01\x01\0\0\0",
                                              10))
                  .empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.parse_error.101] parse error at "
                  "byte 8: syntax error while parsing value - NUL byte in the input; exception "
                  "id 101; byte position of error: 8"});

  // Bytes that are not UTF-8 inside a string.
  EXPECT_TRUE(loadData(kMetadata, "[{\"uuid\": \"\xff\xfe\"}]").empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.parse_error.101] parse error at "
                  "line 1, column 12: syntax error while parsing value - invalid string: "
                  "ill-formed UTF-8 byte; last read: '\"\xff'; exception id 101; byte position "
                  "of error: 12"});

  // A NUL byte is an error where it stands, not the end of the input.
  EXPECT_FALSE(loadConfig(std::string("\0{}", 3)).has_value());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse config: [json.exception.parse_error.101] parse error "
                  "at byte 1: syntax error while parsing value - NUL byte in the input; "
                  "exception id 101; byte position of error: 1"});
}

TEST_F(BadInputTest, HugeFilesLoadCompletely) {
  constexpr int kEntries = 50000;
  json metadata = json::array();
  json responses = json::array();
  for (int i = 0; i < kEntries; ++i) {
    const std::string uuid = fmt::format("{:08}", i);
    metadata.push_back({{"uuid", uuid},
                        {"object_label", "1:1"},
                        {"subject_label", "2:3"},
                        {"min_mac_label", "0:0"},
                        {"max_mac_label", "3:7"},
                        {"expect_ignore_mac_label", i % 2 == 0}});
    responses.push_back({{"uuid", uuid}, {"code", 200 + i % 5}, {"body", "ok"}});
  }
  // One body of 4 MiB on top of the many small entries.
  const std::string bigBody(4 << 20, 'b');
  responses.push_back({{"uuid", "big"}, {"code", 200}, {"body", bigBody}});
  const std::string metadataText = metadata.dump();
  const std::string responsesText = responses.dump();
  ASSERT_GT(metadataText.size() + responsesText.size(), 10u << 20);

  const CheckTable table = loadData(metadataText, responsesText);
  EXPECT_EQ(log.take(), Lines{});
  ASSERT_EQ(table.size(), kEntries + 1u);
  EXPECT_EQ(table.at("00049999").code, 204);
  EXPECT_FALSE(table.at("00049999").expect_ignore_mac_label);
  EXPECT_EQ(table.at("big").body, bigBody);
}

TEST_F(BadInputTest, DeeplyNestedDocumentsAreRejectedWithoutCrashing) {
  constexpr std::size_t kDepth = 100000;
  const std::string nested = std::string(kDepth, '[') + std::string(kDepth, ']');

  EXPECT_TRUE(loadData(nested, kResponses).empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.type_error.305] cannot use "
                  "operator[] with a string argument with array; exception id 305"});

  // Nested as a field value, and cut short so the parser unwinds a deep partial document.
  EXPECT_TRUE(loadData(kMetadata, "[{\"uuid\": " + nested + "}]").empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.type_error.302] type must be "
                  "string, but is array; exception id 302"});
  EXPECT_TRUE(loadData(kMetadata, std::string(kDepth, '[')).empty());
  EXPECT_EQ(log.take(),
            Lines{fmt::format("critical: Failed to parse data: [json.exception.parse_error.101] "
                              "parse error at line 1, column {0}: syntax error while parsing "
                              "value - unexpected end of input; expected '[', '{{', or a "
                              "literal; exception id 101; byte position of error: {0}",
                              kDepth + 1)});

  std::string deepObject;
  for (std::size_t i = 0; i < kDepth; ++i) deepObject += "{\"check_body\":";
  deepObject += "true" + std::string(kDepth, '}');
  EXPECT_FALSE(loadConfig(deepObject).has_value());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse config: [json.exception.type_error.302] type must be "
                  "boolean, but is object; exception id 302"});
}

TEST_F(BadInputTest, WrongTypesInEveryField) {
  const json wrongValues[] = {nullptr, true, 1, -1, 1.5, "text", json::array(), json::object()};
  const json metadataEntry = json::parse(kMetadata)[0];
  const json responseEntry = json::parse(kResponses)["1"];
  for (const auto& [key, value] : metadataEntry.items()) {
    for (const json& wrong : wrongValues) {
      if (wrong.type() == value.type()) continue;
      SCOPED_TRACE(key + " = " + wrong.dump());
      json entry = metadataEntry;
      entry[key] = wrong;
      EXPECT_TRUE(loadData(json{entry}.dump(), kResponses).empty());
      const Lines lines = log.take();
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(startsWith(
          lines[0],
          "critical: Failed to parse data: [json.exception.type_error.302] type must be "));
    }
  }
  for (const auto& [key, value] : responseEntry.items()) {
    for (const json& wrong : wrongValues) {
      if (wrong.type() == value.type() || (key == "code" && wrong.is_number())) continue;
      SCOPED_TRACE(key + " = " + wrong.dump());
      json entry = responseEntry;
      entry[key] = wrong;
      EXPECT_TRUE(loadData(kMetadata, json{entry}.dump()).empty());
      const Lines lines = log.take();
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(startsWith(
          lines[0],
          "critical: Failed to parse data: [json.exception.type_error.302] type must be "));
    }
  }
  const json config = json::parse(kConfig);
  for (const auto& [key, value] : config.items()) {
    for (const json& wrong : wrongValues) {
      if (wrong.type() == value.type()) continue;
      SCOPED_TRACE(key + " = " + wrong.dump());
      json changed = config;
      changed[key] = wrong;
      EXPECT_FALSE(loadConfig(changed.dump()).has_value());
      const Lines lines = log.take();
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(startsWith(
          lines[0],
          "critical: Failed to parse config: [json.exception.type_error.302] type must be "));
    }
  }
}

TEST_F(BadInputTest, EveryTruncationEitherLoadsOrLogsOneCriticalLine) {
  // Only the whole text is a document, so every shorter cut must be reported.
  const auto expectOutcome = [this](bool loaded, bool whole, const std::string& prefix) {
    EXPECT_EQ(loaded, whole);
    const Lines lines = log.take();
    if (loaded) {
      EXPECT_EQ(lines, Lines{});
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(startsWith(lines[0], prefix)) << lines[0];
    }
  };
  for (std::size_t length = 0; length <= kMetadata.size(); ++length) {
    SCOPED_TRACE(length);
    expectOutcome(!loadData(kMetadata.substr(0, length), kResponses).empty(),
                  length == kMetadata.size(), "critical: Failed to parse data: ");
  }
  for (std::size_t length = 0; length <= kResponses.size(); ++length) {
    SCOPED_TRACE(length);
    expectOutcome(!loadData(kMetadata, kResponses.substr(0, length)).empty(),
                  length == kResponses.size(), "critical: Failed to parse data: ");
  }
  for (std::size_t length = 0; length <= kConfig.size(); ++length) {
    SCOPED_TRACE(length);
    expectOutcome(loadConfig(kConfig.substr(0, length)).has_value(), length == kConfig.size(),
                  "critical: Failed to parse config: ");
  }
}
