// tav-suite gen on a description shaped like the lab's: the three files carry the lab suite's
// meaning (one task per user label, every object by both auth types, the metadata of each
// request, the report configuration), and a description that cannot be used writes nothing.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "common/mac_label_text.h"
#include "tests/suite/suite_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tav_test;

json labDescription() {
  const json env = {{"KRB5CCNAME", "FILE:/lab/ccache/u"}, {"KRB5_CONFIG", "/lab/krb5.conf"}};
  return {{"base_url", "http://127.0.0.1:8080/"},
          {"auth_types", {"basic", "gssapi"}},
          {"users",
           {{{"name", "nobody"},
             {"password", "pn"},
             {"labels", {"0:0"}},
             {"min_label", "0:0"},
             {"max_label", "3:7"},
             {"env", env}},
            {{"name", "daemon"},
             {"password", "pd"},
             {"labels", {"1:1", "0:0"}},
             {"min_label", "0:0"},
             {"max_label", "3:7"}}}},
          {"objects",
           {{{"name", "l1_1"},
             {"label", "1:1"},
             {"paths", {{"basic", "/basic/l1_1/"}, {"gssapi", "/gss/l1_1/"}}}},
            {{"name", "open"},
             {"label", "3:7"},
             {"ignore_mac_label", true},
             {"paths", {{"basic", "/basic/open/"}, {"gssapi", "/gss/open/"}}}},
            {{"name", "far"}, {"label", "2:3"}, {"url", "https://elsewhere/x"}}}},
          {"report",
           {{"check_body", true},
            {"body_template", "object label {obj_mac_lev}:{obj_mac_cat:x}"},
            {"allowed_codes", {200}},
            {"denied_codes", {401, 403}}}}};
}

TEST(SuiteGen, LabDescriptionGivesTheLabSuite) {
  tav_test::TempDir dir;
  writeJson(dir / "suite.json", labDescription());
  const auto result =
      runSuite({"gen", (dir / "suite.json").string(), "--out", (dir / "s").string()});
  ASSERT_EQ(result.status, 0) << result.err;

  const json tasks = readJson(dir / "s/tasks.json");
  ASSERT_EQ(tasks.size(), 3u);
  EXPECT_EQ(tasks[0]["user"], json({{"name", "nobody"}, {"password", "pn"}, {"mac_label", "0:0"}}));
  EXPECT_EQ(tasks[0]["env"], labDescription()["users"][0]["env"]);
  EXPECT_EQ(tasks[1]["user"]["mac_label"], "1:1");
  EXPECT_EQ(tasks[2]["user"]["mac_label"], "0:0");
  EXPECT_FALSE(tasks[1].contains("env"));
  // Auth types outside, objects inside, in description order.
  EXPECT_EQ(tasks[1]["requests"], json::parse(R"([
    {"uuid": "basic-daemon-1_1-l1_1", "uri": "http://127.0.0.1:8080/basic/l1_1/", "auth_type": "basic"},
    {"uuid": "basic-daemon-1_1-open", "uri": "http://127.0.0.1:8080/basic/open/", "auth_type": "basic"},
    {"uuid": "basic-daemon-1_1-far", "uri": "https://elsewhere/x", "auth_type": "basic"},
    {"uuid": "gssapi-daemon-1_1-l1_1", "uri": "http://127.0.0.1:8080/gss/l1_1/", "auth_type": "gssapi"},
    {"uuid": "gssapi-daemon-1_1-open", "uri": "http://127.0.0.1:8080/gss/open/", "auth_type": "gssapi"},
    {"uuid": "gssapi-daemon-1_1-far", "uri": "https://elsewhere/x", "auth_type": "gssapi"}])"));

  const json metadata = readJson(dir / "s/metadata.json");
  ASSERT_EQ(metadata.size(), 18u);
  EXPECT_EQ(metadata[7], json({{"uuid", "basic-daemon-1_1-open"},
                               {"subject_label", "1:1"},
                               {"min_mac_label", "0:0"},
                               {"max_mac_label", "3:7"},
                               {"object_label", "3:7"},
                               {"expect_ignore_mac_label", true}}));
  EXPECT_EQ(readJson(dir / "s/config.json"), labDescription()["report"]);
}

TEST(SuiteGen, DefaultsFillTheRangeAuthTypesAndReport) {
  tav_test::TempDir dir;
  writeJson(
      dir / "d.json",
      {{"base_url", "http://h"},
       {"users", {{{"name", "bin"}, {"password", "p\"w\\\u00fc"}, {"labels", {"2:1", "1:2"}}}}},
       {"objects", {{{"name", "o"}, {"label", "0:0"}, {"path", "p"}}}}});
  ASSERT_EQ(runSuite({"gen", (dir / "d.json").string(), "--out", dir.path().string()}).status, 0);
  const json metadata = readJson(dir / "metadata.json");
  ASSERT_EQ(metadata.size(), 2u);
  EXPECT_EQ(metadata[1]["uuid"], "basic-bin-1_2-o");
  EXPECT_EQ(metadata[1]["min_mac_label"], "1:0");
  EXPECT_EQ(metadata[1]["max_mac_label"], "2:3");
  EXPECT_EQ(readJson(dir / "tasks.json")[0]["requests"][0]["uri"], "http://h/p");
  // Text that needs escapes comes back as it was.
  EXPECT_EQ(readJson(dir / "tasks.json")[1]["user"]["password"], "p\"w\\\u00fc");
  EXPECT_EQ(readJson(dir / "config.json"), json({{"check_body", false},
                                                 {"body_template", ""},
                                                 {"allowed_codes", {200}},
                                                 {"denied_codes", {401, 403}}}));
}

