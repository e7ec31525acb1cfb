// tav-suite check on a generated suite: clean, it finds no error; with one mistake planted at a
// time, it prints that mistake's line (and exits 1 for an error, 0 for a warning).
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
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
    // The test folder is the log folder of most runs: open to the task users, and sticky.
    fs::permissions(dir.path(), fs::perms::sticky_bit, fs::perm_options::add);
    fs::create_directory(dir / "out");
    fs::permissions(dir / "out", fs::perms::all | fs::perms::sticky_bit);
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
  EXPECT_NE(result.out.find("metadata.json: \"x\" is not a label (it has no colon) in 1 place: [4] "
                            "object_label"),
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
       "error: " + t + "tasks[0] (user nobody): no entry in " + m.substr(0, m.size() - 2) +
           " for 1 request: requests[0] \"typo\";",
       1},
      {[](Suite& s) { s.tasks[0]["requests"][0]["uuid"] = "typo"; },
       "error: " + m + "no request of " + t.substr(0, t.size() - 2) +
           " answers 1 entry: [0] \"basic-nobody-0_0-a\";",
       1},
      {[](Suite& s) { s.tasks[1]["requests"][1]["uuid"] = "basic-daemon-1_1-a"; },
       "error: " + t +
           "tasks[1] (user daemon): 1 request with a uuid already used: requests[1] "
           "\"basic-daemon-1_1-a\" (as tasks[1] requests[0]);",
       1},
      {[](Suite& s) { s.metadata[2] = s.metadata[1]; },
       "error: " + m + "1 uuid with more than one entry: [2] \"basic-nobody-0_0-b\" (first [1]);",
       1},
      {[](Suite& s) { s.metadata[3]["subject_label"] = "3:7"; },
       "error: " + t + "tasks[0] (user nobody): sent with mac_label 0:0, but " +
           m.substr(0, m.size() - 2) +
           " judges 1 request as another subject_label: requests[3] \"gssapi-nobody-0_0-b\" "
           "(subject_label \"3:7\" at [3]); make them the same",
       1},
      {[](Suite& s) { s.metadata[0]["object_label"] = "x"; },
       "error: " + m + "\"x\" is not a label (it has no colon) in 1 place: [0] object_label;", 1},
      {[](Suite& s) { s.tasks[0]["user"]["name"] = "tav-no-such-user"; },
       "error: " + t +
           "user \"tav-no-such-user\" of tasks[0] does not exist on this machine; create the "
           "account or fix the name",
       1},
      {[](Suite& s) { s.tasks[0]["requests"][1]["uri"] = "file:///etc/passwd"; },
       "error: " + t +
           "tasks[0] (user nobody): 1 request with a uri that is not an http:// or https:// URL: "
           "requests[1] \"file:///etc/passwd\"; tav-req sends only those and records any other "
           "as a failed transfer; fix the uri\n",
       1},
      {[](Suite& s) { s.tasks[1]["user"]["name"] = std::string("daemon\0x", 8); },
       "error: " + t +
           "tav-req would refuse it: tasks[1] (user daemon\\x00x): invalid user name "
           "\"daemon\\u0000x\": it holds a NUL byte\n",
       1},
      {[](Suite& s) { s.tasks[2]["user"]["mac_label"] = "zz"; },
       "error: " + t +
           "tav-req would refuse it: tasks[2] (user daemon): invalid mac_label \"zz\": it has no "
           "colon\n",
       1},
      {[](Suite& s) { s.metadata[1].erase("object_label"); },
       "error: " + m + "tav-rep would refuse it: [1]: has no \"object_label\"\n", 1},
      {[](Suite& s) { s.config["body_template"] = "{nope}"; },
       "error: " + c + "tav-rep would refuse it: body_template \"{nope}\" cannot be formatted", 1},
      {[&](Suite&) { fs::remove(dir / "cc_nobody"); },
       "error: " + t + "tasks[0] (user nobody): KRB5CCNAME file cache " +
           (dir / "cc_nobody").string() + " is missing",
       1},
      {[&](Suite&) { tav_test::writeFile(dir / "cc_daemon", ""); },
       "error: " + t + "tasks[1] (user daemon): KRB5CCNAME file cache " +
           (dir / "cc_daemon").string() + " is empty",
       1},
      // A folder or a FIFO holds no ticket; the FIFO is never opened.
      {[&](Suite& s) {
         fs::create_directories(dir / "cc_folder");
         s.tasks[1]["env"]["KRB5CCNAME"] = "FILE:" + (dir / "cc_folder").string();
       },
       "error: " + t + "tasks[1] (user daemon): KRB5CCNAME file cache " +
           (dir / "cc_folder").string() + " is not a regular file (a folder)",
       1},
      {[&](Suite& s) {
         if (!fs::exists(dir / "cc_fifo")) ::mkfifo((dir / "cc_fifo").c_str(), 0666);
         s.tasks[0]["env"]["KRB5CCNAME"] = (dir / "cc_fifo").string();
       },
       "error: " + t + "tasks[0] (user nobody): KRB5CCNAME file cache " +
           (dir / "cc_fifo").string() + " is not a regular file (a device, FIFO or socket)",
       1},
      {[](Suite& s) { s.tasks[0]["env"]["KRB5CCNAME"] = "FILE:"; },
       "error: " + t + "tasks[0] (user nobody): KRB5CCNAME \"FILE:\" names no file", 1},
      {[](Suite& s) { s.tasks[0]["env"]["KRB5CCNAME"] = "MEMORY:tav"; },
       "error: " + t + "tasks[0] (user nobody): KRB5CCNAME \"MEMORY:tav\" is a memory cache", 1},
      {[](Suite& s) { s.tasks[0]["env"]["KRB5CCNAME"] = ""; },
       "warning: " + t + "tasks[0] (user nobody): KRB5CCNAME is empty", 0},
      {[](Suite& s) { s.metadata[4]["max_mac_label"] = "0:0"; },
       "warning: " + m +
           "subject_label \"1:1\" is outside the user's range 0:0..0:0 in 1 entry: [4] "
           "\"basic-daemon-1_1-a\"; tav-rep predicts it refused;",
       0},
      {[](Suite& s) {
         s.tasks.push_back({{"user", s.tasks[0]["user"]}, {"requests", json::array()}});
       },
       "warning: " + t + "tasks[3] (user nobody): mac_label 0:0 is also that of tasks[0]", 0},
      {[](Suite& s) {
         s.config["denied_codes"] = {200, 403};
       },
       "warning: " + c + "code 200 is in both allowed_codes and denied_codes", 0},
      {[](Suite& s) {
         for (int r = 0; r < 4; ++r) s.metadata[r]["subject_label"] = " 0:0";
         s.metadata[0]["min_mac_label"] = " 0:0";
       },
       "warning: " + m +
           "label \" 0:0\" is read as 0:0 in 5 places: [0] subject_label, [0] min_mac_label, [1] "
           "subject_label, [2] subject_label, [3] subject_label; write what is meant in the "
           "plain form",
       0},
      {[](Suite& s) {
         for (int e = 4; e < 8; ++e) s.metadata[e]["min_mac_label"] = "2:8";
       },
       "error: " + m +
           "the range 2:8..3:7 is empty (min_mac_label is not within max_mac_label) in 4 "
           "entries: [4] \"basic-daemon-1_1-a\", [5] \"basic-daemon-1_1-b\", [6] "
           "\"gssapi-daemon-1_1-a\", [7] \"gssapi-daemon-1_1-b\"; tav-rep predicts every request "
           "of such an entry refused; fix the range",
       1},
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

