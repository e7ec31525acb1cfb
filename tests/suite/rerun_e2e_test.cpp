// rerun and merge --over: the suite of a run's failures, written from either kind of report,
// and a rerun's answers put over the full run's. End to end as root: a run with a wrong
// password, the password fixed, only the failures sent again by tav-req against the local test
// server and merged over, gives tav-rep the report of the whole fixed suite run again.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/req/http_test_server.h"
#include "tests/suite/suite_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tav_test;

json request(const std::string& uuid, const std::string& uri) {
  return {{"uuid", uuid}, {"uri", uri}, {"auth_type", "basic"}};
}

json metaOf(const std::string& uuid, const std::string& subject, const std::string& object) {
  return {{"uuid", uuid},           {"subject_label", subject}, {"object_label", object},
          {"min_mac_label", "0:0"}, {"max_mac_label", "3:7"},   {"expect_ignore_mac_label", false}};
}

const char* kConfig = R"({"check_body": false, "body_template": "",
  "allowed_codes": [200], "denied_codes": [401, 403]})";

// Three tasks; the second holds an environment. The report fails t1-b, t3-a and t3-c.
void writeSuite(const fs::path& dir) {
  const json tasks = {
      {{"user", {{"name", "nobody"}, {"password", "p1"}, {"mac_label", "0:0"}}},
       {"requests", {request("t1-a", "http://h/a"), request("t1-b", "http://h/b")}}},
      {{"user", {{"name", "daemon"}, {"password", "p2"}, {"mac_label", "1:1"}}},
       {"env", {{"KRB5CCNAME", "FILE:/tmp/cc"}}},
       {"requests", {request("t2-a", "http://h/a")}}},
      {{"user", {{"name", "bin"}, {"password", "p3"}, {"mac_label", "2:3"}}},
       {"env", {{"LANG", "C"}}},
       {"requests",
        {request("t3-a", "http://h/a"), request("t3-b", "http://h/b"),
         request("t3-c", "http://h/c")}}}};
  writeJson(dir / "tasks.json", tasks);
  json metadata = json::array();
  for (const char* uuid : {"t1-a", "t1-b"}) metadata.push_back(metaOf(uuid, "0:0", "0:0"));
  metadata.push_back(metaOf("t2-a", "1:1", "0:0"));
  for (const char* uuid : {"t3-a", "t3-b", "t3-c"}) metadata.push_back(metaOf(uuid, "2:3", "0:0"));
  writeJson(dir / "metadata.json", metadata);
  tav_test::writeFile(dir / "config.json", kConfig);
}

std::vector<std::string> rerunArgs(const fs::path& dir, const fs::path& report,
                                   const fs::path& out) {
  return {"rerun",
          "-t",
          (dir / "tasks.json").string(),
          "-m",
          (dir / "metadata.json").string(),
          "-c",
          (dir / "config.json").string(),
          "-r",
          report.string(),
          "--out",
          out.string()};
}

