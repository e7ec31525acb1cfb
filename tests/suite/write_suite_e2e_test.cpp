// Suites that write: gen's PUT and DELETE of a probe per user, label and auth type for an object
// with "write", and check's warnings about writes that would stay or be judged by the read rule.
// The lab's tav_write_suite_catches_write_down runs such a suite end to end.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "suite/gen.h"
#include "tests/suite/suite_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tav_test;

json description(const std::string& base, bool write) {
  json store = {{"name", "st"}, {"label", "1:1"}, {"path", "/store/"}};
  if (write) store["write"] = true;
  return {{"base_url", base},
          {"auth_types", {"basic", "gssapi"}},
          {"users",
           {{{"name", "daemon"}, {"password", "pw-daemon"}, {"labels", {"1:1", "2:3"}}},
            {{"name", "bin"}, {"password", "pw-bin"}, {"labels", {"0:0"}}}}},
          {"objects",
           {{{"name", "ro"}, {"label", "0:0"}, {"path", "/ok"}},
            store,
            {{"name", "page"},
             {"label", "0:0"},
             {"url", "http://h/area/page.html?x"},
             {"write", true}}}},
          {"report", {{"allowed_codes", {200, 204}}}}};
}

class WriteSuiteTest : public ::testing::Test {
 protected:
  tav_test::RunResult gen(const json& d) {
    writeJson(dir / "d.json", d);
    return runSuite({"gen", (dir / "d.json").string(), "--out", (dir / "s").string()});
  }
  tav_test::RunResult check() {
    return runSuite({"check", "-t", (dir / "s/tasks.json").string(), "-m",
                     (dir / "s/metadata.json").string(), "-c", (dir / "s/config.json").string()});
  }

  tav_test::TempDir dir;
};

TEST_F(WriteSuiteTest, GenFollowsEachReadOfAWriteObjectWithItsProbesPutAndDelete) {
  ASSERT_EQ(gen(description("http://127.0.0.1:1/", true)).status, 0);
  const json tasks = readJson(dir / "s/tasks.json");
  ASSERT_EQ(tasks.size(), 3u);
  // Per auth type: ro; st, its PUT and DELETE; page, its PUT and DELETE.
  const json& requests = tasks[0]["requests"];
  ASSERT_EQ(requests.size(), 14u);
  const std::string put = "basic-daemon-1_1-st-put";
  EXPECT_EQ(requests[1], json({{"uuid", "basic-daemon-1_1-st"},
                               {"uri", "http://127.0.0.1:1/store/"},
                               {"auth_type", "basic"}}));
  EXPECT_EQ(requests[2], json({{"uuid", put},
                               {"uri", "http://127.0.0.1:1/store/tav-probe-" + put},
                               {"auth_type", "basic"},
                               {"method", "PUT"},
                               {"body", "tav write probe " + put + "\n"}}));
  EXPECT_EQ(requests[3], json({{"uuid", "basic-daemon-1_1-st-delete"},
                               {"uri", "http://127.0.0.1:1/store/tav-probe-" + put},
                               {"auth_type", "basic"},
                               {"method", "DELETE"}}));
  // A URL naming a page: the probe goes into its folder.
  EXPECT_EQ(requests[5]["uri"], "http://h/area/tav-probe-basic-daemon-1_1-page-put");
  EXPECT_EQ(requests[13]["uuid"], "gssapi-daemon-1_1-page-delete");
  EXPECT_EQ(requests[13]["uri"], "http://h/area/tav-probe-gssapi-daemon-1_1-page-put");

  const json metadata = readJson(dir / "s/metadata.json");
  ASSERT_EQ(metadata.size(), 3u * 14u);
  EXPECT_FALSE(metadata[1].contains("access"));
  EXPECT_EQ(metadata[2], json({{"uuid", put},
                               {"subject_label", "1:1"},
                               {"min_mac_label", "1:1"},
                               {"max_mac_label", "2:3"},
                               {"object_label", "1:1"},
                               {"expect_ignore_mac_label", false},
                               {"access", "write"}}));
  EXPECT_EQ(metadata[3]["access"], "write");
  // 201 and 204 join the allowed codes once each.
  EXPECT_EQ(readJson(dir / "s/config.json")["allowed_codes"], json({200, 204, 201}));
  EXPECT_EQ(check().out.find("warning"), std::string::npos);

  ASSERT_EQ(gen(description("http://127.0.0.1:1/", false)).status, 0);
  EXPECT_EQ(readJson(dir / "s/tasks.json")[0]["requests"].size(), 10u);
  EXPECT_EQ(readJson(dir / "s/config.json")["allowed_codes"], json({200, 204, 201}));
  json noWrites = description("http://127.0.0.1:1/", false);
  noWrites["objects"].erase(2);
  ASSERT_EQ(gen(noWrites).status, 0);
  EXPECT_EQ(readJson(dir / "s/config.json")["allowed_codes"], json({200, 204}));
}