// A label the programs read as something else than written is told once per text and file,
// with the places, in the tasks file as in the metadata; an empty range is not also outside.
TEST_F(SuiteCheck, LabelsReadAsSomethingElseAreToldOncePerTextAndFile) {
  Suite suite = clean;
  suite.tasks[1]["user"]["mac_label"] = "+1:1";
  suite.tasks[2]["user"]["mac_label"] = "0:0x";
  for (int e = 4; e < 8; ++e) suite.metadata[e]["subject_label"] = "+1:1";
  suite.metadata[11]["object_label"] = "256:0";
  suite.metadata[10]["object_label"] = "0:-80000000";
  const auto result = check(suite);
  EXPECT_EQ(result.status, 0) << result.out;
  const std::string t = (dir / "tasks.json").string();
  const std::string m = (dir / "metadata.json").string();
  const std::string plain = "; write what is meant in the plain form";
  // "0:-80000000" is how a mask with the top bit set is written: no warning.
  const std::string expected =
      "warning: " + m +
      ": label \"+1:1\" is read as 1:1 in 4 places: [4] subject_label, [5] subject_label, "
      "[6] subject_label, [7] subject_label" +
      plain + "\nwarning: " + m + ": label \"256:0\" is read as 0:0 in 1 place: [11] object_label" +
      plain + "\nwarning: " + t +
      ": label \"+1:1\" is read as 1:1 in 1 place: tasks[1] (user daemon) mac_label" + plain +
      "\nwarning: " + t +
      ": label \"0:0x\" is read as 0:0 in 1 place: tasks[2] (user daemon) mac_label" + plain + "\n";
  std::string out = result.out;
  if (!tav_test::isRoot()) out = out.substr(0, out.rfind("warning: " + t + ": 1"));
  EXPECT_EQ(out, expected);
}