TEST(SuiteRerun, KeepsOnlyTheFailedRequestsFromEitherKindOfReport) {
  tav_test::TempDir dir;
  writeSuite(dir.path());
  // Failed transfers' empty id and an id no task sends are failures nothing can rerun.
  tav_test::writeFile(dir / "report.json", R"({"failed_uuids": ["", "gone-1", "t1-b", "t3-a",
      "t3-c"], "total_count": 8})");
  tav_test::writeFile(dir / "view.json", R"({"total_count": 7, "failed_count": 4, "verdicts": [
      {"uuid": "", "passed": false}, {"uuid": "gone-1", "passed": false},
      {"uuid": "t1-a", "passed": true}, {"uuid": "t1-b", "passed": false},
      {"uuid": "t2-a", "passed": true}, {"uuid": "t3-a", "passed": false},
      {"uuid": "t3-b", "passed": true}, {"uuid": "t3-c", "passed": false, "code": 0}]})");
  const json tasks = readJson(dir / "tasks.json");
  json wantTasks = json::array({tasks[0], tasks[2]});
  wantTasks[0]["requests"] = json::array({tasks[0]["requests"][1]});
  wantTasks[1]["requests"] = json::array({tasks[2]["requests"][0], tasks[2]["requests"][2]});
  const json metadata = readJson(dir / "metadata.json");
  const json wantMetadata = json::array({metadata[1], metadata[3], metadata[5]});

  for (const char* report : {"report.json", "view.json"}) {
    SCOPED_TRACE(report);
    const fs::path out = dir / (std::string("rerun-") + report);
    const auto result = runSuite(rerunArgs(dir.path(), dir / report, out));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, fmt::format("warning: {}: 1 failed request of {} no task sends, so none "
                                      "is rerun: gone-1\n",
                                      (dir / "tasks.json").string(), (dir / report).string()));
    EXPECT_EQ(result.out, fmt::format("rerun suite in {}: 3 requests in 2 tasks (of 3 in {})\n",
                                      out.string(), (dir / "tasks.json").string()));
    EXPECT_EQ(readJson(out / "tasks.json"), wantTasks);
    EXPECT_EQ(readJson(out / "metadata.json"), wantMetadata);
    EXPECT_EQ(tav_test::readFile(out / "config.json"), kConfig);
    // The rerun suite is a suite tav-suite check takes whole.
    const auto check = runSuite(
        {"check", "-t", (out / "tasks.json").string(), "-m", (out / "metadata.json").string()});
    EXPECT_EQ(check.out.find("error:"), std::string::npos) << check.out;
  }

  // A file the fast scanner leaves to the JSON library (an escape, a byte above 0x7f) gives
  // the same suite.
  std::string text = tav_test::readFile(dir / "tasks.json");
  text.replace(text.find("\"p1\""), 4, "\"p\\u00e9\"");
  tav_test::writeFile(dir / "tasks.json", text);
  wantTasks[0]["user"]["password"] = "p\u00e9";
  const auto slow = runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "slow"));
  ASSERT_EQ(slow.status, 0) << slow.err;
  EXPECT_EQ(readJson(dir / "slow" / "tasks.json"), wantTasks);
  EXPECT_EQ(readJson(dir / "slow" / "metadata.json"), wantMetadata);
}

TEST(SuiteRerun, NothingFailedWritesNothingAndAnotherSuiteIsRefused) {
  tav_test::TempDir dir;
  writeSuite(dir.path());
  tav_test::writeFile(dir / "clean.json", R"({"failed_uuids": [], "total_count": 6})");
  const auto clean = runSuite(rerunArgs(dir.path(), dir / "clean.json", dir / "out"));
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(clean.out, fmt::format("nothing failed in {}: no rerun suite written\n",
                                   (dir / "clean.json").string()));
  EXPECT_FALSE(fs::exists(dir / "out"));
  // Transfers failed, but none names a request: nothing is rerun, and that is what is said.
  tav_test::writeFile(dir / "transfers.json", R"({"failed_uuids": [""], "total_count": 7})");
  const auto transfers = runSuite(rerunArgs(dir.path(), dir / "transfers.json", dir / "out"));
  EXPECT_EQ(transfers.status, 0) << transfers.err;
  EXPECT_EQ(transfers.out, fmt::format("nothing to rerun in {}: its only failure is the entry of "
                                       "failed transfers (\"\"), which names no request; no "
                                       "rerun suite written\n",
                                       (dir / "transfers.json").string()));
  EXPECT_FALSE(fs::exists(dir / "out"));

  tav_test::writeFile(dir / "other.json", R"({"failed_uuids": ["x", "y"], "total_count": 2})");
  const auto other = runSuite(rerunArgs(dir.path(), dir / "other.json", dir / "out"));
  EXPECT_EQ(other.status, 2);
  EXPECT_EQ(other.err, fmt::format("error: {}: none of its 2 failed requests is a request of {}: "
                                   "it is the report of another suite\n",
                                   (dir / "other.json").string(), (dir / "tasks.json").string()));
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(SuiteRerun, InputsItCannotUseAreStatusTwo) {
  struct Case {
    std::string file;
    std::string content;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"report.json", "[]", "the top level is an array, not an object"},
      {"report.json", R"({"failed_uuids": "t1-b"})", "\"failed_uuids\" is a string, not an array"},
      // In the task of a failed request; the rest of a file is not the rerun's to judge.
      {"tasks.json", R"([{"user": {"name": "a", "password": "", "mac_label": "x"},
                        "requests": [{"uuid": "t1-b", "uri": "http://h/", "auth_type": "basic"}]}])",
       "tav-req would refuse it: tasks[0] (user a): invalid mac_label \"x\": it has no colon"},
      {"metadata.json", R"([{"uuid": "a", "code": 200, "body": ""}])",
       "this looks like a responses file; give the metadata file"},
      {"config.json", R"({"check_body": true, "body_template": ""})",
       "tav-rep would refuse it: has no \"allowed_codes\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    tav_test::TempDir dir;
    writeSuite(dir.path());
    tav_test::writeFile(dir / "report.json", R"({"failed_uuids": ["t1-b"]})");
    tav_test::writeFile(dir / c.file, c.content);
    const auto result = runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "out"));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "error: " + (dir / c.file).string() + ": " + c.reason + "\n");
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

