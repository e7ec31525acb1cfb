#include "rep/check_table.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <tuple>

#include "tests/rep/loader_input.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

using nlohmann::json;
using tav_rep::CheckEntry;
using tav_rep::CheckTable;
using tav_test::LogRecord;
using tav_test::LogRecords;

namespace {

json metadataEntry(const std::string& uuid, const std::string& subject = "2:3",
                   bool expectIgnore = false) {
  return {{"uuid", uuid},
          {"object_label", "1:1"},
          {"subject_label", subject},
          {"min_mac_label", "0:0"},
          {"max_mac_label", "3:7"},
          {"expect_ignore_mac_label", expectIgnore}};
}

json responseEntry(const std::string& uuid, json code, const std::string& body) {
  return {{"uuid", uuid}, {"code", std::move(code)}, {"body", body}};
}

// Every field of an entry, compared in one assertion.
auto fields(const CheckEntry& entry) {
  return std::make_tuple(entry.object_label, entry.subject_label, entry.min_mac_label,
                         entry.max_mac_label, entry.body, entry.code,
                         entry.expect_ignore_mac_label);
}

class CheckTableTest : public tav_test::LoaderTest {
 protected:
  CheckTableTest() : LoaderTest("data") {}

  CheckTable load(const std::string& metadata, const std::string& responses) {
    tav_test::writeFile(dir / "metadata.json", metadata);
    tav_test::writeFile(dir / "responses.json", responses);
    return tav_rep::loadData(dir / "metadata.json", dir / "responses.json");
  }
  CheckTable load(const json& metadata, const json& responses) {
    return load(metadata.dump(), responses.dump());
  }
};

}  // namespace

TEST_F(CheckTableTest, MergesMetadataAndResponsesByIdentifier) {
  const CheckTable table =
      load(json{metadataEntry("a"), metadataEntry("b", "1:0", true)},
           json{responseEntry("a", 200, "level 2"), responseEntry("c", 404, "gone")});
  EXPECT_EQ(log.take(), LogRecords{});
  ASSERT_EQ(table.size(), 3u);

  EXPECT_EQ(fields(table.at("a")), fields({"1:1", "2:3", "0:0", "3:7", "level 2", 200, false}));

  // Metadata without a response keeps code 0 and an empty body.
  const CheckEntry& b = table.at("b");
  EXPECT_EQ(b.subject_label, "1:0");
  EXPECT_TRUE(b.expect_ignore_mac_label);
  EXPECT_EQ(b.code, 0);
  EXPECT_EQ(b.body, "");

  // A response without metadata has empty labels.
  EXPECT_EQ(fields(table.at("c")), fields({"", "", "", "", "gone", 404, false}));
}

TEST_F(CheckTableTest, TopLevelIsWalkedDirectly) {
  // An object's member values are the entries; their names are ignored.
  CheckTable table = load(json{{"x", metadataEntry("a")}, {"y", metadataEntry("b")}},
                          json{{"z", responseEntry("a", 200, "")}});
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table.at("a").code, 200);

  // null yields no entry.
  table = load(json(nullptr), json{responseEntry("r", 403, "no")});
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.at("r").code, 403);
  table = load(json{metadataEntry("m")}, json(nullptr));
  ASSERT_EQ(table.size(), 1u);

  EXPECT_EQ(log.take(), LogRecords{});

  // A lone entry at the top level is an object too: its member values are taken as entries.
  EXPECT_TRUE(load(metadataEntry("m"), json::array()).empty());
  EXPECT_EQ(log.take(), (LogRecords{failure("[json.exception.type_error.305] cannot use operator[] "
                                            "with a string argument with boolean",
                                            305)}));

  // Both empty: no entry and nothing to say.
  EXPECT_TRUE(load(json::array(), json::array()).empty());
  EXPECT_TRUE(load(std::string("null"), std::string(" {} ")).empty());
  EXPECT_EQ(log.take(), LogRecords{});
}