TEST(SuiteGen, UnusableDescriptionNamesThePathAndWritesNothing) {
  tav_test::TempDir dir;
  struct Case {
    const char* pointer;
    json value;
    const char* line;
  };
  const Case cases[] = {
      {"/users/1/labels/0", "1", "users[1].labels[0]: \"1\" is not a label: it has no colon"},
      {"/users/1/lables", json::array(), "users[1].lables: unknown key"},
      {"/objects/0/paths/gssapi", nullptr, "objects[0].paths.gssapi: is null, not a string"},
      {"/auth_types/1", "negotiate", "auth_types[1]: \"negotiate\" is not basic or gssapi"},
      {"/objects/1/name", "l1_1",
       "users[0].labels[0] with objects[1] by basic: request uuid \"basic-nobody-0_0-l1_1\" is "
       "also that of users[0].labels[0] with objects[0] by basic"},
      {"/report/body_template", "{obj_mac_cat:{subj_mac_cat}}",
       "report: tav-rep would reject it: Failed to parse config: body_template"},
      {"/users/0/name", std::string("nobody\0x", 8), "users[0].name: holds a NUL byte"},
      {"/objects/2/url", "file:///etc/passwd",
       "objects[2].url: \"file:///etc/passwd\" is not an http:// or https:// URL"},
      {"/base_url", "ftp://127.0.0.1/",
       "base_url: \"ftp://127.0.0.1/\" is not an http:// or https:// URL"},
  };
  for (const Case& c : cases) {
    json description = labDescription();
    description[json::json_pointer(c.pointer)] = c.value;
    writeJson(dir / "bad.json", description);
    const auto result =
        runSuite({"gen", (dir / "bad.json").string(), "--out", (dir / "out").string()});
    EXPECT_EQ(result.status, 2) << c.pointer;
    EXPECT_EQ(result.err.find("error: " + (dir / "bad.json").string() + ": " + c.line), 0u)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_FALSE(fs::exists(dir / "out")) << c.pointer;
  }
}