// What lies outside the failed requests is not judged, whether the quick scan reads the files or
// the library does (an escaped uuid makes the scan give up); a fault in a failed request is named
// by its place in the file either way.
TEST(SuiteRerun, OnlyTheFailedRequestsAreJudgedWhicheverWayTheFileIsRead) {
  for (const bool escaped : {false, true}) {
    SCOPED_TRACE(escaped ? "escaped" : "plain");
    tav_test::TempDir dir;
    writeSuite(dir.path());
    tav_test::writeFile(dir / "report.json", R"({"failed_uuids": ["t3-c"]})");
    json tasks = readJson(dir / "tasks.json");
    tasks[1]["user"]["mac_label"] = "x";
    tasks[2]["requests"][0]["auth_type"] = 5;
    json metadata = readJson(dir / "metadata.json");
    metadata[2].erase("subject_label");
    std::string tasksText = tasks.dump();
    std::string metadataText = metadata.dump();
    if (escaped) {
      for (std::string* text : {&tasksText, &metadataText}) {
        text->replace(text->find("\"t1-a\""), 6, "\"t1\\u002da\"");
      }
    }
    tav_test::writeFile(dir / "tasks.json", tasksText);
    tav_test::writeFile(dir / "metadata.json", metadataText);
    const auto kept = runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "out"));
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(readJson(dir / "out" / "tasks.json")[0]["requests"][0]["uuid"], "t3-c");
    EXPECT_EQ(readJson(dir / "out" / "metadata.json").size(), 1u);

    tasks[2]["requests"][2]["uri"] = 7;
    tasksText = tasks.dump();
    if (escaped) tasksText.replace(tasksText.find("\"t1-a\""), 6, "\"t1\\u002da\"");
    tav_test::writeFile(dir / "tasks.json", tasksText);
    const auto refused = runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "again"));
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "error: " + (dir / "tasks.json").string() +
                               ": tav-req would refuse it: tasks[2] (user bin): requests[2] "
                               "\"uri\" is number, not a string\n");
    EXPECT_FALSE(fs::exists(dir / "again"));
  }
}

// A PUT rerun without its DELETE (which passed) leaves what it stores on the server: said.
TEST(SuiteRerun, APutWithoutItsDeleteIsWarnedAbout) {
  tav_test::TempDir dir;
  writeSuite(dir.path());
  json tasks = readJson(dir / "tasks.json");
  json put = request("t2-put", "http://h/a/probe");
  put["method"] = "PUT";
  json del = request("t2-del", "http://h/a/probe");
  del["method"] = "DELETE";
  tasks[1]["requests"].push_back(put);
  tasks[1]["requests"].push_back(del);
  writeJson(dir / "tasks.json", tasks);
  json metadata = readJson(dir / "metadata.json");
  for (const char* uuid : {"t2-put", "t2-del"}) metadata.push_back(metaOf(uuid, "1:1", "1:1"));
  writeJson(dir / "metadata.json", metadata);

  tav_test::writeFile(dir / "put.json", R"({"failed_uuids": ["t2-put"]})");
  const auto lone = runSuite(rerunArgs(dir.path(), dir / "put.json", dir / "lone"));
  EXPECT_EQ(lone.status, 0);
  EXPECT_EQ(lone.err, "warning: " + (dir / "tasks.json").string() +
                          ": 1 PUT of the rerun without a DELETE of the same uri after it in the "
                          "rerun: t2-put; what a granted PUT stores stays on the server\n");
  tav_test::writeFile(dir / "both.json", R"({"failed_uuids": ["t2-put", "t2-del"]})");
  const auto both = runSuite(rerunArgs(dir.path(), dir / "both.json", dir / "both"));
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.err, "");
}

