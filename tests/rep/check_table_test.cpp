#include "rep/check_table.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "tests/rep/log_lines.h"
#include "tests/support/test_support.h"

using nlohmann::json;
using tav_rep::CheckEntry;
using tav_rep::CheckTable;
using tav_rep_test::Lines;
using tav_rep_test::LogLines;

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

class CheckTableTest : public ::testing::Test {
 protected:
  CheckTable load(const std::string& metadata, const std::string& responses) {
    tav_test::writeFile(dir / "metadata.json", metadata);
    tav_test::writeFile(dir / "responses.json", responses);
    return tav_rep::loadData(dir / "metadata.json", dir / "responses.json");
  }
  CheckTable load(const json& metadata, const json& responses) {
    return load(metadata.dump(), responses.dump());
  }

  static std::string failure(const std::string& what, int id) {
    return fmt::format("critical: Failed to parse data: {}; exception id {}", what, id);
  }

  tav_test::TempDir dir;
  LogLines log;
};

}  // namespace

TEST_F(CheckTableTest, MergesMetadataAndResponsesByIdentifier) {
  const CheckTable table =
      load(json{metadataEntry("a"), metadataEntry("b", "1:0", true)},
           json{responseEntry("a", 200, "level 2"), responseEntry("c", 404, "gone")});
  EXPECT_EQ(log.take(), Lines{});
  ASSERT_EQ(table.size(), 3u);

  const CheckEntry& a = table.at("a");
  EXPECT_EQ(a.object_label, "1:1");
  EXPECT_EQ(a.subject_label, "2:3");
  EXPECT_EQ(a.min_mac_label, "0:0");
  EXPECT_EQ(a.max_mac_label, "3:7");
  EXPECT_FALSE(a.expect_ignore_mac_label);
  EXPECT_EQ(a.code, 200);
  EXPECT_EQ(a.body, "level 2");

  // Metadata without a response keeps code 0 and an empty body.
  const CheckEntry& b = table.at("b");
  EXPECT_EQ(b.subject_label, "1:0");
  EXPECT_TRUE(b.expect_ignore_mac_label);
  EXPECT_EQ(b.code, 0);
  EXPECT_EQ(b.body, "");

  // A response without metadata has empty labels.
  const CheckEntry& c = table.at("c");
  EXPECT_EQ(c.subject_label, "");
  EXPECT_EQ(c.object_label, "");
  EXPECT_EQ(c.min_mac_label, "");
  EXPECT_EQ(c.max_mac_label, "");
  EXPECT_FALSE(c.expect_ignore_mac_label);
  EXPECT_EQ(c.code, 404);
  EXPECT_EQ(c.body, "gone");
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

  EXPECT_EQ(log.take(), Lines{});

  // A lone entry at the top level is an object too: its member values are taken as entries.
  EXPECT_TRUE(load(metadataEntry("m"), json::array()).empty());
  EXPECT_EQ(log.take(), Lines{failure("[json.exception.type_error.305] cannot use operator[] "
                                      "with a string argument with boolean",
                                      305)});

  // Both empty: no entry and nothing to say.
  EXPECT_TRUE(load(json::array(), json::array()).empty());
  EXPECT_TRUE(load(std::string("null"), std::string(" {} ")).empty());
  EXPECT_EQ(log.take(), Lines{});
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
    std::string line;
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
    EXPECT_EQ(log.take(), Lines{c.line});
  }
}

TEST_F(CheckTableTest, BothFilesAreParsedBeforeAnyEntryIsTakenOver) {
  // The metadata's bad entry would be found first if conversion started before parsing ended.
  const json badMetadata = json{json::array()};
  EXPECT_TRUE(load(badMetadata.dump(), "[").empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.parse_error.101] parse error at "
                  "line 1, column 2: syntax error while parsing value - unexpected end of input; "
                  "expected '[', '{', or a literal; exception id 101; byte position of error: 2"});

  EXPECT_TRUE(tav_rep::loadData(dir / "missing.json", dir / "responses.json").empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.parse_error.101] parse error at "
                  "line 1, column 1: syntax error while parsing value - unexpected end of input; "
                  "expected '[', '{', or a literal; exception id 101; byte position of error: 1"});
}

TEST_F(CheckTableTest, AParseErrorLaterInAFileStillComesBeforeAnEarlierBadEntry) {
  // The entries of a top-level array are taken while the file is parsed; the bad first entry
  // must not hide the syntax error after it, in the same file or in the next.
  EXPECT_TRUE(load(std::string(R"([{"uuid": "a"}, {"uuid": "b"} x])"), "[]").empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.parse_error.101] parse error at "
                  "line 1, column 31: syntax error while parsing array - invalid literal; last "
                  "read: '\"b\"} x'; expected ']'; exception id 101; byte position of error: 31"});
  EXPECT_TRUE(load(json{{{"uuid", "a"}}}.dump(), std::string("[{}")).empty());
  EXPECT_EQ(log.take(),
            Lines{"critical: Failed to parse data: [json.exception.parse_error.101] parse error at "
                  "line 1, column 4: syntax error while parsing array - unexpected end of input; "
                  "expected ']'; exception id 101; byte position of error: 4"});
  // Without a parse error the first bad entry, metadata before responses, is the one reported.
  EXPECT_TRUE(load(json{{{"uuid", "a"}}, {{"x", 1}}}, json{{{"code", 200}}}).empty());
  EXPECT_EQ(log.take(), Lines{failure("[json.exception.out_of_range.403] key 'object_label' not "
                                      "found",
                                      403)});
}
