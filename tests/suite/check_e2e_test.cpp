// tav-suite check on a generated suite: clean, it finds no error; with one mistake planted at a
// time, it prints that mistake's line (and exits 1 for an error, 0 for a warning).
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "tests/suite/suite_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tav_test;

struct Suite {
  json tasks;
  json metadata;
  json config;
};

class SuiteCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir / "out");
    fs::permissions(dir / "out", fs::perms::all);
    for (const char* user : {"nobody", "daemon"}) {
      const fs::path cache = dir / fmt::format("cc_{}", user);
      tav_test::writeFile(cache, "ticket");
      if (tav_test::isRoot()) chown(cache.c_str(), getpwnam(user)->pw_uid, 0);
      fs::permissions(cache, fs::perms::owner_read | fs::perms::owner_write);
    }
    const auto user = [&](const char* name, const json& labels) {
      return json{
          {"name", name},
          {"labels", labels},
          {"min_label", "0:0"},
          {"max_label", "3:7"},
          {"env", {{"KRB5CCNAME", fmt::format("FILE:{}/cc_{}", dir.path().string(), name)}}}};
    };
    writeJson(dir / "d.json",
              {{"base_url", "http://127.0.0.1:1"},
               {"auth_types", {"basic", "gssapi"}},
               {"users", {user("nobody", {"0:0"}), user("daemon", {"1:1", "0:0"})}},
               {"objects",
                {{{"name", "a"}, {"label", "1:1"}, {"path", "/a"}},
                 {{"name", "b"}, {"label", "0:0"}, {"path", "/b"}}}},
               {"report", {{"check_body", true}, {"body_template", "label {obj_mac_lev}"}}}});
    const auto gen = runSuite({"gen", (dir / "d.json").string(), "--out", dir.path().string()});
    ASSERT_EQ(gen.status, 0) << gen.err;
    clean = {readJson(dir / "tasks.json"), readJson(dir / "metadata.json"),
             readJson(dir / "config.json")};
  }

  tav_test::RunResult check(const Suite& suite) {
    writeJson(dir / "tasks.json", suite.tasks);
    writeJson(dir / "metadata.json", suite.metadata);
    writeJson(dir / "config.json", suite.config);
    return runSuite({"check", "-t", (dir / "tasks.json").string(), "-m",
                     (dir / "metadata.json").string(), "-c", (dir / "config.json").string(), "-o",
                     (dir / "out").string(), "-d", dir.path().string()});
  }

  tav_test::TempDir dir;
  Suite clean;
};

TEST_F(SuiteCheck, CleanSuitePasses) {
  const auto result = check(clean);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out.find("error:"), std::string::npos) << result.out;
  if (tav_test::isRoot()) {
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(SuiteCheck, MetadataAsAnObjectIsTakenAsTavRepTakesIt) {
  // tav-rep reads a top-level object's member values as the entries, in file order (here sorted
  // by uuid, so the changed entry is the fifth).
  Suite suite = clean;
  json byName = json::object();
  for (const json& entry : clean.metadata) byName[entry["uuid"].get<std::string>()] = entry;
  suite.metadata = byName;
  suite.metadata["basic-nobody-0_0-a"]["object_label"] = "x";
  const auto result = check(suite);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("metadata.json: [4] uuid \"basic-nobody-0_0-a\": object_label \"x\""),
            std::string::npos)
      << result.out;
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), tav_test::isRoot() ? 1 : 2)
      << result.out;
}