// Two tasks that send one failed uuid are both rerun, and said to be: their answers mix.
TEST(SuiteRerun, AUuidTwoTasksSendIsWarnedAbout) {
  tav_test::TempDir dir;
  writeSuite(dir.path());
  json tasks = readJson(dir / "tasks.json");
  tasks[2]["requests"][1]["uuid"] = "t1-b";
  writeJson(dir / "tasks.json", tasks);
  tav_test::writeFile(dir / "report.json", R"({"failed_uuids": ["t1-b"]})");
  const auto result = runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "out"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "warning: " + (dir / "tasks.json").string() +
                            ": 1 uuid of the rerun sent by more than one request: t1-b; their "
                            "answers cannot be told apart\n");
  EXPECT_EQ(readJson(dir / "out" / "tasks.json").size(), 2u);
}

// One set: a folder in the place of one file keeps the others from being written too.
TEST(SuiteRerun, WritesAllOrNothing) {
  tav_test::TempDir dir;
  writeSuite(dir.path());
  tav_test::writeFile(dir / "report.json", R"({"failed_uuids": ["t1-b"]})");
  fs::create_directories(dir / "out" / "metadata.json");
  tav_test::writeFile(dir / "out" / "tasks.json", "old");
  const auto result = runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "out"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "error: " + (dir / "out" / "metadata.json").string() + ": is a folder; name a file\n");
  EXPECT_EQ(tav_test::readFile(dir / "out" / "tasks.json"), "old");
  EXPECT_FALSE(fs::exists(dir / "out" / "config.json"));
}

// The folder holds one suite: a rerun without a configuration takes away an earlier rerun's,
// which belongs to another run.
TEST(SuiteRerun, WithoutAConfigurationTheEarlierOneGoes) {
  tav_test::TempDir dir;
  writeSuite(dir.path());
  tav_test::writeFile(dir / "report.json", R"({"failed_uuids": ["t1-b"]})");
  ASSERT_EQ(runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "out")).status, 0);
  ASSERT_TRUE(fs::exists(dir / "out" / "config.json"));
  std::vector<std::string> args = rerunArgs(dir.path(), dir / "report.json", dir / "out");
  args.erase(args.begin() + 5, args.begin() + 7);  // -c CONFIG
  const auto result = runSuite(args);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(fs::exists(dir / "out" / "config.json"));
  EXPECT_EQ(readJson(dir / "out" / "tasks.json").size(), 1u);
}

// An unknown key nested a hundred thousand deep is written back by no command: each says why
// instead of ending with SIGSEGV in the writer's recursion.
TEST(SuiteMergeOver, InputsNestedTooDeepAreRefusedWhereTheLimitIsPassed) {
  tav_test::TempDir dir;
  writeSuite(dir.path());
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::string answers = R"([{"uuid": "t1-a", "code": 200, "body": "", "x": )" + deep + "}]";
  tav_test::writeFile(dir / "deep.json", answers);
  tav_test::writeFile(dir / "fresh.json", R"([{"uuid": "t1-b", "code": 403, "body": ""}])");
  const std::string why =
      ": not JSON at line 1 column 1047: syntax error while parsing value - "
      "nesting deeper than 1000 levels\n";
  const auto over = runSuite({"merge", "--over", (dir / "deep.json").string(), "-o",
                              (dir / "out.json").string(), (dir / "fresh.json").string()});
  EXPECT_EQ(over.status, 2);
  EXPECT_EQ(over.err, "error: " + (dir / "deep.json").string() + why);
  EXPECT_FALSE(fs::exists(dir / "out.json"));

  json tasks = readJson(dir / "tasks.json");
  std::string text = tasks.dump();
  text.replace(text.find("\"user\""), 0, R"("x": )" + deep + ", ");
  tav_test::writeFile(dir / "tasks.json", text);
  tav_test::writeFile(dir / "report.json", R"({"failed_uuids": ["t1-b"]})");
  const auto rerun = runSuite(rerunArgs(dir.path(), dir / "report.json", dir / "again"));
  EXPECT_EQ(rerun.status, 2);
  EXPECT_NE(rerun.err.find("nesting deeper than 1000 levels"), std::string::npos) << rerun.err;
  EXPECT_FALSE(fs::exists(dir / "again"));
}