// Only the plain label form, a range that holds its minimum and HTTP status codes get through:
// anything the programs would read as something else is refused with its JSON path.
TEST(SuiteGen, StrictLabelsRangesAndCodes) {
  tav_test::TempDir dir;
  struct Case {
    const char* pointer;
    json value;
    const char* line;
  };
  const auto notALabel = [](const char* text, const char* why) {
    return fmt::format("\"{}\" is not a label: {}", text, why);
  };
  const std::string level = "the level is not a decimal number";
  const std::string mask = "the category mask is not a hexadecimal number";
  std::vector<std::pair<std::string, std::string>> labels = {
      {" 1:1", level},
      {"1:1 ", mask},
      {"+1:1", level},
      {"-1:0", level},
      {"1:-1", mask},
      {"1: 1", mask},
      {"256:0", "the level is above 255"},
      {"1:1ffffffff", "the category mask has more than 32 bits"},
      {"1:1:1", mask},
      {"1:", mask},
      {":1", level},
      {"1:0x", mask},
      {"1:1g", mask},
      {"1", "it has no colon"},
      {"0x1:1", level},
  };
  for (const auto& [text, why] : labels) {
    SCOPED_TRACE(text);
    json description = labDescription();
    description["users"][1]["labels"][1] = text;
    writeJson(dir / "bad.json", description);
    const auto result =
        runSuite({"gen", (dir / "bad.json").string(), "--out", (dir / "out").string()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err,
              fmt::format("error: {}: users[1].labels[1]: {}\n", (dir / "bad.json").string(),
                          notALabel(text.c_str(), why.c_str())));
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
  const Case cases[] = {
      {"/users/0/min_label", "3:7",
       "users[0].min_label: \"3:7\" is not within max_label \"3:5\": the range is empty"},
      {"/users/0/min_label", "2:2",
       "users[0].min_label: \"2:2\" is not within max_label \"3:5\": the range is empty"},
      {"/objects/2/label", "2:3 ", "objects[2].label: \"2:3 \" is not a label: the category mask"},
      {"/report/allowed_codes/0", 99, "report.allowed_codes[0]: 99 is not an HTTP status code"},
      {"/report/denied_codes/1", 600, "report.denied_codes[1]: 600 is not an HTTP status code"},
      {"/report/denied_codes/0", 18446744073709551615u,
       "report.denied_codes[0]: 18446744073709551615 is not an HTTP status code"},
      {"/report/denied_codes/0", -403, "report.denied_codes[0]: -403 is not an HTTP status code"},
      {"/report/denied_codes/0", 403.0, "report.denied_codes[0]: is not a whole number"},
      {"/report/denied_codes/0", "403", "report.denied_codes[0]: is not a whole number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pointer);
    json description = labDescription();
    description["users"][0]["max_label"] = "3:5";
    description[json::json_pointer(c.pointer)] = c.value;
    writeJson(dir / "bad.json", description);
    const auto result =
        runSuite({"gen", (dir / "bad.json").string(), "--out", (dir / "out").string()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err.find("error: " + (dir / "bad.json").string() + ": " + c.line), 0u)
        << result.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
  // Without min_label, the lowest of the labels must lie within max_label.
  json description = labDescription();
  description["users"][1].erase("min_label");
  description["users"][1]["labels"] = {"2:1"};
  description["users"][1]["max_label"] = "1:1";
  writeJson(dir / "bad.json", description);
  const auto noMin =
      runSuite({"gen", (dir / "bad.json").string(), "--out", (dir / "out").string()});
  EXPECT_EQ(noMin.status, 2);
  EXPECT_EQ(noMin.err, "error: " + (dir / "bad.json").string() +
                           ": users[1].max_label: \"1:1\" does not hold min_label 2:1 (the lowest "
                           "of the labels): the range is empty\n");

  // The edges themselves pass.
  description = labDescription();
  description["users"][0]["labels"] = {"255:0xFFFFFFFF", "0:00000000001", "007:0"};
  description["users"][0].erase("min_label");
  description["users"][0].erase("max_label");
  description["report"]["allowed_codes"] = {100, 599};
  writeJson(dir / "edges.json", description);
  const auto edges =
      runSuite({"gen", (dir / "edges.json").string(), "--out", (dir / "out").string()});
  EXPECT_EQ(edges.status, 0) << edges.err;
}

// A mask with the top bit set can only be read from a negative number; gen writes it so, and
// check, which reads every label as the programs do, finds it as meant.
TEST(SuiteGen, TopBitMaskIsWrittenAsTheProgramsReadIt) {
  tav_test::TempDir dir;
  writeJson(dir / "d.json",
            {{"base_url", "http://h"},
             {"users", {{{"name", "daemon"}, {"labels", {"2:80000000", "1:1"}}}}},
             {"objects", {{{"name", "o"}, {"label", "3:ffffffff"}, {"path", "/"}}}}});
  const auto gen = runSuite({"gen", (dir / "d.json").string(), "--out", dir.path().string()});
  ASSERT_EQ(gen.status, 0) << gen.err;
  const json tasks = readJson(dir / "tasks.json");
  const json metadata = readJson(dir / "metadata.json");
  EXPECT_EQ(tasks[0]["user"]["mac_label"], "2:-80000000");
  EXPECT_EQ(tasks[0]["requests"][0]["uuid"], "basic-daemon-2_80000000-o");
  EXPECT_EQ(metadata[0]["subject_label"], "2:-80000000");
  EXPECT_EQ(metadata[0]["object_label"], "3:-1");
  EXPECT_EQ(metadata[0]["min_mac_label"], "1:0");
  EXPECT_EQ(metadata[0]["max_mac_label"], "2:-7fffffff");
  for (const char* text : {"2:-80000000", "3:-1", "2:-7fffffff"}) {
    SCOPED_TRACE(text);
    const tav::MacLabelText read = tav::parseMacLabelText(text);
    ASSERT_TRUE(read.label);
  }
  EXPECT_EQ(tav::parseMacLabelText("2:-80000000").label->categories, 0x80000000u);
  EXPECT_EQ(tav::parseMacLabelText("2:-7fffffff").label->categories, 0x80000001u);
  const auto check = runSuite(
      {"check", "-t", (dir / "tasks.json").string(), "-m", (dir / "metadata.json").string()});
  EXPECT_EQ(check.out.find("is read as"), std::string::npos) << check.out;
}

// A description that cannot be read is told as such, not as bad JSON.
TEST(SuiteGen, UnreadableDescriptionIsToldAsSuch) {
  tav_test::TempDir dir;
  fs::create_directory(dir / "folder");
  tav_test::writeFile(dir / "broken.json", "{\n  \"users\": [,\n}");
  writeJson(dir / "tasks.json",
            json::array({{{"user", {{"name", "a"}, {"password", ""}, {"mac_label", "1:1"}}},
                          {"requests", json::array()}}}));
  const std::pair<const char*, const char*> cases[] = {
      {"missing.json", "no such file"},
      {"folder", "is a folder, not a file"},
      {"broken.json",
       "not JSON at line 2 column 13: syntax error while parsing value - unexpected ','; "
       "expected '[', '{', or a literal"},
      {"tasks.json", "this looks like a tasks file; give the suite description"},
  };
  for (const auto& [name, why] : cases) {
    SCOPED_TRACE(name);
    const auto result = runSuite({"gen", (dir / name).string(), "--out", (dir / "out").string()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, fmt::format("error: {}: {}\n", (dir / name).string(), why));
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

}  // namespace