TEST_F(SuiteCheck, EachPlantedMistakeHasItsLine) {
  struct Case {
    std::function<void(Suite&)> plant;
    std::string line;
    int status;
  };
  const std::string t = (dir / "tasks.json").string() + ": ";
  const std::string m = (dir / "metadata.json").string() + ": ";
  const std::string c = (dir / "config.json").string() + ": ";
  const std::vector<Case> cases = {
      {[](Suite& s) { s.tasks[0]["requests"][0]["uuid"] = "typo"; },
       "error: " + t + "tasks[0].requests[0]: uuid \"typo\" has no entry in", 1},
      {[](Suite& s) { s.tasks[0]["requests"][0]["uuid"] = "typo"; },
       "error: " + m + "[0] uuid \"basic-nobody-0_0-a\" is answered by no request", 1},
      {[](Suite& s) { s.tasks[1]["requests"][1]["uuid"] = "basic-daemon-1_1-a"; },
       "error: " + t +
           "tasks[1].requests[1]: uuid \"basic-daemon-1_1-a\" is also that of "
           "tasks[1].requests[0]",
       1},
      {[](Suite& s) { s.metadata[2] = s.metadata[1]; },
       "error: " + m + "[2] uuid \"basic-nobody-0_0-b\" is there twice (first [1])", 1},
      {[](Suite& s) { s.metadata[3]["subject_label"] = "3:7"; },
       "error: " + t +
           "tasks[0].requests[3]: uuid \"gssapi-nobody-0_0-b\" is sent with mac_label "
           "0:0, but",
       1},
      {[](Suite& s) { s.metadata[0]["object_label"] = "x"; },
       "error: " + m +
           "[0] uuid \"basic-nobody-0_0-a\": object_label \"x\" is not a label (it "
           "has no colon)",
       1},
      {[](Suite& s) { s.tasks[0]["user"]["name"] = "tav-no-such-user"; },
       "error: " + t + "tasks[0]: user \"tav-no-such-user\" does not exist on this machine", 1},
      {[](Suite& s) { s.tasks[0]["requests"][1]["uri"] = "file:///etc/passwd"; },
       "error: " + t +
           "tasks[0].requests[1]: uri \"file:///etc/passwd\" is not an http:// or https:// URL",
       1},
      {[](Suite& s) { s.tasks[1]["user"]["name"] = std::string("daemon\0x", 8); },
       "error: " + t +
           "tav-req cannot load it: Failed to parse data: invalid user name \"daemon\\u0000x\": "
           "it holds a NUL byte",
       1},
      {[](Suite& s) { s.tasks[2]["user"]["mac_label"] = "zz"; },
       "error: " + t + "tav-req cannot load it: Failed to parse data: invalid mac_label \"zz\"", 1},
      {[](Suite& s) { s.metadata[1].erase("object_label"); },
       "error: " + m + "tav-rep cannot load it: Failed to parse data:", 1},
      {[](Suite& s) { s.config["body_template"] = "{nope}"; },
       "error: " + c + "tav-rep cannot load it: Failed to parse config: body_template", 1},
      {[&](Suite&) { fs::remove(dir / "cc_nobody"); },
       "error: " + t + "tasks[0]: KRB5CCNAME file cache " + (dir / "cc_nobody").string() +
           " of user \"nobody\" is missing",
       1},
      {[&](Suite&) { tav_test::writeFile(dir / "cc_daemon", ""); },
       "error: " + t + "tasks[1]: KRB5CCNAME file cache " + (dir / "cc_daemon").string() +
           " of user \"daemon\" is empty",
       1},
      {[](Suite& s) { s.metadata[4]["max_mac_label"] = "0:0"; },
       "warning: " + m +
           "subject_label \"1:1\" is outside the user's range 0:0..0:0 in 1 entry "
           "(first [4] uuid \"basic-daemon-1_1-a\")",
       0},
      {[](Suite& s) {
         s.tasks.push_back({{"user", s.tasks[0]["user"]}, {"requests", json::array()}});
       },
       "warning: " + t + "tasks[3]: user \"nobody\" with mac_label 0:0 is also tasks[0]", 0},
      {[](Suite& s) {
         s.config["denied_codes"] = {200, 403};
       },
       "warning: " + c + "code 200 is in both allowed_codes and denied_codes", 0},
  };
  for (const Case& planted : cases) {
    SCOPED_TRACE(planted.line);
    Suite suite = clean;
    planted.plant(suite);
    const auto result = check(suite);
    EXPECT_NE(result.out.find(planted.line), std::string::npos) << result.out;
    // Without root, the skipped checks add a warning but no error.
    EXPECT_EQ(result.status, planted.status) << result.out;
    SetUp();
  }
}