json answer(const std::string& uuid, int code, const std::string& body) {
  return {{"uuid", uuid}, {"code", code}, {"body", body}};
}

TEST(SuiteMergeOver, FreshAnswersReplaceTheBasesInItsOrder) {
  tav_test::TempDir dir;
  const json failed = answer("", 0, "");
  // BASE: b twice (tav-rep takes the later), and a failed transfer of its own.
  writeJson(dir / "base.json", json::array({answer("a", 200, "a1"), failed, answer("b", 401, "b1"),
                                            answer("c", 403, "c1"), answer("b", 401, "b2")}));
  writeJson(dir / "fresh1.json", json::array({answer("b", 200, "b-new"), failed}));
  writeJson(dir / "fresh2.json", json::array({answer("d", 200, "d-new")}));
  const auto result =
      runSuite({"merge", "--over", (dir / "base.json").string(), "-o", (dir / "out.json").string(),
                (dir / "fresh1.json").string(), (dir / "fresh2.json").string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readJson(dir / "out.json"),
            json::array({answer("a", 200, "a1"), answer("b", 200, "b-new"), answer("c", 403, "c1"),
                         failed, answer("d", 200, "d-new")}));

  // An id answered by two fresh files, a BASE tav-rep would refuse: status 2, nothing written.
  writeJson(dir / "fresh3.json", json::array({answer("b", 403, "")}));
  tav_test::writeFile(dir / "bad.json", R"([{"uuid": "a", "code": "200", "body": ""}])");
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"merge", "--over", (dir / "base.json").string(), "-o", (dir / "x.json").string(),
        (dir / "fresh1.json").string(), (dir / "fresh3.json").string()},
       fmt::format("error: {}: [0]: uuid \"b\" is answered in {} as well; a request ran on two "
                   "shards\n",
                   (dir / "fresh3.json").string(), (dir / "fresh1.json").string())},
      {{"merge", "--over", (dir / "bad.json").string(), "-o", (dir / "x.json").string(),
        (dir / "fresh1.json").string()},
       fmt::format("error: {}: [0]: \"code\" is string, not a number; tav-rep would refuse it\n",
                   (dir / "bad.json").string())},
      {{"merge", "--over", (dir / "base.json").string(), "-o", (dir / "base.json").string(),
        (dir / "fresh1.json").string()},
       fmt::format("error: {0}: is the same file as the input {0}; name another file\n",
                   (dir / "base.json").string())}};
  for (const auto& [args, err] : refused) {
    const auto bad = runSuite(args);
    EXPECT_EQ(bad.status, args[4] == args[2] ? 1 : 2);
    EXPECT_EQ(bad.err, err);
    EXPECT_FALSE(fs::exists(dir / "x.json"));
  }
}

// tav-rep's report.json on the answers.
json reportOf(const fs::path& suite, const fs::path& responses, const fs::path& dir) {
  fs::create_directories(dir);
  const auto rep = tav_test::runProgram(
      {TAV_REP_PATH, "-d", dir.string(), "-m", (suite / "metadata.json").string(), "-r",
       responses.string(), "-c", (suite / "config.json").string(), "-o", dir.string()});
  EXPECT_EQ(rep.status, 0) << rep.err;
  return readJson(dir / "report.json");
}