TEST_F(WriteSuiteTest, ProbeNamesAreEscapedAndClashesNamed) {
  EXPECT_EQ(tav_suite::probeUrl("http://h", "a b/c"), "http://h/tav-probe-a%20b%2Fc");
  EXPECT_EQ(tav_suite::probeUrl("http://h/x/#f", "u"), "http://h/x/tav-probe-u");
  json d = description("http://127.0.0.1:1/", true);
  d["objects"][0]["name"] = "st-put";
  const auto result = gen(d);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("users[0].labels[0] with objects[1] by basic (its PUT): request uuid "
                            "\"basic-daemon-1_1-st-put\" is also that of users[0].labels[0] with "
                            "objects[0] by basic"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(fs::exists(dir / "s/tasks.json"));
  d = description("http://127.0.0.1:1/", true);
  d["objects"][1]["write"] = "yes";
  EXPECT_NE(gen(d).err.find("objects[1].write: is string, not true or false"), std::string::npos);
}

TEST_F(WriteSuiteTest, CheckWarnsOfAPutWithoutALaterDeleteAndOfWritesJudgedAsReads) {
  ASSERT_EQ(gen(description("http://127.0.0.1:1/", true)).status, 0);
  json tasks = readJson(dir / "s/tasks.json");
  // bin's task: the DELETE of st goes before its PUT, the DELETE of page to another file.
  json& requests = tasks[2]["requests"];
  std::swap(requests[2], requests[3]);
  requests[6]["uri"] = "http://h/area/other";
  writeJson(dir / "s/tasks.json", tasks);
  json metadata = readJson(dir / "s/metadata.json");
  metadata[2].erase("access");
  metadata[1]["access"] = "write";
  writeJson(dir / "s/metadata.json", metadata);
  const auto result = check();
  EXPECT_EQ(result.status, 0) << result.out;
  const std::string tasksPath = (dir / "s/tasks.json").string();
  const std::string metadataPath = (dir / "s/metadata.json").string();
  EXPECT_NE(result.out.find(fmt::format(
                "warning: {}: tasks[2] (user bin): 2 PUT requests without a DELETE of the same "
                "uri after it in the task: requests[3] \"basic-bin-0_0-st-put\", requests[5] "
                "\"basic-bin-0_0-page-put\"; what a granted PUT stores stays on the server; add "
                "a DELETE after each",
                tasksPath)),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(fmt::format(
                "warning: {}: tasks[0] (user daemon): 1 PUT or DELETE request that {} judges by "
                "the read rule (no \"access\": \"write\"): requests[2] "
                "\"basic-daemon-1_1-st-put\" (PUT at [2])",
                tasksPath, metadataPath)),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(fmt::format(
                "warning: {}: tasks[0] (user daemon): 1 GET or HEAD request that {} judges by "
                "the write rule (\"access\": \"write\"): requests[1] \"basic-daemon-1_1-st\" "
                "(GET at [1])",
                tasksPath, metadataPath)),
            std::string::npos)
      << result.out;
}

// A hand-written configuration without the codes of a write's success fails every success.
TEST_F(WriteSuiteTest, CheckWarnsOfWriteSuccessCodesInNeitherSet) {
  ASSERT_EQ(gen(description("http://127.0.0.1:1/", true)).status, 0);
  EXPECT_EQ(check().out.find("in neither allowed_codes"), std::string::npos);
  json config = readJson(dir / "s/config.json");
  config["allowed_codes"] = {200};
  writeJson(dir / "s/config.json", config);
  const auto result = check();
  const std::string start = (dir / "s/tasks.json").string() + ": ";
  const std::string configPath = (dir / "s/config.json").string();
  EXPECT_NE(result.out.find(fmt::format(
                "warning: {}12 PUT requests, but {} has 201 in neither allowed_codes nor "
                "denied_codes: each PUT the server takes with 201 fails as a code in neither set; "
                "add 201 to allowed_codes\n",
                start, configPath)),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(fmt::format("warning: {}12 DELETE requests, but {} has 204 in neither",
                                        start, configPath)),
            std::string::npos)
      << result.out;
  // A refusal code counts as named: the user decided what it means.
  config["denied_codes"] = {201, 204, 403};
  writeJson(dir / "s/config.json", config);
  EXPECT_EQ(check().out.find("in neither allowed_codes"), std::string::npos);
}

// libcurl refuses a URL with a blank: gen refuses to write one, check names one written by hand.
TEST_F(WriteSuiteTest, AUrlWithABlankIsRefusedByGenAndNamedByCheck) {
  json d = description("http://127.0.0.1:1/", true);
  d["objects"][1]["path"] = "/a b/";
  auto result = gen(d);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("objects[1].path: \"/a b/\" holds a blank or control character, "
                            "which no URL may; write a blank as %20"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(fs::exists(dir / "s/tasks.json"));
  d = description("http://127.0.0.1:1/", true);
  d["objects"][2]["url"] = "http://h/area/\tpage";
  EXPECT_NE(gen(d).err.find("objects[2].url: "), std::string::npos);
  d["objects"][2]["url"] = "http://h/a%20b/page";
  ASSERT_EQ(gen(d).status, 0);
  EXPECT_EQ(check().out.find("blank"), std::string::npos);

  json tasks = readJson(dir / "s/tasks.json");
  tasks[2]["requests"][1]["uri"] = "http://127.0.0.1:1/a b/";
  writeJson(dir / "s/tasks.json", tasks);
  result = check();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find(fmt::format(
                "error: {}: tasks[2] (user bin): 1 request with a blank or control character in "
                "the uri: requests[1] \"http://127.0.0.1:1/a b/\"; libcurl refuses such a URL, "
                "so tav-req records a failed transfer; write a blank as %20\n",
                (dir / "s/tasks.json").string())),
            std::string::npos)
      << result.out;
}

// A HEAD answer has no body: judged as a read under a body check, each granted one fails.
TEST_F(WriteSuiteTest, CheckWarnsOfAHeadWhoseAnswerABodyCheckWouldFail) {
  ASSERT_EQ(gen(description("http://127.0.0.1:1/", false)).status, 0);
  json tasks = readJson(dir / "s/tasks.json");
  tasks[0]["requests"][0]["method"] = "HEAD";
  tasks[0]["requests"][1]["method"] = "HEAD";
  writeJson(dir / "s/tasks.json", tasks);
  json metadata = readJson(dir / "s/metadata.json");
  metadata[1]["access"] = "write";
  writeJson(dir / "s/metadata.json", metadata);
  const std::string configPath = (dir / "s/config.json").string();
  const std::string warning = fmt::format(
      "warning: {}: tasks[0] (user daemon): 1 HEAD request judged by the read rule while {} "
      "checks bodies: requests[0] \"basic-daemon-1_1-ro\" ([0]); a HEAD answer has no body, so "
      "each one the labels grant fails the body check; send a GET or judge it as a write",
      (dir / "s/tasks.json").string(), configPath);
  EXPECT_EQ(check().out.find("HEAD request judged"), std::string::npos);
  json config = readJson(dir / "s/config.json");
  config["check_body"] = true;
  config["body_template"] = "object label {obj_mac_lev}";
  writeJson(dir / "s/config.json", config);
  const auto result = check();
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find(warning + "\n"), std::string::npos) << result.out;
  // An empty template is found in every body, an empty one too.
  config["body_template"] = "";
  writeJson(dir / "s/config.json", config);
  EXPECT_EQ(check().out.find("HEAD request judged"), std::string::npos);
}

}  // namespace