TEST_F(CheckTableTest, LaterEntriesWinAndEveryIdentifierCountsOnce) {
  const CheckTable table =
      load(json{metadataEntry("a", "1:1"), metadataEntry("a", "2:2", true)},
           json{responseEntry("a", 200, "first"), responseEntry("", 0, "e1"),
                responseEntry("a", 403, "second"), responseEntry("", 7, "e2")});
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table.at("a").subject_label, "2:2");
  EXPECT_TRUE(table.at("a").expect_ignore_mac_label);
  EXPECT_EQ(table.at("a").code, 403);
  EXPECT_EQ(table.at("a").body, "second");
  // Failed transfers keep an empty identifier; they share one entry, the last one winning.
  EXPECT_EQ(table.at("").code, 7);
  EXPECT_EQ(table.at("").body, "e2");
  EXPECT_EQ(table.at("").subject_label, "");
}

TEST_F(CheckTableTest, CodesAreAnyNumberTruncatedTowardZero) {
  const CheckTable table = load(
      json::array(), json{responseEntry("float", 200.9, ""), responseEntry("negative", -403.7, ""),
                          responseEntry("unsigned", json(std::uint64_t{9223372036854775807u}), ""),
                          responseEntry("min", json(std::int64_t{INT64_MIN}), "")});
  EXPECT_EQ(table.at("float").code, 200);
  EXPECT_EQ(table.at("negative").code, -403);
  EXPECT_EQ(table.at("unsigned").code, INT64_MAX);
  EXPECT_EQ(table.at("min").code, INT64_MIN);
}

TEST_F(CheckTableTest, WrongShapesAreLibraryErrorsAndDropTheWholeTable) {
  const json good = json{responseEntry("a", 200, "")};
  const struct {
    json metadata;
    json responses;
    LogRecord line;
  } cases[] = {
      // The per-task form wraps its entries under "tasks": the one entry is an array.
      {json::array(), json{{"tasks", good}},
       failure("[json.exception.type_error.305] cannot use operator[] with a string argument "
               "with array",
               305)},
      {json{nullptr}, good,
       failure("[json.exception.type_error.305] cannot use operator[] with a string argument "
               "with null",
               305)},
      {json("a string"), good,
       failure("[json.exception.type_error.305] cannot use operator[] with a string argument "
               "with string",
               305)},
      {json{metadataEntry("a"), 42}, good,
       failure("[json.exception.type_error.305] cannot use operator[] with a string argument "
               "with number",
               305)},
      {[] {
         json entry = metadataEntry("a");
         entry["expect_ignore_mac_label"] = "true";
         return json{entry};
       }(),
       good, failure("[json.exception.type_error.302] type must be boolean, but is string", 302)},
      {[] {
         json entry = metadataEntry("a");
         entry.erase("max_mac_label");
         return json{metadataEntry("b"), entry};
       }(),
       good, failure("[json.exception.out_of_range.403] key 'max_mac_label' not found", 403)},
      {[] {
         json entry = metadataEntry("a");
         entry["uuid"] = 17;
         return json{entry};
       }(),
       good, failure("[json.exception.type_error.302] type must be string, but is number", 302)},
      {[] {
         json entry = metadataEntry("a");
         entry["object_label"] = json::array({"1:1"});
         return json{entry};
       }(),
       good, failure("[json.exception.type_error.302] type must be string, but is array", 302)},
      {json::array(), json{responseEntry("a", "200", "")},
       failure("[json.exception.type_error.302] type must be number, but is string", 302)},
      {json::array(), json{responseEntry("a", true, "")},
       failure("[json.exception.type_error.302] type must be number, but is boolean", 302)},
      {json::array(), json{responseEntry("a", nullptr, "")},
       failure("[json.exception.type_error.302] type must be number, but is null", 302)},
      {json::array(), json{responseEntry("a", -1e19, "")},
       failure("[json.exception.out_of_range.406] number overflow: -1e+19 does not fit a signed "
               "64-bit integer",
               406)},
      {json::array(), json{responseEntry("a", 200, ""), {{"uuid", "b"}, {"code", 200}}},
       failure("[json.exception.out_of_range.403] key 'body' not found", 403)},
      {json::array(), json{{{"code", 200}, {"body", ""}}},
       failure("[json.exception.out_of_range.403] key 'uuid' not found", 403)},
      {json::array(), json{{{"uuid", "a"}, {"body", ""}}},
       failure("[json.exception.out_of_range.403] key 'code' not found", 403)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.metadata.dump() + " / " + c.responses.dump());
    EXPECT_TRUE(load(c.metadata, c.responses).empty());
    EXPECT_EQ(log.take(), LogRecords{c.line});
  }
}

