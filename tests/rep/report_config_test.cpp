#include "rep/report_config.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "tests/rep/loader_input.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

using tav_rep::loadConfig;
using tav_rep::MacLabel;
using tav_rep::ReportConfig;
using tav_test::LogRecord;
using tav_test::LogRecords;

namespace {

class ReportConfigTest : public tav_test::LoaderTest {
 protected:
  ReportConfigTest() : LoaderTest("config") {}

  std::optional<ReportConfig> load(const std::string& text) {
    tav_test::writeFile(dir / "config.json", text);
    return loadConfig(dir / "config.json");
  }
};

}  // namespace

TEST_F(ReportConfigTest, LoadsTheFourKeysAndIgnoresOthers) {
  const auto config = load(R"({"extra": [1], "check_body": true, "body_template": "level {}",
      "allowed_codes": [200, 200.9, 201, -5, 18446744073709551615e-19],
      "denied_codes": [403, 200]})");
  ASSERT_TRUE(config.has_value());
  EXPECT_TRUE(config->check_body);
  EXPECT_EQ(config->body_template, "level {}");
  // 200.9 truncates to 200 and collapses with it; 1.8... truncates to 1.
  EXPECT_EQ(config->allowed_codes, (std::set<std::int64_t>{-5, 1, 200, 201}));
  EXPECT_EQ(config->denied_codes, (std::set<std::int64_t>{200, 403}));
  EXPECT_EQ(log.take(), LogRecords{});
}

TEST_F(ReportConfigTest, CodesAcceptEveryNumberWithinSigned64Bits) {
  const auto config = load(R"({"check_body": false, "body_template": "", "allowed_codes":
      [9223372036854775807, -9223372036854775808, -0.9, 9.2233720368547748e18],
      "denied_codes": []})");
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->allowed_codes,
            (std::set<std::int64_t>{INT64_MIN, 0, 9223372036854774784, INT64_MAX}));
  EXPECT_TRUE(config->denied_codes.empty());
}

