// The built tav-req run as root against a local HTTP server, with real system accounts: the
// children really switch, their logs and the main log say what happened in task order, the
// results are merged, and every failure of a child or of the tasks file shows as it should.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/req/http_test_server.h"
#include "tests/support/run_folders.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tav_test;

class RunnerTest : public ::testing::Test, protected RunFolders {
 protected:
  // The child logs, in the order of the main log's lines about their pids.
  std::vector<fs::path> childLogsInTaskOrder() const {
    const std::map<pid_t, fs::path> byPid = childLogs(logDir);
    std::vector<fs::path> logs;
    for (const auto& line : mainLog()) {
      // One outcome line per child; a failed child's second line names how it ended.
      if (!line.ends_with("] was failed") && !line.ends_with("] was successfully completed")) {
        continue;
      }
      const auto open = line.find('[');
      const auto found = byPid.find(static_cast<pid_t>(std::stol(line.substr(open + 1))));
      if (found != byPid.end()) logs.push_back(found->second);
    }
    return logs;
  }

  HttpTestServer server{dir / "server.log", {"nobody:pw-nobody", "daemon:pw-daemon", "bin:pw-bin"}};
};

TEST_F(RunnerTest, EachTaskRunsAsItsUserAndTheResultsAreMergedInTaskOrder) {
  SKIP_UNLESS_ROOT();
  // Left by an earlier run or by someone else: replaced and ignored.
  tav_test::writeFile(outDir / "responses.json", "[\"stale\"]");
  tav_test::writeFile(outDir / "old_responses.json", "not json");
  const std::vector<json> tasks = {
      task("nobody", "2:1f",
           {request("n1", server.url("/basic")), request("n2", server.url("/ok"))}),
      task("daemon", "0:0", {request("d1", server.url("/basic"))}),
      task("bin", "1:3", {request("b1", server.url("/forbidden"))})};

  const auto result = runReq(tasks);
  ASSERT_EQ(result.status, 0) << result.err;

  EXPECT_EQ(merged(), json::parse(R"([
    {"uuid": "n1", "code": 200, "body": "user nobody"},
    {"uuid": "n2", "code": 200, "body": "ok"},
    {"uuid": "d1", "code": 200, "body": "user daemon"},
    {"uuid": "b1", "code": 403, "body": "forbidden"}])"));
  EXPECT_EQ(ownerOf(outDir / "responses_nobody_2_31.json"), 65534u);
  EXPECT_EQ(ownerOf(outDir / "responses_daemon_0_0.json"), 1u);
  EXPECT_EQ(ownerOf(outDir / "responses_bin_1_3.json"), 2u);
  EXPECT_EQ(ownerOf(outDir / "responses.json"), 0u);
  EXPECT_EQ(readFile(outDir / "old_responses.json"), "not json");

  const std::vector<fs::path> logs = childLogsInTaskOrder();
  ASSERT_EQ(logs.size(), 3u);
  const char* const suffixes[] = {"-nobody_2_0x1f.log", "-daemon_0_0x0.log", "-bin_1_0x3.log"};
  Lines expectedMain;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    const std::string name = logs[i].filename().string();
    EXPECT_TRUE(name.ends_with(suffixes[i])) << name;
    EXPECT_EQ(ownerOf(logs[i]), 0u) << name;
    const std::string pid = name.substr(6, name.find('-', 6) - 6);
    expectedMain.push_back(fmt::format("info child [{}] was successfully completed", pid));
  }
  expectedMain.push_back("info saved result to " + out("responses.json"));
  EXPECT_EQ(mainLog(), expectedMain);

  EXPECT_EQ(
      messages(logs[0]),
      (Lines{"info child begin", "info ZEM label: 2:1f", "info make requests..",
             "info sending 2 requests..",
             fmt::format("info Request to {} (n1) is done with code: 200", server.url("/basic")),
             fmt::format("info Request to {} (n2) is done with code: 200", server.url("/ok")),
             "info serialize 2 responses..", "info n1: 200 -- user nobody", "info n2: 200 -- ok",
             "info saved result to " + out("responses_nobody_2_31.json"), "info child end"}));
  EXPECT_EQ(messages(logs[2])[1], "info ZEM label: 1:3");
}