TEST_F(CheckTableTest, BothFilesAreParsedBeforeAnyEntryIsTakenOver) {
  // The metadata's bad entry would be found first if conversion started before parsing ended.
  const json badMetadata = json{json::array()};
  EXPECT_TRUE(load(badMetadata.dump(), "[").empty());
  EXPECT_EQ(log.take(),
            (LogRecords{
                {"critical",
                 "Failed to parse data: [json.exception.parse_error.101] parse error at "
                 "line 1, column 2: syntax error while parsing value - unexpected end of input; "
                 "expected '[', '{', or a literal; exception id 101; byte position of error: 2"}}));

  EXPECT_TRUE(tav_rep::loadData(dir / "missing.json", dir / "responses.json").empty());
  EXPECT_EQ(log.take(),
            (LogRecords{
                {"critical",
                 "Failed to parse data: [json.exception.parse_error.101] parse error at "
                 "line 1, column 1: syntax error while parsing value - unexpected end of input; "
                 "expected '[', '{', or a literal; exception id 101; byte position of error: 1"}}));
}

TEST_F(CheckTableTest, AParseErrorLaterInAFileStillComesBeforeAnEarlierBadEntry) {
  // The entries of a top-level array are taken while the file is parsed; the bad first entry
  // must not hide the syntax error after it, in the same file or in the next.
  EXPECT_TRUE(load(std::string(R"([{"uuid": "a"}, {"uuid": "b"} x])"), "[]").empty());
  EXPECT_EQ(log.take(),
            (LogRecords{
                {"critical",
                 "Failed to parse data: [json.exception.parse_error.101] parse error at "
                 "line 1, column 31: syntax error while parsing array - invalid literal; last "
                 "read: '\"b\"} x'; expected ']'; exception id 101; byte position of error: 31"}}));
  EXPECT_TRUE(load(json{{{"uuid", "a"}}}.dump(), std::string("[{}")).empty());
  EXPECT_EQ(
      log.take(),
      (LogRecords{{"critical",
                   "Failed to parse data: [json.exception.parse_error.101] parse error at "
                   "line 1, column 4: syntax error while parsing array - unexpected end of input; "
                   "expected ']'; exception id 101; byte position of error: 4"}}));
  // Without a parse error the first bad entry, metadata before responses, is the one reported.
  EXPECT_TRUE(load(json{{{"uuid", "a"}}, {{"x", 1}}}, json{{{"code", 200}}}).empty());
  EXPECT_EQ(log.take(),
            (LogRecords{failure("[json.exception.out_of_range.403] key 'object_label' not "
                                "found",
                                403)}));
}

// Input files that are anything but what the loader expects: empty, binary, huge, deeply
// nested, mistyped, cut short. Each load either succeeds or logs one critical line; none
// crashes.

const std::string kMetadata = R"([
  {"uuid": "a", "object_label": "1:1", "subject_label": "2:3", "min_mac_label": "0:0",
   "max_mac_label": "3:7", "expect_ignore_mac_label": false},
  {"uuid": "b", "object_label": "1:1", "subject_label": "2:3", "min_mac_label": "0:0",
   "max_mac_label": "3:7", "expect_ignore_mac_label": true}
])";
const std::string kResponses = R"({"1": {"uuid": "a", "code": 200, "body": "level 2 \u00e4"},
  "2": {"uuid": "b", "code": 403.5, "body": ""}})";