// Empty ranges and subjects outside their range are listed by level, then categories, whatever
// the order of the entries or of the texts.
TEST_F(SuiteCheck, RangesAreToldInLabelOrder) {
  Suite suite = clean;
  const auto range = [&](int entry, const char* low, const char* high) {
    suite.metadata[entry]["min_mac_label"] = low;
    suite.metadata[entry]["max_mac_label"] = high;
  };
  range(0, "10:0", "10:7");
  range(1, "9:0", "9:7");
  range(2, "20:0", "3:7");
  range(3, "4:0", "3:7");
  const auto result = check(suite);
  EXPECT_EQ(result.status, 1) << result.out;
  const auto at = [&](const std::string& text) {
    const std::size_t found = result.out.find(text);
    EXPECT_NE(found, std::string::npos) << text << "\n" << result.out;
    return found;
  };
  EXPECT_LT(at("error: " + (dir / "metadata.json").string() + ": the range 4:0..3:7 is empty"),
            at("the range 20:0..3:7 is empty"));
  EXPECT_LT(at("subject_label \"0:0\" is outside the user's range 9:0..9:7 in 1 entry: [1] "),
            at("subject_label \"0:0\" is outside the user's range 10:0..10:7 in 1 entry: [0] "));
}

// Findings about many requests of one task make one line, with a count and the first few.
TEST_F(SuiteCheck, FindingsAreGroupedPerTask) {
  Suite suite = clean;
  for (int r = 0; r < 4; ++r) {
    suite.tasks[1]["requests"][r]["uuid"] = fmt::format("typo-{}", r);
    suite.metadata[8 + r]["subject_label"] = "1:1";
    suite.tasks[2]["requests"][r]["auth_type"] = "negotiate";
  }
  const auto result = check(suite);
  EXPECT_EQ(result.status, 1);
  const std::string t = (dir / "tasks.json").string();
  const std::string m = (dir / "metadata.json").string();
  for (const std::string& line :
       {"error: " + t + ": tasks[1] (user daemon): no entry in " + m +
            " for 4 requests: requests[0] \"typo-0\", requests[1] \"typo-1\", requests[2] "
            "\"typo-2\", requests[3] \"typo-3\"; tav-rep judges a request without labels "
            "as failed; add the entries or fix the uuids\n",
        "error: " + m + ": no request of " + t +
            " answers 4 entries: [4] \"basic-daemon-1_1-a\", [5] \"basic-daemon-1_1-b\", [6] "
            "\"gssapi-daemon-1_1-a\", [7] \"gssapi-daemon-1_1-b\"; tav-rep fails each as "
            "unanswered; remove them or fix the uuids\n",
        "error: " + t + ": tasks[2] (user daemon): sent with mac_label 0:0, but " + m +
            " judges 4 requests as another subject_label: requests[0] "
            "\"basic-daemon-0_0-a\" (subject_label \"1:1\" at [8]), requests[1] "
            "\"basic-daemon-0_0-b\" (subject_label \"1:1\" at [9]), requests[2] "
            "\"gssapi-daemon-0_0-a\" (subject_label \"1:1\" at [10]), requests[3] "
            "\"gssapi-daemon-0_0-b\" (subject_label \"1:1\" at [11]); make them the same\n",
        "warning: " + t +
            ": tasks[2] (user daemon): 4 requests with an auth_type neither "
            "basic nor gssapi, which tav-req sends as basic: requests[0] \"negotiate\", "
            "requests[1] \"negotiate\", requests[2] \"negotiate\", requests[3] "
            "\"negotiate\"\n"}) {
    EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;
  }
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), tav_test::isRoot() ? 4 : 5)
      << result.out;
}