TEST_F(RunnerTest, EveryFailedStepOfTheSwitchEndsItsChildWithItsMessage) {
  SKIP_UNLESS_ROOT();
  const std::vector<json> tasks = {task("nobody", "2:1f", {request("n1", server.url("/ok"))})};
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> cases = {
      {{{"ZEM_STANDIN_FAIL", "zem_init"}},
       "error Failed to initialize ZEM: Operation not permitted"},
      {{{"KORVAL_STANDIN_FAIL", "korval_capset"}},
       "error Failed to set KORVAL capabilities: Operation not permitted"},
      {{{"ZEM_STANDIN_FAIL", "zem_set_pid"}},
       "error Failed to set ZEM label (2:1f): Operation not permitted"},
  };
  for (const auto& [env, message] : cases) {
    SCOPED_TRACE(message);
    for (const auto& entry : fs::directory_iterator(logDir)) fs::remove(entry.path());

    const auto result = runReq(tasks, env);
    EXPECT_EQ(result.status, 1);
    const auto logs = childLogsInTaskOrder();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(messages(logs[0]), Lines{message});
    const std::string name = logs[0].filename().string();
    const std::string pid = name.substr(6, name.find('-', 6) - 6);
    EXPECT_EQ(mainLog(), (Lines{fmt::format("error child [{}] was failed", pid),
                                fmt::format("error child [{}] exited with status 1", pid),
                                "info saved result to " + out("responses.json")}));
    EXPECT_EQ(readFile(outDir / "responses.json"), "null");
    EXPECT_FALSE(fs::exists(outDir / "responses_nobody_2_31.json"));
  }
  EXPECT_EQ(readFile(dir / "server.log"), "");  // no child got as far as a request
}

TEST_F(RunnerTest, AFailedTaskLeavesTheOthersAndTheMergeIntact) {
  SKIP_UNLESS_ROOT();
  const std::string unreachable = fmt::format("http://127.0.0.1:{}/", tav_test::closedPort());
  const std::vector<json> tasks = {
      task("nobody", "0:0", {request("n1", server.url("/ok")), request("n2", unreachable)}),
      task("tav-no-such-user", "0:0", {request("x1", server.url("/ok"))}),
      task("daemon", "0:0", {request("d1", server.url("/ok"))})};

  const auto result = runReq(tasks);
  EXPECT_EQ(result.status, 1);
  const auto logs = childLogsInTaskOrder();
  ASSERT_EQ(logs.size(), 3u);
  EXPECT_EQ(messages(logs[1]), Lines{"error Failed to find user: tav-no-such-user"});
  const Lines main = mainLog();
  ASSERT_EQ(main.size(), 5u);
  EXPECT_TRUE(main[0].starts_with("info child [")) << main[0];
  EXPECT_TRUE(main[1].starts_with("error child [")) << main[1];
  EXPECT_TRUE(main[2].ends_with("] exited with status 1")) << main[2];
  EXPECT_TRUE(main[3].starts_with("info child [")) << main[3];
  EXPECT_EQ(main[4], "info saved result to " + out("responses.json"));
  // An unreachable server is an answer like any other: code 0, no uuid.
  EXPECT_EQ(merged(), json::parse(R"([
    {"uuid": "n1", "code": 200, "body": "ok"},
    {"uuid": "", "code": 0, "body": ""},
    {"uuid": "d1", "code": 200, "body": "ok"}])"));
}