TEST_F(ReportConfigTest, MissingOrMistypedKeysAreLibraryErrors) {
  const std::string valid =
      R"("check_body": true, "body_template": "x", "allowed_codes": [200], "denied_codes": [403])";
  const struct {
    std::string text;
    LogRecord line;
  } cases[] = {
      {R"({"check_body": true, "body_template": "x", "allowed_codes": [200]})",
       failure("[json.exception.out_of_range.403] key 'denied_codes' not found", 403)},
      {R"({})", failure("[json.exception.out_of_range.403] key 'check_body' not found", 403)},
      {R"({"check_body": 1, "body_template": "x", "allowed_codes": [], "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be boolean, but is number", 302)},
      {R"({"check_body": "true", "body_template": "x", "allowed_codes": [], "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be boolean, but is string", 302)},
      {R"({"check_body": null, "body_template": "x", "allowed_codes": [], "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be boolean, but is null", 302)},
      {R"({"check_body": true, "body_template": 1, "allowed_codes": [], "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be string, but is number", 302)},
      {R"({"check_body": true, "body_template": "", "allowed_codes": 200, "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be array, but is number", 302)},
      {R"({"check_body": true, "body_template": "", "allowed_codes": {"a": 1},
           "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be array, but is object", 302)},
      {R"({"check_body": true, "body_template": "", "allowed_codes": [], "denied_codes": ["403"]})",
       failure("[json.exception.type_error.302] type must be number, but is string", 302)},
      {R"({"check_body": true, "body_template": "", "allowed_codes": [true], "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be number, but is boolean", 302)},
      {R"({"check_body": true, "body_template": "", "allowed_codes": [[200]], "denied_codes": []})",
       failure("[json.exception.type_error.302] type must be number, but is array", 302)},
      {R"({"check_body": true, "body_template": "", "allowed_codes": [1e300], "denied_codes": []})",
       failure("[json.exception.out_of_range.406] number overflow: 1e+300 does not fit a signed "
               "64-bit integer",
               406)},
      {R"({"check_body": true, "body_template": "", "allowed_codes": [9223372036854775808],
           "denied_codes": []})",
       failure("[json.exception.out_of_range.406] number overflow: 9223372036854775808 does not "
               "fit a signed 64-bit integer",
               406)},
      {"[" + std::string("{") + valid + "}]",
       failure("[json.exception.type_error.304] cannot use at() with array", 304)},
      {"null", failure("[json.exception.type_error.304] cannot use at() with null", 304)},
      {"\"config\"", failure("[json.exception.type_error.304] cannot use at() with string", 304)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_FALSE(load(c.text).has_value());
    EXPECT_EQ(log.take(), LogRecords{c.line});
  }
  EXPECT_TRUE(load("{" + valid + "}").has_value());
}

TEST_F(ReportConfigTest, UnreadableTextIsAParseErrorWithItsBytePosition) {
  EXPECT_FALSE(loadConfig(dir / "missing.json").has_value());
  EXPECT_EQ(
      log.take(),
      (LogRecords{{"critical",
                   "Failed to parse config: [json.exception.parse_error.101] parse error "
                   "at line 1, column 1: syntax error while parsing value - unexpected end of "
                   "input; expected '[', '{', or a literal; exception id 101; byte position of "
                   "error: 1"}}));

  EXPECT_FALSE(load("{\"check_body\": true} // note").has_value());
  EXPECT_EQ(
      log.take(),
      (LogRecords{{"critical",
                   "Failed to parse config: [json.exception.parse_error.101] parse error "
                   "at line 1, column 22: syntax error while parsing value - invalid literal; last "
                   "read: '\"check_body\": true} /'; expected end of input; exception id 101; "
                   "byte position of error: 22"}}));
}

TEST_F(ReportConfigTest, BodyTemplateThatFmtRejectsIsAConfigError) {
  const struct {
    const char* bodyTemplate;
    const char* reason;
  } cases[] = {
      {"{subject_level}", "argument not found"},
      {"{4}", "argument not found"},
      {"level {subj_mac_lev:q}", "invalid type specifier"},
      {"{", "invalid format string"},
      {"}", "unmatched '}' in format string"},
      {"{}{0}", "cannot switch from automatic to manual argument indexing"},
      {"{}{}{}{}{}", "argument not found"},
      {"{subj_mac_lev:+}", "format specifier requires signed argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bodyTemplate);
    nlohmann::json document = {{"check_body", true},
                               {"body_template", c.bodyTemplate},
                               {"allowed_codes", {200}},
                               {"denied_codes", {403}}};
    EXPECT_FALSE(load(document.dump()).has_value());
    EXPECT_EQ(log.take(),
              (LogRecords{
                  {"critical", fmt::format("Failed to parse config: body_template \"{}\" cannot be "
                                           "formatted: {}",
                                           c.bodyTemplate, c.reason)}}));
    // Without body checks the template is never formatted, so it does not matter.
    document["check_body"] = false;
    EXPECT_TRUE(load(document.dump()).has_value());
    EXPECT_EQ(log.take(), LogRecords{});
  }
}

// A width of billions would make every body check build a text of as many bytes (4 GB and 20 s
// a request): such a template is refused, measured without being built; the widest the schema
// allows still loads.
TEST_F(ReportConfigTest, BodyTemplateLongerThanAMebibyteIsAConfigError) {
  const auto withTemplate = [](const std::string& bodyTemplate) {
    return nlohmann::json{{"check_body", true},
                          {"body_template", bodyTemplate},
                          {"allowed_codes", {200}},
                          {"denied_codes", {403}}}
        .dump();
  };
  for (const std::string bodyTemplate :
       {"{obj_mac_lev:>2000000000}", "{subj_mac_lev:>1048577}", "{obj_mac_cat:>{obj_mac_cat}}x"}) {
    SCOPED_TRACE(bodyTemplate);
    EXPECT_FALSE(load(withTemplate(bodyTemplate)).has_value());
    const LogRecords logged = log.take();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].level, "critical");
  }
  EXPECT_FALSE(load(withTemplate("{obj_mac_lev:>1048577}")).has_value());
  EXPECT_EQ(log.take(), (LogRecords{{"critical",
                                     "Failed to parse config: body_template "
                                     "\"{obj_mac_lev:>1048577}\" cannot be formatted: its text "
                                     "for label 0:0 would be longer than 1048576 bytes"}}));
  EXPECT_TRUE(load(withTemplate("{obj_mac_lev:>999999}")).has_value());
  EXPECT_EQ(log.take(), LogRecords{});
}

TEST(FormatBodyTemplateTest, ArgumentsAreNamedAndPositionalInOrderAndUnsigned) {
  const MacLabel subject{2, 0x1f};
  const MacLabel object{255, 0xffffffff};
  using tav_rep::formatBodyTemplate;
  EXPECT_EQ(formatBodyTemplate("level {subj_mac_lev}", subject, object), "level 2");
  EXPECT_EQ(formatBodyTemplate("{subj_mac_cat:x}", subject, object), "1f");
  EXPECT_EQ(formatBodyTemplate("{subj_mac_cat:#x}", subject, object), "0x1f");
  EXPECT_EQ(formatBodyTemplate("{obj_mac_lev} {obj_mac_cat}", subject, object), "255 4294967295");
  EXPECT_EQ(formatBodyTemplate("{0}/{1}/{2}/{3:X}", subject, object), "2/31/255/FFFFFFFF");
  EXPECT_EQ(formatBodyTemplate("{}/{}/{}/{}", subject, object), "2/31/255/4294967295");
  EXPECT_EQ(formatBodyTemplate("{{subj_mac_lev}}", subject, object), "{subj_mac_lev}");
  EXPECT_EQ(formatBodyTemplate("", subject, object), "");
  EXPECT_THROW(formatBodyTemplate("{nope}", subject, object), fmt::format_error);
}

// Configuration texts that are anything but what the loader expects: binary, deeply nested,
// mistyped, cut short. Each load either succeeds or logs one critical line; none crashes.

const std::string kConfig = R"({"check_body": true, "body_template": "level {subj_mac_lev}",
  "allowed_codes": [200, 201], "denied_codes": [403]})";

TEST_F(ReportConfigTest, ANulByteIsAParseErrorWhereItStands) {
  // Not the end of the input.
  EXPECT_FALSE(load(std::string("\0{}", 3)).has_value());
  EXPECT_EQ(log.take(),
            (LogRecords{{"critical",
                         "Failed to parse config: [json.exception.parse_error.101] parse error at "
                         "byte 1: syntax error while parsing value - NUL byte in the input; "
                         "exception id 101; byte position of error: 1"}}));
}

TEST_F(ReportConfigTest, ADeeplyNestedDocumentIsRejectedWithoutCrashing) {
  constexpr std::size_t kDepth = 100000;
  std::string deepObject;
  for (std::size_t i = 0; i < kDepth; ++i) deepObject += "{\"check_body\":";
  deepObject += "true" + std::string(kDepth, '}');
  EXPECT_FALSE(load(deepObject).has_value());
  EXPECT_EQ(log.take(),
            (LogRecords{failure(
                "[json.exception.type_error.302] type must be boolean, but is object", 302)}));
}

TEST_F(ReportConfigTest, WrongTypesInEveryField) {
  tav_test::forEachWrongType(
      nlohmann::json::parse(kConfig),
      [&](const std::string&, const nlohmann::json&, const nlohmann::json& changed) {
        EXPECT_FALSE(load(changed.dump()).has_value());
        ASSERT_TRUE(tav_test::isOneRecordStartingWith(
            log.take(),
            {"critical", "Failed to parse config: [json.exception.type_error.302] type must be "}));
      });
}

TEST_F(ReportConfigTest, EveryTruncationEitherLoadsOrLogsOneCriticalLine) {
  // Only the whole text is a document, so every shorter cut must be reported.
  for (std::size_t length = 0; length <= kConfig.size(); ++length) {
    SCOPED_TRACE(length);
    tav_test::expectLoadOutcome(load(kConfig.substr(0, length)).has_value(),
                                length == kConfig.size(), log,
                                {"critical", "Failed to parse config: "});
  }
}