TEST_F(SuiteCheck, TaskUserAccessIsTriedAsTheUser) {
  if (!tav_test::isRoot()) {
    const auto result = check(clean);
    EXPECT_NE(result.out.find("checks of what task users may read and write skipped: needs root"),
              std::string::npos)
        << result.out;
    GTEST_SKIP() << "taking on a task user's identity needs root";
  }
  chown((dir / "cc_daemon").c_str(), 0, 0);
  fs::permissions(dir / "out", fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
  const std::string t = (dir / "tasks.json").string();
  const std::vector<std::string> expected = {
      "error: " + t + ": tasks[1]: user \"daemon\" cannot read its KRB5CCNAME file cache " +
          (dir / "cc_daemon").string() + "; make the user its owner (chown)",
      "error: " + (dir / "out").string() +
          ": user \"nobody\" of tasks[0] cannot write into it, and tav-req's child writes its "
          "responses there as that user; chmod 1777 it (the sticky bit keeps one user from "
          "replacing another's files) or pick another folder",
      "error: " + (dir / "out").string() + ": user \"daemon\" of tasks[1] cannot write into it"};
  const auto result = check(clean);
  EXPECT_EQ(result.status, 1);
  for (const std::string& line : expected) {
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
  }
  // The log folder is written by root: no finding about it.
  EXPECT_EQ(result.out.find(dir.path().string() + ": the log"), std::string::npos) << result.out;

  // The same answers with SIGCHLD ignored from the start, and with a NUL in a path asked about
  // first: the helper's children are still waited for, and no later question shifts.
  Suite hostile = clean;
  const std::string cache = fmt::format("FILE:{}/cc_nobody", dir.path().string());
  for (json& task : hostile.tasks) {
    if (task["user"]["name"] == "nobody") task["env"]["KRB5CCNAME"] = cache + std::string("\0x", 2);
  }
  writeJson(dir / "tasks.json", hostile.tasks);
  const auto ignoring = tav_test::runProgramIgnoringSigchld(
      {TAV_SUITE_PATH, "check", "-t", t, "-m", (dir / "metadata.json").string(), "-c",
       (dir / "config.json").string(), "-o", (dir / "out").string(), "-d", dir.path().string()});
  EXPECT_EQ(ignoring.status, 1);
  EXPECT_EQ(ignoring.out, result.out);
}

TEST_F(SuiteCheck, CaFileAndFolderAreTriedAsTheUsersWithHttpsRequests) {
  if (!tav_test::isRoot()) GTEST_SKIP() << "taking on a task user's identity needs root";
  // Only nobody's requests go over https, so only nobody needs to read the CA.
  Suite suite = clean;
  for (json& request : suite.tasks[0]["requests"]) request["uri"] = "https://127.0.0.1:1/a";
  const std::string t = (dir / "tasks.json").string();
  const auto checkWith = [&](const std::vector<std::string>& trust) {
    writeJson(dir / "tasks.json", suite.tasks);
    std::vector<std::string> args = {"check", "-t", t, "-m", (dir / "metadata.json").string()};
    args.insert(args.end(), trust.begin(), trust.end());
    return runSuite(args);
  };
  const auto none = checkWith({});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "warning: " + t +
                          ": 4 requests go to https:// URLs (first tasks[0].requests[0]) and "
                          "neither --cacert nor --capath is given: tav-req's children will "
                          "trust only the system's CA store; give both programs --cacert with "
                          "the CA that signed the servers' certificates unless the store holds "
                          "it\n");

  // A folder nobody may search into but not read, with a certificate only root may read.
  const fs::path certs = dir / "certs";
  fs::create_directory(certs);
  fs::permissions(certs, fs::perms::owner_all | fs::perms::others_exec);
  const std::string pem = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
  tav_test::writeFile(certs / "0123abcd.0", pem);
  tav_test::writeFile(dir / "junk.pem", "not a certificate\n");
  fs::permissions(certs / "0123abcd.0", fs::perms::owner_read);
  const auto refused =
      checkWith({"--cacert", (dir / "junk.pem").string(), "--capath", certs.string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out,
            "error: " + (dir / "junk.pem").string() +
                ": the CA file holds no PEM certificate (-----BEGIN CERTIFICATE-----); every "
                "https request would fail; give the CA's certificate in PEM form\n"
                "error: " +
                certs.string() +
                ": user \"nobody\" of tasks[0] cannot search this CA folder or read a "
                "certificate in it, and tav-req's child reads them as that user: its https "
                "requests may fail; make the folder searchable and its certificates readable to "
                "the user\n");

  fs::permissions(certs / "0123abcd.0", fs::perms::others_read, fs::perm_options::add);
  tav_test::writeFile(dir / "ca.pem", pem);
  const auto readable = checkWith({"--cacert", (dir / "ca.pem").string(), "--capath", certs});
  EXPECT_EQ(readable.status, 0) << readable.out;
  EXPECT_EQ(readable.out, "");

  const auto folder = checkWith({"--cacert", certs.string()});
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("Value must name an existing file."), std::string::npos);
}

}  // namespace