// A uuid, a user name or a label holding an escape sequence never reaches the terminal raw.
TEST_F(SuiteCheck, TextFromTheFilesIsEscaped) {
  Suite suite = clean;
  suite.tasks[0]["requests"][0]["uuid"] = "\x1b[2J\x1b]0;owned\x07";
  suite.metadata[5]["object_label"] =
      "\xc2\x9b"
      "1m";
  // A right-to-left override would show the rest of the line reversed.
  suite.tasks[0]["requests"][1]["uuid"] =
      "ab\xe2\x80\xae"
      "dc";
  const auto result = check(suite);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("\xc2\x9b"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("requests[0] \"\\x1b[2J\\x1b]0;owned\\x07\""), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\"\\u009b1m\" is not a label"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("\xe2\x80\xae"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"ab\\u202edc\""), std::string::npos) << result.out;
}

// Inputs that cannot be read, or that are other files of a suite, are told as such.
TEST_F(SuiteCheck, UnusableInputsAreToldAsSuch) {
  writeJson(dir / "tasks.json", clean.tasks);
  writeJson(dir / "config.json", clean.config);
  const std::string t = (dir / "tasks.json").string();
  const std::string m = (dir / "metadata.json").string();
  const std::string c = (dir / "config.json").string();
  auto result = runSuite(
      {"check", "-t", (dir / "missing.json").string(), "-m", t, "-c", dir.path().string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "error: " + (dir / "missing.json").string() + ": no such file\nerror: " +
                            dir.path().string() + ": is a folder, not a file\nerror: " + t +
                            ": tav-rep would refuse it: this looks like a tasks file; give the "
                            "metadata file\n");
  writeJson(dir / "metadata.json", clean.metadata);
  tav_test::writeFile(dir / "out.txt", "");
  result = runSuite({"check", "-t", t, "-m", m, "-c", m, "-o", (dir / "out.txt").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("error: " + m +
                            ": tav-rep would refuse it: this looks like a metadata file; give "
                            "the report configuration\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("error: " + (dir / "out.txt").string() +
                            ": is a file, not a folder; tav-req writes the answers into a "
                            "folder; give one\n"),
            std::string::npos)
      << result.out;
}

// A folder every user may write into but without the sticky bit lets anyone remove or replace
// the run's files: said for the output and the log folder alike, and not for a sticky one.
TEST_F(SuiteCheck, AFolderOpenToEveryoneWithoutTheStickyBitIsWarnedAbout) {
  const std::string out = (dir / "out").string();
  fs::create_directory(dir / "logs");
  const std::string logs = (dir / "logs").string();
  const auto run = [&] {
    return runSuite({"check", "-t", (dir / "tasks.json").string(), "-m",
                     (dir / "metadata.json").string(), "-o", out, "-d", logs});
  };
  writeJson(dir / "tasks.json", clean.tasks);
  writeJson(dir / "metadata.json", clean.metadata);
  fs::permissions(dir / "out", fs::perms::all);
  fs::permissions(dir / "logs", fs::perms::all);
  const auto open = run();
  EXPECT_NE(open.out.find("warning: " + out +
                          ": every user may write into this folder of the answers but it is not "
                          "sticky: any local user can remove or replace the run's files; chmod "
                          "+t " +
                          out + "\n"),
            std::string::npos)
      << open.out;
  EXPECT_NE(open.out.find("warning: " + logs + ": every user may write into this folder of the " +
                          "logs but it is not sticky"),
            std::string::npos)
      << open.out;

  fs::permissions(dir / "out", fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(dir / "logs", fs::perms::owner_all);
  EXPECT_EQ(run().out.find("not sticky"), std::string::npos);
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
      "error: " + t + ": tasks[1] (user daemon): the user cannot read its KRB5CCNAME file cache " +
          (dir / "cc_daemon").string() + "; make the user its owner (chown)\n",
      "error: " + (dir / "out").string() +
          ": user \"nobody\" of tasks[0] cannot write into it, and tav-req's child writes its "
          "answers there as that user; chmod 1777 it (the sticky bit keeps one user from "
          "replacing another's files) or pick another folder\n",
      "error: " + (dir / "out").string() + ": user \"daemon\" of tasks[1] cannot write into it"};
  const auto result = check(clean);
  EXPECT_EQ(result.status, 1);
  for (const std::string& line : expected) {
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
  }
  // The log folder is written by root: no finding about it.
  EXPECT_EQ(result.out.find(dir.path().string() + ": the log"), std::string::npos) << result.out;

  // The same answers with SIGCHLD ignored from the start: the helper's children are still
  // waited for. (A NUL, which once shifted the helper's questions, no longer gets that far:
  // names, passwords and environment texts with one are refused as tav-req refuses them.)
  const auto ignoring = tav_test::runProgramIgnoringSigchld(
      {TAV_SUITE_PATH, "check", "-t", t, "-m", (dir / "metadata.json").string(), "-c",
       (dir / "config.json").string(), "-o", (dir / "out").string(), "-d", dir.path().string()});
  EXPECT_EQ(ignoring.status, 1);
  EXPECT_EQ(ignoring.out, result.out);

  // A folder open to everyone behind a closed one: the closed one is named, not the folder.
  fs::create_directories(dir / "closed/out");
  fs::permissions(dir / "closed", fs::perms::owner_all);
  fs::permissions(dir / "closed/out", fs::perms::all | fs::perms::sticky_bit);
  writeJson(dir / "tasks.json", clean.tasks);
  writeJson(dir / "metadata.json", clean.metadata);
  const auto behind = runSuite({"check", "-t", t, "-m", (dir / "metadata.json").string(), "-o",
                                (dir / "closed/out").string()});
  EXPECT_EQ(behind.status, 1);
  EXPECT_NE(behind.out.find("error: " + (dir / "closed/out").string() +
                            ": user \"nobody\" of tasks[0] cannot write into it: the user cannot "
                            "pass through " +
                            (dir / "closed").string() + "; chmod o+x " + (dir / "closed").string() +
                            " or pick another folder\n"),
            std::string::npos)
      << behind.out;
  EXPECT_EQ(behind.out.find("chmod 1777"), std::string::npos) << behind.out;
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

  // A certificate copied into a folder without `openssl rehash`: OpenSSL never looks at it.
  const fs::path copied = dir / "copied";
  fs::create_directory(copied);
  tav_test::writeFile(copied / "site-ca.pem", pem);
  tav_test::writeFile(copied / "0123abcd.r0", "");
  const auto unhashed = checkWith({"--capath", copied.string()});
  EXPECT_EQ(unhashed.status, 0);
  EXPECT_EQ(unhashed.out, "warning: " + copied.string() +
                              ": the CA folder holds no certificate under a hashed name (such as "
                              "5ed36f99.0), so tav-req's children trust none in it; run openssl "
                              "rehash " +
                              copied.string() + " after copying the CA's certificate in\n");
}

}  // namespace
