// Entries with "access": "write": the loader's reading of the key, where a strict reader finds
// a bad one, and the decision by the label library's write permission for every relation of
// two labels.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "rep/check_entry.h"
#include "rep/check_table.h"
#include "rep/entry_fault.h"
#include "tests/rep/loader_input.h"

namespace {

using nlohmann::json;
using tav_rep::CheckEntry;
using tav_rep::Prediction;
using tav_rep::VerdictReason;

json metadataEntry(const std::string& uuid, const json& access) {
  json entry = {{"uuid", uuid},           {"object_label", "1:1"},
                {"subject_label", "2:3"}, {"min_mac_label", "0:0"},
                {"max_mac_label", "3:7"}, {"expect_ignore_mac_label", false}};
  if (!access.is_null()) entry["access"] = access;
  return entry;
}

class WriteAccessLoadTest : public tav_test::LoaderTest {
 protected:
  WriteAccessLoadTest() : LoaderTest("data") {}

  tav_rep::CheckTable load(const json& metadata) {
    tav_test::writeFile(dir / "metadata.json", metadata.dump());
    tav_test::writeFile(dir / "responses.json", "[]");
    return tav_rep::loadData(dir / "metadata.json", dir / "responses.json");
  }
};

TEST_F(WriteAccessLoadTest, AccessIsReadWhenAbsentAndWriteOnlyWhenSaid) {
  const auto table = load(json{metadataEntry("none", nullptr), metadataEntry("read", "read"),
                               metadataEntry("write", "write")});
  ASSERT_EQ(table.size(), 3u);
  EXPECT_FALSE(table.at("none").write);
  EXPECT_FALSE(table.at("read").write);
  EXPECT_TRUE(table.at("write").write);
  EXPECT_TRUE(log.records().empty());
}

TEST_F(WriteAccessLoadTest, AnyOtherAccessDropsTheTableAndTheStrictReaderSaysWhy) {
  const struct {
    json access;
    tav_test::LogRecord line;
    std::string fault;
  } cases[] = {
      {"Write",
       failure("[json.exception.other_error.501] access must be \"read\" or \"write\", but is "
               "\"Write\"",
               501),
       "[1]: \"access\" is \"Write\", not \"read\" or \"write\""},
      {"",
       failure("[json.exception.other_error.501] access must be \"read\" or \"write\", but is "
               "\"\"",
               501),
       "[1]: \"access\" is \"\", not \"read\" or \"write\""},
      {true, failure("[json.exception.type_error.302] type must be string, but is boolean", 302),
       "[1]: \"access\" is boolean, not a string"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.access.dump());
    const json metadata{metadataEntry("a", "write"), metadataEntry("b", c.access)};
    EXPECT_TRUE(load(metadata).empty());
    EXPECT_EQ(log.take(), (tav_test::LogRecords{c.line}));
    EXPECT_EQ(tav_rep::metadataFault(metadata), c.fault);
  }
  EXPECT_EQ(tav_rep::metadataFault(json{metadataEntry("a", "write"), metadataEntry("b", nullptr)}),
            std::nullopt);
}

class WriteDecisionTest : public ::testing::Test {
 protected:
  WriteDecisionTest() {
    config.allowed_codes = {200, 201, 204};
    config.denied_codes = {401, 403};
  }

  tav_rep::Verdict decide(const std::string& subject, const std::string& object, std::int64_t code,
                          bool write = true, bool ignore = false) {
    CheckEntry e;
    e.subject_label = subject;
    e.object_label = object;
    e.min_mac_label = "0:0";
    e.max_mac_label = "3:7";
    e.code = code;
    e.write = write;
    e.expect_ignore_mac_label = ignore;
    return tav_rep::decideEntry("u", e, config, cache);
  }

  tav_rep::ReportConfig config;
  tav_rep::LabelCache cache;
};

// Only equal labels may write; a read of the same pair follows dominance.
TEST_F(WriteDecisionTest, OnlyAnEqualLabelMayWrite) {
  const struct {
    const char* subject;
    const char* object;
    bool writeGranted;
    bool readGranted;
  } pairs[] = {
      {"2:3", "2:3", true, true},    // equal
      {"3:7", "0:0", false, true},   // dominating: writing down
      {"1:1", "2:3", false, false},  // dominated: writing up
      {"2:1", "1:2", false, false},  // incomparable
      {"2:3", "2:1", false, true},   // same level, more categories
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(std::string(p.subject) + " -> " + p.object);
    const tav_rep::Verdict write = decide(p.subject, p.object, 201);
    EXPECT_EQ(write.permitted, p.writeGranted);
    EXPECT_EQ(write.predicted, p.writeGranted ? Prediction::granted : Prediction::refused);
    EXPECT_EQ(write.reason,
              p.writeGranted ? VerdictReason::permitted : VerdictReason::not_permitted);
    EXPECT_EQ(write.passed, p.writeGranted);
    EXPECT_EQ(decide(p.subject, p.object, 403).passed, !p.writeGranted);
    EXPECT_EQ(decide(p.subject, p.object, 200, false).permitted, p.readGranted);
  }
}

TEST_F(WriteDecisionTest, OutOfRangeAndIgnoredLabelsApplyToWritesAsToReads) {
  // 4:0 is above the range's upper bound 3:7: refused without asking the library.
  const tav_rep::Verdict outside = decide("4:0", "4:0", 201);
  EXPECT_EQ(outside.reason, VerdictReason::out_of_range);
  EXPECT_EQ(outside.in_range, false);
  EXPECT_FALSE(outside.permitted.has_value());
  EXPECT_FALSE(outside.passed);
  EXPECT_TRUE(decide("4:0", "4:0", 403).passed);
  // A server that ignores labels may take the write-down.
  const tav_rep::Verdict ignored = decide("3:7", "0:0", 201, true, true);
  EXPECT_EQ(ignored.reason, VerdictReason::labels_ignored);
  EXPECT_TRUE(ignored.passed);
  EXPECT_FALSE(decide("3:7", "0:0", 403, true, true).passed);
}

// The answer to a write is the server's note about it, never the object's text.
TEST_F(WriteDecisionTest, TheBodyOfAWriteIsNotChecked) {
  config.check_body = true;
  config.body_template = "object label {obj_mac_lev}";
  EXPECT_TRUE(decide("1:1", "1:1", 201).passed);
  EXPECT_TRUE(decide("3:7", "1:1", 201, true, true).passed);
  const tav_rep::Verdict read = decide("1:1", "1:1", 200, false);
  EXPECT_TRUE(read.body_missing);
  EXPECT_FALSE(read.passed);
}

}  // namespace