TEST_F(RunnerTest, AnOutputDirectoryTheUserCannotWriteFailsThatChild) {
  SKIP_UNLESS_ROOT();
  fs::permissions(outDir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  const auto result = runReq({task("nobody", "0:0", {request("n1", server.url("/ok"))})});
  EXPECT_EQ(result.status, 1);
  const auto logs = childLogsInTaskOrder();
  ASSERT_EQ(logs.size(), 1u);
  const Lines child = messages(logs[0]);
  ASSERT_GE(child.size(), 2u);
  EXPECT_EQ(child[child.size() - 2], "error failed to save file " +
                                         out("responses_nobody_0_0.json") +
                                         ": could not open file: Permission denied.");
  EXPECT_EQ(child.back(), "info child end");
  EXPECT_EQ(readFile(outDir / "responses.json"), "null");
}

TEST_F(RunnerTest, EnvironmentEntriesAreSetAndABadOneEndsTheChild) {
  SKIP_UNLESS_ROOT();
  const std::vector<json> tasks = {task("nobody", "0:0", {}, {{"TAV_VAR", "v"}}),
                                   task("daemon", "0:0", {}, {{"A=B", "x"}})};
  const auto result = runReq(tasks, {}, "debug");
  EXPECT_EQ(result.status, 1);
  const auto logs = childLogsInTaskOrder();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(messages(logs[0])[0], "debug Set env TAV_VAR=v");
  EXPECT_EQ(messages(logs[1]),
            (Lines{"debug Set env A=B=x", "warning Failed to set env A=B=x: Invalid argument"}));
  // A task without requests succeeds with an empty list.
  EXPECT_EQ(readFile(outDir / "responses_nobody_0_0.json"), "{\n  \"tasks\": []\n}");
  EXPECT_EQ(readFile(outDir / "responses.json"), "null");
}

TEST_F(RunnerTest, ManyRequestsAllReachTheMergedFile) {
  SKIP_UNLESS_ROOT();
  std::vector<json> tasks;
  std::vector<std::string> expected;
  for (const std::string user : {"nobody", "daemon", "bin"}) {
    std::vector<json> requests;
    for (int i = 0; i < 50; ++i) {
      const std::string uuid = fmt::format("{}-{}", user, i);
      requests.push_back(request(uuid, server.url("/ok")));
      expected.push_back(uuid);
    }
    tasks.push_back(task(user, "1:1", requests));
  }
  const auto result = runReq(tasks);
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<std::string> uuids;
  for (const auto& entry : merged()) {
    EXPECT_EQ(entry["code"], 200);
    uuids.push_back(entry["uuid"]);
  }
  EXPECT_EQ(uuids, expected);
}

TEST_F(RunnerTest, AnInvalidUtf8BodyIsMendedAndTheTaskSucceeds) {
  SKIP_UNLESS_ROOT();
  const auto result = runReq({task("nobody", "0:0", {request("l1", server.url("/latin1"))})});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(merged(), json::parse(R"([{"uuid": "l1", "code": 200, "body": "caf\ufffd \ufffd"}])"));
  const auto logs = childLogsInTaskOrder();
  ASSERT_EQ(logs.size(), 1u);
  const Lines child = messages(logs[0]);
  EXPECT_NE(std::find(child.begin(), child.end(),
                      "warning body of request l1 is not valid UTF-8; invalid bytes replaced by "
                      "U+FFFD"),
            child.end());
}

TEST_F(RunnerTest, TasksOfOneUserAndLabelWriteSeparateFiles) {
  SKIP_UNLESS_ROOT();
  const std::vector<json> tasks = {task("nobody", "1:1", {request("a", server.url("/ok"))}),
                                   task("nobody", "1:1", {request("b", server.url("/ok"))}),
                                   task("nobody", "1:1", {request("c", server.url("/ok"))})};
  const auto result = runReq(tasks);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(fs::exists(outDir / "responses_nobody_1_1.json"));
  EXPECT_TRUE(fs::exists(outDir / "responses_nobody_1_1-2.json"));
  EXPECT_TRUE(fs::exists(outDir / "responses_nobody_1_1-3.json"));
  std::vector<std::string> uuids;
  for (const auto& entry : merged()) uuids.push_back(entry["uuid"]);
  EXPECT_EQ(uuids, (std::vector<std::string>{"a", "b", "c"}));
}

// A tasks file that cannot be used starts no child and writes nothing.
TEST_F(RunnerTest, AnUnusableTasksFileStartsNoChild) {
  SKIP_UNLESS_ROOT();
  const std::vector<std::pair<std::string, Lines>> cases = {
      {"[]", Lines{}},
      {json::array({task("nobody", "0:0", {}), task("daemon", "7", {})}).dump(),
       Lines{"critical Failed to parse data: invalid mac_label \"7\": it has no colon"}},
      {"{}",
       Lines{"critical Failed to parse data: [json.exception.type_error.302] type must be array, "
             "but is object; exception id 302"}},
      // getpwnam and the file names stop at the NUL: both would run as daemon into one file.
      {json::array({task(std::string("daemon\0a", 8), "0:0", {request("a", server.url("/ok"))}),
                    task(std::string("daemon\0b", 8), "0:0", {request("b", server.url("/ok"))})})
           .dump(),
       Lines{"critical Failed to parse data: invalid user name \"daemon\\u0000a\": it holds a NUL "
             "byte"}},
      {json::array({task("", "0:0", {})}).dump(),
       Lines{"critical Failed to parse data: invalid user name \"\": it is empty"}},
  };
  for (const auto& [tasks, expected] : cases) {
    SCOPED_TRACE(tasks);
    const auto result = runReqText(tasks);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(mainLog(), expected);
    EXPECT_EQ(childLogs(logDir).size(), 0u);
    EXPECT_TRUE(fs::is_empty(outDir));
  }
  EXPECT_EQ(readFile(dir / "server.log"), "");
}

// Some supervisors and shells start programs with SIGCHLD ignored; the kernel would then reap
// children that end before the runner waits for them, and their answers would be lost.
TEST_F(RunnerTest, ARunStartedWithSigchldIgnoredMergesEveryAnswer) {
  SKIP_UNLESS_ROOT();
  constexpr int kTasks = 150;
  std::vector<json> tasks;
  std::vector<std::string> expected;
  for (int t = 0; t < kTasks; ++t) {
    const std::string uuid = fmt::format("t{}", t);
    const char* const users[] = {"nobody", "daemon", "bin"};
    tasks.push_back(task(users[t % 3], fmt::format("{}:{:x}", t % 4, t % 16),
                         {request(uuid, server.url("/ok?" + uuid))}));
    expected.push_back(uuid);
  }
  writeTasks(tasks);
  const auto result = runProgramIgnoringSigchld(reqArgs());
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<std::string> uuids;
  for (const auto& entry : merged()) uuids.push_back(entry["uuid"]);
  EXPECT_EQ(uuids, expected);
  const Lines main = mainLog();
  EXPECT_EQ(startingWith(main, "info child [").size(), static_cast<std::size_t>(kTasks));
  EXPECT_EQ(startingWith(main, "error ").size(), 0u) << ::testing::PrintToString(main);
}

// Only http and https are sent: another scheme is a failed transfer, and nothing is read or
// connected to for it, even where the task user could read the file.
TEST_F(RunnerTest, AUrlOfAnotherSchemeIsAFailedTransferAndNothingIsReadForIt) {
  SKIP_UNLESS_ROOT();
  const fs::path file = dir / "readable.txt";
  tav_test::writeFile(file, "not an answer of the server");
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::vector<json> tasks = {
      task("nobody", "0:0",
           {request("f1", "file://" + file.string()), request("f2", "FILE://" + file.string()),
            request("g1", fmt::format("gopher://127.0.0.1:{}/x", server.port())),
            request("n1", server.url("/ok"))})};
  const auto result = runReq(tasks);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(merged(), json::parse(R"([
    {"uuid": "", "code": 0, "body": ""},
    {"uuid": "", "code": 0, "body": ""},
    {"uuid": "", "code": 0, "body": ""},
    {"uuid": "n1", "code": 200, "body": "ok"}])"));
  const Lines child = messages(childLogsInTaskOrder().at(0));
  EXPECT_EQ(startingWith(child, "error "), Lines(3, "error Unsupported protocol"));
  // The server saw the http request only.
  EXPECT_EQ(tav_test::readLines(dir / "server.log"), (Lines{"start /ok", "end /ok"}));
}

TEST_F(RunnerTest, ARequestThatRunsOutOfTimeIsAFailedTransferAndTheNextIsSent) {
  SKIP_UNLESS_ROOT();
  const std::vector<json> tasks = {
      task("nobody", "0:0",
           {request("n1", server.url("/hang")), request("n2", server.url("/ok?after"))}),
      task("daemon", "0:0", {request("d1", server.url("/ok"))})};
  const auto result = runReqText(json(tasks).dump(), {}, "info", {"--request-timeout", "1"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(merged(), json::parse(R"([
    {"uuid": "", "code": 0, "body": ""},
    {"uuid": "n2", "code": 200, "body": "ok"},
    {"uuid": "d1", "code": 200, "body": "ok"}])"));
  const Lines child = messages(childLogsInTaskOrder().at(0));
  EXPECT_NE(std::find(child.begin(), child.end(), "error Timeout was reached"), child.end());
}

// The documented upper bound is taken, and libcurl takes it too: the requests are answered.
TEST_F(RunnerTest, TheLargestRequestTimeoutIsAcceptedAndEveryRequestIsAnswered) {
  SKIP_UNLESS_ROOT();
  const std::vector<json> tasks = {task("nobody", "0:0", {request("n1", server.url("/ok"))})};
  const auto result = runReqText(json(tasks).dump(), {}, "info", {"--request-timeout", "2147483"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(merged(), json::parse(R"([{"uuid": "n1", "code": 200, "body": "ok"}])"));
}

// libcurl reads the CA file in the child, as the task user: one the user cannot read is named
// first in its child log, and each https request then fails with its own line; http goes on.
TEST_F(RunnerTest, ACaFileTheTaskUserCannotReadIsNamedInItsChildLog) {
  SKIP_UNLESS_ROOT();
  fs::create_directory(dir / "private");
  fs::permissions(dir / "private", fs::perms::owner_all);
  const fs::path ca = dir / "private" / "ca.pem";
  tav_test::writeFile(ca, "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n");
  const std::string https = fmt::format("https://127.0.0.1:{}/ok", server.port());
  const std::vector<json> tasks = {
      task("nobody", "0:0",
           {request("s1", https), request("s2", https), request("n1", server.url("/ok"))})};
  const auto result = runReqText(json(tasks).dump(), {}, "info", {"--cacert", ca.string()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(merged(), json::parse(R"([
    {"uuid": "", "code": 0, "body": ""},
    {"uuid": "", "code": 0, "body": ""},
    {"uuid": "n1", "code": 200, "body": "ok"}])"));
  const std::string failed =
      "error Problem with the SSL CA cert (path? access rights?): error "
      "setting certificate file: " +
      ca.string() + " (request ";
  EXPECT_EQ(startingWith(messages(childLogsInTaskOrder().at(0)), "error "),
            (Lines{"error user nobody cannot read the CA file " + ca.string() +
                       ": open: Permission denied; every https request of this task will fail",
                   failed + "s1 to " + https + ")", failed + "s2 to " + https + ")"}));
  const Lines main = mainLog();
  EXPECT_NE(
      std::find(main.begin(), main.end(), "info trusting the CA certificates in " + ca.string()),
      main.end());
}

TEST_F(RunnerTest, ARequestTimeoutThatIsNotAWholeNumberOfSecondsIsRejected) {
  for (const char* value : {"-5", "abc", "1.5", "+3", "", "2147484", "99999999999999999999"}) {
    const auto result = runReqText("[]", {}, "info", {"--request-timeout", value});
    EXPECT_EQ(result.status, 1) << value;
    EXPECT_NE(result.err.find("does not meet constraint: Value must be a whole number of "
                              "seconds from 0 to 2147483."),
              std::string::npos)
        << result.err;
  }
  EXPECT_TRUE(fs::is_empty(logDir));
  EXPECT_TRUE(fs::is_empty(outDir));
  const auto help = tav_test::runProgram({TAV_REQ_PATH, "--help"});
  EXPECT_NE(help.out.find("--request-timeout <seconds>"), std::string::npos) << help.out;
}

}  // namespace