// uuid and code of every answer, in uuid order; bodies differ only where codes do here.
std::multiset<std::pair<std::string, int>> codesOf(const json& answers) {
  std::multiset<std::pair<std::string, int>> codes;
  for (const json& a : answers)
    codes.emplace(a.at("uuid").get<std::string>(), a.at("code").get<int>());
  return codes;
}

TEST(SuiteRerun, RerunAndMergeOverGiveTheReportOfTheFixedSuiteRunAgain) {
  if (!tav_test::isRoot()) GTEST_SKIP() << "tav-req switches to the task users: needs root";
  tav_test::TempDir dir;
  tav_test::HttpTestServer server{{}, {"daemon:pw-daemon", "bin:pw-bin"}};
  const std::string closed = fmt::format("http://127.0.0.1:{}/", tav_test::closedPort());
  // daemon passes, but for a grant the server refuses (d-stuck) and a server that does not
  // listen (d-closed), which stay failing; bin's password is wrong at first, so its granted
  // requests get 401 until it is fixed.
  const auto tasksWith = [&](const std::string& binPassword) {
    return json{
        {{"user", {{"name", "daemon"}, {"password", "pw-daemon"}, {"mac_label", "1:1"}}},
         {"requests",
          {request("d-ok", server.url("/basic")), request("d-refused", server.url("/forbidden")),
           request("d-stuck", server.url("/forbidden")), request("d-closed", closed)}}},
        {{"user", {{"name", "bin"}, {"password", binPassword}, {"mac_label", "2:3"}}},
         {"requests",
          {request("b-one", server.url("/basic")), request("b-refused", server.url("/forbidden")),
           request("b-two", server.url("/basic"))}}}};
  };
  const fs::path suite = dir / "suite";
  fs::create_directories(suite);
  writeJson(suite / "tasks.json", tasksWith("wrong"));
  writeJson(suite / "metadata.json",
            json::array({metaOf("d-ok", "1:1", "0:0"), metaOf("d-refused", "1:1", "3:7"),
                         metaOf("d-stuck", "1:1", "1:1"), metaOf("d-closed", "1:1", "0:0"),
                         metaOf("b-one", "2:3", "0:0"), metaOf("b-refused", "2:3", "3:7"),
                         metaOf("b-two", "2:3", "2:3")}));
  tav_test::writeFile(suite / "config.json", kConfig);

  const fs::path first = runRequests(dir / "first", suite / "tasks.json");
  const json firstReport = reportOf(suite, first, dir / "first-rep");
  ASSERT_EQ(firstReport["failed_uuids"],
            json::parse(R"(["", "b-one", "b-two", "d-closed", "d-stuck"])"));

  // The fix; then only the failures again, and their answers over the first run's.
  writeJson(suite / "tasks.json", tasksWith("pw-bin"));
  const auto rerun = runSuite(rerunArgs(suite, dir / "first-rep" / "report.json", dir / "again"));
  ASSERT_EQ(rerun.status, 0) << rerun.err;
  std::size_t rerunRequests = 0;
  for (const json& task : readJson(dir / "again" / "tasks.json")) {
    rerunRequests += task["requests"].size();
  }
  EXPECT_EQ(rerunRequests, 4u);
  const fs::path second = runRequests(dir / "second", dir / "again" / "tasks.json");
  const auto merged = runSuite(
      {"merge", "--over", first.string(), "-o", (dir / "merged.json").string(), second.string()});
  ASSERT_EQ(merged.status, 0) << merged.err;

  // The whole fixed suite run again: the same report and the same codes.
  const fs::path full = runRequests(dir / "full", suite / "tasks.json");
  const json fullReport = reportOf(suite, full, dir / "full-rep");
  EXPECT_EQ(reportOf(suite, dir / "merged.json", dir / "merged-rep"), fullReport);
  EXPECT_EQ(fullReport["failed_uuids"], json::parse(R"(["", "d-closed", "d-stuck"])"));
  EXPECT_EQ(codesOf(readJson(dir / "merged.json")), codesOf(readJson(full)));
}

}  // namespace
