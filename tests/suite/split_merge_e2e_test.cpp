// split and merge around real runs: tav-req as root against the local test server on the whole
// suite and on each shard; the merged answers of the shards are the whole run's answers.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "suite/split.h"
#include "tests/req/http_test_server.h"
#include "tests/suite/suite_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tav_test;

json sortedByUuid(json answers) {
  std::sort(answers.begin(), answers.end(),
            [](const json& a, const json& b) { return a["uuid"] < b["uuid"]; });
  return answers;
}

TEST(SuiteSplitMerge, ShardsMergeToTheWholeRun) {
  if (!tav_test::isRoot()) GTEST_SKIP() << "tav-req switches to the task users: needs root";
  tav_test::TempDir dir;
  tav_test::HttpTestServer server{{}, {"nobody:pw-nobody", "daemon:pw-daemon", "bin:pw-bin"}};
  const auto user = [](const char* name, const json& labels) {
    return json{{"name", name}, {"password", fmt::format("pw-{}", name)}, {"labels", labels}};
  };
  writeJson(
      dir / "d.json",
      {{"base_url", server.url("/")},
       {"users",
        {user("nobody", {"0:0", "1:1", "2:3"}), user("daemon", {"1:1"}), user("bin", {"2:3"})}},
       {"objects",
        {{{"name", "who"}, {"label", "0:0"}, {"path", "/basic"}},
         {{"name", "ok"}, {"label", "1:1"}, {"path", "/ok"}},
         {{"name", "no"}, {"label", "2:3"}, {"path", "/forbidden"}}}}});
  ASSERT_EQ(runSuite({"gen", (dir / "d.json").string(), "--out", (dir / "s").string()}).status, 0);
  const json whole = readJson(runRequests(dir / "whole", dir / "s/tasks.json"));
  ASSERT_EQ(whole.size(), 15u);

  const auto split = runSuite({"split", "-t", (dir / "s/tasks.json").string(), "-m",
                               (dir / "s/metadata.json").string(), "--shards", "3", "--out",
                               (dir / "shards").string()});
  ASSERT_EQ(split.status, 0) << split.err;
  std::vector<std::string> merge = {"merge", "-o", (dir / "responses.json").string()};
  std::vector<std::size_t> sizes;
  for (int s = 1; s <= 3; ++s) {
    const fs::path shard = dir / fmt::format("shards/tasks-{}.json", s);
    std::size_t requests = 0;
    for (const json& task : readJson(shard)) requests += task["requests"].size();
    sizes.push_back(requests);
    // Each shard with its metadata is a whole suite of its own.
    const auto check = runSuite({"check", "-t", shard.string(), "-m",
                                 (dir / fmt::format("shards/metadata-{}.json", s)).string()});
    EXPECT_EQ(check.status, 0) << check.out;
    merge.push_back(runRequests(dir / fmt::format("run-{}", s), shard).string());
  }
  // Five tasks of three requests: whole tasks, the largest share at most one task above the rest.
  EXPECT_EQ(sizes, (std::vector<std::size_t>{6, 6, 3}));
  const auto merged = runSuite(merge);
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(sortedByUuid(readJson(dir / "responses.json")), sortedByUuid(whole));

  // A uuid answered on two shards is refused, and nothing is written.
  const std::string copy = (dir / "copy.json").string();
  fs::copy_file(merge[3], copy);
  const auto twice = runSuite({"merge", "-o", (dir / "twice.json").string(), merge[3], copy});
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find(fmt::format("error: {}: [0]: uuid", copy)), std::string::npos)
      << twice.err;
  EXPECT_FALSE(fs::exists(dir / "twice.json"));
}

TEST(SuiteSplitMerge, UnevenTasksBalanceByRequests) {
  // One large task fills a shard of its own; the small ones share the other in file order.
  EXPECT_EQ(tav_suite::assignShards({3, 10, 3, 2, 2}, 2),
            (std::vector<std::size_t>{1, 0, 1, 1, 1}));
  EXPECT_EQ(tav_suite::assignShards({4, 4, 4, 4, 1}, 3), (std::vector<std::size_t>{0, 1, 2, 0, 1}));
}

