// tav-suite gen on a description shaped like the lab's: the three files carry the lab suite's
// meaning (one task per user label, every object by both auth types, the metadata of each
// request, the report configuration), and a description that cannot be used writes nothing.
#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