TEST_F(CheckTableTest, EmptyAndBinaryFilesAreParseErrors) {
  EXPECT_TRUE(load("", kResponses).empty());
  EXPECT_EQ(log.take(),
            (LogRecords{{"critical",
                         "Failed to parse data: [json.exception.parse_error.101] parse error at "
                         "line 1, column 1: syntax error while parsing value - unexpected end of "
                         "input; expected '[', '{', or a literal; exception id 101; byte position "
                         "of error: 1"}}));

  EXPECT_TRUE(load(kMetadata, std::string("\x7f"
                                          "ELF\x02\x01\x01\0\0\0",
                                          10))
                  .empty());
  EXPECT_EQ(log.take(),
            (LogRecords{{"critical",
                         "Failed to parse data: [json.exception.parse_error.101] parse error at "
                         "byte 8: syntax error while parsing value - NUL byte in the input; "
                         "exception id 101; byte position of error: 8"}}));

  // Bytes that are not UTF-8 inside a string.
  EXPECT_TRUE(load(kMetadata, "[{\"uuid\": \"\xff\xfe\"}]").empty());
  EXPECT_EQ(log.take(),
            (LogRecords{{"critical",
                         "Failed to parse data: [json.exception.parse_error.101] parse error at "
                         "line 1, column 12: syntax error while parsing value - invalid string: "
                         "ill-formed UTF-8 byte; last read: '\"\xff'; exception id 101; byte "
                         "position of error: 12"}}));
}

TEST_F(CheckTableTest, HugeFilesLoadCompletely) {
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

  const CheckTable table = load(metadataText, responsesText);
  EXPECT_EQ(log.take(), LogRecords{});
  ASSERT_EQ(table.size(), kEntries + 1u);
  EXPECT_EQ(table.at("00049999").code, 204);
  EXPECT_FALSE(table.at("00049999").expect_ignore_mac_label);
  EXPECT_EQ(table.at("big").body, bigBody);
}

TEST_F(CheckTableTest, DeeplyNestedDocumentsAreRejectedWithoutCrashing) {
  constexpr std::size_t kDepth = 100000;
  const std::string nested = std::string(kDepth, '[') + std::string(kDepth, ']');

  EXPECT_TRUE(load(nested, kResponses).empty());
  EXPECT_EQ(log.take(), (LogRecords{failure("[json.exception.type_error.305] cannot use operator[] "
                                            "with a string argument with array",
                                            305)}));

  // Nested as a field value, and cut short so the parser unwinds a deep partial document.
  EXPECT_TRUE(load(kMetadata, "[{\"uuid\": " + nested + "}]").empty());
  EXPECT_EQ(log.take(),
            (LogRecords{failure("[json.exception.type_error.302] type must be string, but is array",
                                302)}));
  EXPECT_TRUE(load(kMetadata, std::string(kDepth, '[')).empty());
  EXPECT_EQ(log.take(),
            (LogRecords{{"critical",
                         fmt::format("Failed to parse data: [json.exception.parse_error.101] parse "
                                     "error at line 1, column {0}: syntax error while parsing "
                                     "value - unexpected end of input; expected '[', '{{', or a "
                                     "literal; exception id 101; byte position of error: {0}",
                                     kDepth + 1)}}));
}

TEST_F(CheckTableTest, WrongTypesInEveryField) {
  const LogRecord typeError = {
      "critical", "Failed to parse data: [json.exception.type_error.302] type must be "};
  tav_test::forEachWrongType(
      json::parse(kMetadata)[0], [&](const std::string&, const json&, const json& entry) {
        EXPECT_TRUE(load(json{entry}.dump(), kResponses).empty());
        ASSERT_TRUE(tav_test::isOneRecordStartingWith(log.take(), typeError));
      });
  tav_test::forEachWrongType(
      json::parse(kResponses)["1"],
      [&](const std::string& key, const json& wrong, const json& entry) {
        // Any number is a code.
        if (key == "code" && wrong.is_number()) return;
        EXPECT_TRUE(load(kMetadata, json{entry}.dump()).empty());
        ASSERT_TRUE(tav_test::isOneRecordStartingWith(log.take(), typeError));
      });
}

TEST_F(CheckTableTest, EveryTruncationEitherLoadsOrLogsOneCriticalLine) {
  // Only the whole text is a document, so every shorter cut must be reported.
  const LogRecord parseError = {"critical", "Failed to parse data: "};
  for (std::size_t length = 0; length <= kMetadata.size(); ++length) {
    SCOPED_TRACE(length);
    tav_test::expectLoadOutcome(!load(kMetadata.substr(0, length), kResponses).empty(),
                                length == kMetadata.size(), log, parseError);
  }
  for (std::size_t length = 0; length <= kResponses.size(); ++length) {
    SCOPED_TRACE(length);
    tav_test::expectLoadOutcome(!load(kMetadata, kResponses.substr(0, length)).empty(),
                                length == kResponses.size(), log, parseError);
  }
}