TEST(SuiteSplitMerge, FailedTransfersAndEmptyRunsAreKept) {
  tav_test::TempDir dir;
  const json failed = {{"uuid", ""}, {"code", 0}, {"body", ""}};
  writeJson(dir / "r1.json", json::array({failed, {{"uuid", "a"}, {"code", 200}, {"body", "x"}}}));
  writeJson(dir / "r2.json", json::array({failed}));
  tav_test::writeFile(dir / "r3.json", "null");
  const auto result =
      runSuite({"merge", "-o", (dir / "m.json").string(), (dir / "r1.json").string(),
                (dir / "r2.json").string(), (dir / "r3.json").string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(readJson(dir / "m.json"),
            json::array({failed, {{"uuid", "a"}, {"code", 200}, {"body", "x"}}, failed}));
}

// merge takes an answer only as tav-rep loads it, and names the file, the entry and the key of
// the first it would refuse; a file that is not a shard's responses.json is told as such.
TEST(SuiteSplitMerge, MergeRefusesWhatTavRepWouldRefuse) {
  tav_test::TempDir dir;
  writeJson(dir / "good.json", json::array({{{"uuid", "a"}, {"code", 200}, {"body", ""}}}));
  fs::create_directory(dir / "folder");
  const std::pair<std::string, std::string> cases[] = {
      {R"([{"uuid": "x1", "code": "200", "body": ""}])",
       "[0]: \"code\" is string, not a number; tav-rep would refuse it"},
      {R"([{"uuid": "x1", "code": 200, "body": ""}, {"uuid": "x2", "code": 200}])",
       "[1]: has no \"body\"; tav-rep would refuse it"},
      {R"([{"uuid": null, "code": 0, "body": ""}])",
       "[0]: \"uuid\" is null, not a string; tav-rep would refuse it"},
      {R"([{"uuid": "x", "code": 1e300, "body": ""}])",
       "[0]: \"code\" 1e+300 does not fit a signed 64-bit integer; tav-rep would refuse it"},
      {R"([["x", 200, ""]])", "[0]: is array, not an object; tav-rep would refuse it"},
      {R"({"tasks": [{"uuid": "x", "code": 200, "body": ""}]})",
       "this looks like a per-task responses file ({\"tasks\": [...]}); give the merged "
       "responses.json"},
      {R"([{"user": {"name": "a", "password": "", "mac_label": "1:1"}, "requests": []}])",
       "this looks like a tasks file; give the merged responses.json"},
      {R"("answers")", "the top level is string, not an array of answers"},
      {R"([{"uuid": "x", "code": 1e400, "body": ""}])",
       "cannot be read as JSON: number overflow parsing '1e400'"},
      {"[{\"uuid\": \"x\",\n \"code\": 200,", "not JSON at line 2 column 13: ..."},
      {"-", "no such file"},
      {"/", "is a folder, not a file"},
      {"=", "is given twice (as @ too); name each shard's responses file once"},
  };
  for (const auto& [content, why] : cases) {
    SCOPED_TRACE(content);
    fs::path input = dir / "bad.json";
    fs::remove(input);
    if (content == "-") {
      input = dir / "missing.json";
    } else if (content == "/") {
      input = dir / "folder";
    } else if (content == "=") {
      // The good file again, by another name.
      fs::create_symlink(dir / "good.json", input);
    } else {
      tav_test::writeFile(input, content);
    }
    const auto result = runSuite(
        {"merge", "-o", (dir / "m.json").string(), (dir / "good.json").string(), input.string()});
    EXPECT_EQ(result.status, 2);
    std::string line = "error: " + input.string() + ": " + why;
    if (const auto at = line.find('@'); at != std::string::npos) {
      line.replace(at, 1, (dir / "good.json").string());
    }
    if (why.ends_with("...")) {
      EXPECT_EQ(result.err.rfind(line.substr(0, line.size() - 3), 0), 0u) << result.err;
    } else {
      EXPECT_EQ(result.err, line + "\n");
    }
    EXPECT_FALSE(fs::exists(dir / "m.json"));
  }
}

json task(const std::string& user, const std::vector<std::string>& uuids) {
  json requests = json::array();
  for (const std::string& uuid : uuids) {
    requests.push_back({{"uuid", uuid}, {"uri", "http://h/"}, {"auth_type", "basic"}});
  }
  return {{"user", {{"name", user}, {"password", ""}, {"mac_label", "1:1"}}},
          {"requests", requests}};
}

json entry(const std::string& uuid) {
  return {{"uuid", uuid},           {"subject_label", "1:1"}, {"object_label", "1:1"},
          {"min_mac_label", "0:0"}, {"max_mac_label", "1:1"}, {"expect_ignore_mac_label", false}};
}

// Metadata that misses a request's uuid would leave that request without labels in its shard.
TEST(SuiteSplitMerge, SplitRefusesMetadataThatMissesRequests) {
  tav_test::TempDir dir;
  writeJson(dir / "tasks.json",
            json::array({task("a", {"a1", "a2", "a3", "a4"}), task("b", {"b1", "b2"})}));
  writeJson(dir / "metadata.json", json::array({entry("a2"), entry("other")}));
  const auto result = runSuite({"split", "-t", (dir / "tasks.json").string(), "-m",
                                (dir / "metadata.json").string(), "--shards", "2", "--out",
                                (dir / "shards").string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "error: " + (dir / "metadata.json").string() +
                            ": has no entry for 5 of the 6 request uuids of " +
                            (dir / "tasks.json").string() +
                            " (\"a1\", \"a3\", \"a4\", \"b1\", \"b2\"); give the metadata of "
                            "this suite\n");
  EXPECT_FALSE(fs::exists(dir / "shards"));
}

// split's inputs are told as such: a missing tasks file, a tasks file given as metadata, and a
// bad task named by index and user.
TEST(SuiteSplitMerge, SplitNamesWhatIsWrongWithItsInputs) {
  tav_test::TempDir dir;
  writeJson(dir / "tasks.json", json::array({task("nobody", {"a1"}), task("daemon", {"b1"})}));
  json badTask = json::array({task("nobody", {"a1"}), task("daemon", {"b1"})});
  badTask[1]["requests"][0].erase("uri");
  writeJson(dir / "bad.json", badTask);
  const std::string t = (dir / "tasks.json").string();
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-t", (dir / "missing.json").string()}, (dir / "missing.json").string() + ": no such file"},
      {{"-t", t, "-m", t},
       t + ": tav-rep would refuse it: this looks like a tasks file; give the metadata file"},
      {{"-t", (dir / "bad.json").string()},
       (dir / "bad.json").string() +
           ": tav-req would refuse it: tasks[1] (user daemon): requests[0] has no \"uri\""},
  };
  for (const auto& [inputs, line] : cases) {
    SCOPED_TRACE(line);
    std::vector<std::string> args = {"split", "--shards", "2", "--out", (dir / "s").string()};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const auto result = runSuite(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "error: " + line + "\n");
    EXPECT_FALSE(fs::exists(dir / "s"));
  }
}

// A uuid used by tasks of two shards gets its metadata in both; metadata no request names is
// left out, with a warning for each.
TEST(SuiteSplitMerge, SplitGivesSharedUuidsToEveryShardAndWarns) {
  tav_test::TempDir dir;
  writeJson(dir / "tasks.json",
            json::array({task("nobody", {"a1", "shared", "a3"}), task("daemon", {"shared", "b2"}),
                         task("bin", {"c1"})}));
  writeJson(dir / "metadata.json", json::array({entry("a1"), entry("shared"), entry("a3"),
                                                entry("b2"), entry("c1"), entry("spare")}));
  const auto result = runSuite({"split", "-t", (dir / "tasks.json").string(), "-m",
                                (dir / "metadata.json").string(), "--shards", "2", "--out",
                                (dir / "shards").string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err,
            "warning: " + (dir / "tasks.json").string() +
                ": uuids in tasks of different shards, each of which gets their metadata: "
                "\"shared\" (shards 1 and 2)\n"
                "warning: " +
                (dir / "metadata.json").string() + ": entries no request of " +
                (dir / "tasks.json").string() + " names, left out of every shard: [5] \"spare\"\n");
  const auto uuids = [&](int shard) {
    std::vector<std::string> found;
    for (const json& e : readJson(dir / fmt::format("shards/metadata-{}.json", shard))) {
      found.push_back(e["uuid"]);
    }
    return found;
  };
  EXPECT_EQ(uuids(1), (std::vector<std::string>{"a1", "shared", "a3"}));
  EXPECT_EQ(uuids(2), (std::vector<std::string>{"shared", "b2", "c1"}));
  // Each shard is a whole suite of its own.
  for (int s = 1; s <= 2; ++s) {
    const auto check =
        runSuite({"check", "-t", (dir / fmt::format("shards/tasks-{}.json", s)).string(), "-m",
                  (dir / fmt::format("shards/metadata-{}.json", s)).string()});
    EXPECT_EQ(check.out.find("error:"), std::string::npos) << check.out;
  }
}

}  // namespace
