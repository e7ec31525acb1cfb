// The built programs, as root, when the machine lets them down: an output folder one task's
// user cannot write, a log folder on a read-only file system or without room for one more file,
// a file system that fills up in the middle of a write, a fork that fails, and every failure
// the platform stand-ins can inject. Each run ends with its message and status, and nothing that
// was not written is reported as saved or merged.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/req/http_test_server.h"

namespace {

using namespace tav_test;
using tav_test::HttpTestServer;

// Mounts a tmpfs on the new folder run.dir/name for the rest of the test and names that folder
// `folder`; skips the test where no tmpfs can be mounted.
#define MOUNT_TMPFS_OR_SKIP(folder, name, options)                          \
  const TmpfsMount folder##Mount(run.dir / (name), (options));              \
  if (!folder##Mount.mounted()) {                                           \
    GTEST_SKIP() << "cannot mount a tmpfs here: " << folder##Mount.error(); \
  }                                                                         \
  const fs::path folder = run.dir / (name)

class LocalFaultTest : public ::testing::Test {
 protected:
  // The child log of the task of `user`, by its file name.
  fs::path childLogOf(const std::string& user, const fs::path& logDir) const {
    for (const auto& [pid, log] : childLogs(logDir)) {
      if (log.filename().string().find("-" + user + "_") != std::string::npos) return log;
    }
    ADD_FAILURE() << "no child log for " << user;
    return {};
  }
  pid_t childPidOf(const std::string& user) const {
    for (const auto& [pid, log] : childLogs(run.logDir)) {
      if (log.filename().string().find("-" + user + "_") != std::string::npos) return pid;
    }
    return -1;
  }
  std::string serverLog() const { return tav_test::readFile(run.dir / "server.log"); }

  RunFolders run;
  HttpTestServer server{run.dir / "server.log"};
};

TEST_F(LocalFaultTest, AnOutputFolderOneUserCannotWriteFailsOnlyThatTaskAndMergesNoStaleFile) {
  SKIP_UNLESS_ROOT();
  // daemon owns the folder; nobody may only read it.
  ASSERT_EQ(chown(run.outDir.c_str(), 1, 1), 0);
  fs::permissions(run.outDir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  // nobody's file from an earlier run: it must not come back as this run's answer.
  const std::string stale = R"({"tasks": [{"uuid": "stale", "code": 200, "body": "old"}]})";
  tav_test::writeFile(run.outDir / "responses_nobody_0_0.json", stale);

  const auto result = run.runReq({task("nobody", "0:0", {request("n1", server.url("/ok?n1"))}),
                                  task("daemon", "0:0", {request("d1", server.url("/ok?d1"))})});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "d1", "code": 200, "body": "ok"}])"));
  EXPECT_EQ(tav_test::readFile(run.outDir / "responses_nobody_0_0.json"), stale);
  EXPECT_EQ(ownerOf(run.outDir / "responses_daemon_0_0.json"), 1u);

  const Lines nobody = messages(childLogOf("nobody", run.logDir));
  EXPECT_EQ(startingWith(nobody, "error "),
            Lines{"error failed to save file " + run.out("responses_nobody_0_0.json") +
                  ": could not open file: Permission denied."});
  EXPECT_EQ(startingWith(nobody, "info saved result"), Lines{});
  EXPECT_EQ(startingWith(messages(childLogOf("daemon", run.logDir)), "info saved result"),
            Lines{"info saved result to " + run.out("responses_daemon_0_0.json")});
  EXPECT_EQ(run.mainLog(),
            (Lines{fmt::format("error child [{}] was failed", childPidOf("nobody")),
                   fmt::format("error child [{}] exited with status 1", childPidOf("nobody")),
                   fmt::format("info child [{}] was successfully completed", childPidOf("daemon")),
                   "info saved result to " + run.out("responses.json")}));
}

TEST_F(LocalFaultTest, ALogFolderOnAReadOnlyFileSystemStopsBothProgramsBeforeAnyWork) {
  SKIP_UNLESS_ROOT();
  MOUNT_TMPFS_OR_SKIP(readOnly, "ro", "ro");
  const std::string roDir = readOnly.string();
  run.writeTasks({task("nobody", "0:0", {request("n1", server.url("/ok"))})});
  const auto runner = run.runReqIn(roDir, run.outDir);
  EXPECT_EQ(runner.status, 1);
  EXPECT_EQ(runner.err, fmt::format("Error: Failed opening file {}/main.log for writing: "
                                    "Read-only file system\n",
                                    roDir));

  const std::string any = (run.dir / "tasks.json").string();
  const auto checker = tav_test::runProgram(
      {TAV_REP_PATH, "-d", roDir, "-m", any, "-r", any, "-c", any, "-o", run.outDir.string()});
  EXPECT_EQ(checker.status, 1);
  EXPECT_EQ(checker.err, fmt::format("Error: Failed opening file {}/report.log for writing: "
                                     "Read-only file system\n",
                                     roDir));
  EXPECT_TRUE(fs::is_empty(run.outDir));
  EXPECT_EQ(serverLog(), "");
}

TEST_F(LocalFaultTest, ChildLogsWithoutRoomFailEveryChildBeforeItSendsAnything) {
  SKIP_UNLESS_ROOT();
  // Two inodes: the folder itself and main.log; no child log fits.
  MOUNT_TMPFS_OR_SKIP(logDir, "logs-tmpfs", "size=1m,nr_inodes=2,mode=0777");
  // Many children failing at once, so their messages would mix if written in pieces.
  constexpr std::size_t kTasks = 16;
  std::vector<json> tasks;
  for (std::size_t i = 0; i < kTasks; ++i) {
    tasks.push_back(task(i % 2 == 0 ? "nobody" : "daemon", "0:0",
                         {request(fmt::format("r{}", i), server.url("/ok"))}));
  }
  run.writeTasks(tasks);
  const auto result = run.runReqIn(logDir, run.outDir);
  EXPECT_EQ(result.status, 1);
  // Every child says why on the standard error it shares with the others, one whole line each.
  Lines errors;
  for (std::size_t start = 0, end; (end = result.err.find('\n', start)) != std::string::npos;
       start = end + 1) {
    errors.push_back(result.err.substr(start, end - start));
  }
  ASSERT_EQ(errors.size(), kTasks) << result.err;
  for (const std::string& line : errors) {
    EXPECT_TRUE(line.starts_with("Error: failed to create the child log: Failed opening file " +
                                 logDir.string() + "/child-"))
        << line;
    EXPECT_TRUE(line.ends_with("_0_0x0.log for writing: No space left on device")) << line;
  }
  const Lines main = messages(logDir / "main.log");
  ASSERT_EQ(main.size(), 2 * kTasks + 1) << ::testing::PrintToString(main);
  for (std::size_t i = 0; i < kTasks; ++i) {
    EXPECT_TRUE(main[2 * i].starts_with("error child [")) << main[2 * i];
    EXPECT_TRUE(main[2 * i].ends_with("] was failed")) << main[2 * i];
    EXPECT_TRUE(main[2 * i + 1].ends_with("] exited with status 1")) << main[2 * i + 1];
  }
  EXPECT_EQ(main.back(), "info saved result to " + run.out("responses.json"));
  EXPECT_EQ(tav_test::readFile(run.outDir / "responses.json"), "null");
  EXPECT_EQ(serverLog(), "");
}

TEST_F(LocalFaultTest, AFullFileSystemFailsTheWriteThatMeetsItAndNothingIsMerged) {
  SKIP_UNLESS_ROOT();
  // 64 KiB cannot hold a 200 kB answer.
  MOUNT_TMPFS_OR_SKIP(outDir, "out-tmpfs", "size=64k,mode=0777");
  const std::string taskFile = (outDir / "responses_nobody_0_0.json").string();
  const std::string mergedFile = (outDir / "responses.json").string();
  run.writeTasks(
      {task("nobody", "0:0",
            {request("n1", server.url("/ok")), request("large", server.url("/large?n=200000"))})});
  const auto result = run.runReqIn(run.logDir, outDir);
  EXPECT_EQ(result.status, 1);
  const Lines child = messages(childLogOf("nobody", run.logDir));
  EXPECT_EQ(startingWith(child, "error "),
            Lines{"error failed to save file " + taskFile +
                  ": could not write file: No space left on device."});
  EXPECT_EQ(startingWith(child, "info saved result"), Lines{});
  // The cut-off file is removed, which frees its room: the merge then saves what it has (no
  // answer), and nothing else stays behind.
  EXPECT_EQ(run.mainLog(),
            (Lines{fmt::format("error child [{}] was failed", childPidOf("nobody")),
                   fmt::format("error child [{}] exited with status 1", childPidOf("nobody")),
                   "info saved result to " + mergedFile}));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(outDir)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"responses.json"});
  EXPECT_EQ(tav_test::readFile(mergedFile), "null");
}

// Root is exempt from RLIMIT_NPROC, so a preloaded fork plays the process limit: its second
// call, the second task's child, fails with EAGAIN.
TEST_F(LocalFaultTest, AForkThatFailsNamesItsTaskAndReasonAndTheRunGoesOn) {
  SKIP_UNLESS_ROOT();
  run.writeTasks({task("nobody", "0:0", {request("n1", server.url("/ok?n1"))}),
                  task("daemon", "1:1f", {request("d1", server.url("/ok?d1"))}),
                  task("bin", "0:0", {request("b1", server.url("/ok?b1"))})});
  const char* asan = std::getenv("ASAN_OPTIONS");
  const auto result = tav_test::runProgram(
      run.reqArgs(),
      {{"LD_PRELOAD", TAV_FORK_FAILURE_PATH},
       {"TAV_TEST_FAIL_FORK", "2"},
       // The sanitizer runtime would otherwise insist on being loaded first.
       {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0"}});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(run.mainLog(),
            (Lines{"error Failed to start the child of user daemon with label 1:1f: fork: "
                   "Resource temporarily unavailable",
                   fmt::format("info child [{}] was successfully completed", childPidOf("nobody")),
                   fmt::format("info child [{}] was successfully completed", childPidOf("bin")),
                   "info saved result to " + run.out("responses.json")}));
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "n1", "code": 200, "body": "ok"},
                                          {"uuid": "b1", "code": 200, "body": "ok"}])"));
  EXPECT_EQ(serverLog().find("d1"), std::string::npos);
}

// A file larger than memory (sparse here, 4 TiB) cannot be read; both programs end with
// status 1 and the reason in their log instead of an abort.
TEST_F(LocalFaultTest, AnInputLargerThanMemoryEndsTheRunWithAReason) {
  SKIP_UNLESS_ROOT();
#ifdef TAV_SANITIZED
  GTEST_SKIP() << "AddressSanitizer ends a program at an impossible allocation instead of throwing";
#endif
  if (tav_test::readFile("/proc/sys/vm/overcommit_memory") == "1\n") {
    GTEST_SKIP() << "memory is overcommitted without limit: the text would be read, not refused";
  }
  const fs::path huge = run.dir / "huge.json";
  tav_test::writeFile(huge, "");
  std::error_code error;
  fs::resize_file(huge, std::uintmax_t{4} << 40, error);
  if (error) GTEST_SKIP() << "no sparse file of 4 TiB here: " << error.message();

  const auto runner = tav_test::runProgram(
      {TAV_REQ_PATH, "-d", run.logDir.string(), "-t", huge.string(), "-o", run.outDir.string()});
  EXPECT_EQ(runner.status, 1) << runner.err;
  EXPECT_EQ(runner.err, "");
  EXPECT_EQ(run.mainLog(), Lines{"critical tav-req stopped: std::bad_alloc"});

  tav_test::writeFile(run.dir / "config.json",
                      R"({"check_body": false, "body_template": "", "allowed_codes": [200],
                          "denied_codes": [403]})");
  const auto checker = tav_test::runProgram(
      {TAV_REP_PATH, "-d", run.logDir.string(), "-m", huge.string(), "-r", huge.string(), "-c",
       (run.dir / "config.json").string(), "-o", run.outDir.string()});
  EXPECT_EQ(checker.status, 1) << checker.err;
  EXPECT_EQ(messages(run.logDir / "report.log"), Lines{"critical tav-rep stopped: std::bad_alloc"});
  EXPECT_TRUE(fs::is_empty(run.outDir));
  fs::remove(huge);
}

// Failures of the label and capability libraries that the runner's end-to-end tests leave out.
TEST_F(LocalFaultTest, EveryInjectedPlatformFailureEndsTheRunnerAsDocumented) {
  SKIP_UNLESS_ROOT();
  const std::vector<json> tasks = {task("nobody", "2:1f", {request("n1", server.url("/ok"))})};
  const json answered = json::parse(R"([{"uuid": "n1", "code": 200, "body": "ok"}])");
  const Lines completeLog = {
      "info child begin",
      "info ZEM label: 2:1f",
      "info make requests..",
      "info sending 1 requests..",
      "info Request to " + server.url("/ok") + " (n1) is done with code: 200",
      "info serialize 1 responses..",
      "info n1: 200 -- ok",
      "info saved result to " + run.out("responses_nobody_2_31.json"),
      "info child end"};
  Lines withoutLabelLine = completeLog;
  withoutLabelLine.erase(withoutLabelLine.begin() + 1);
  const struct {
    std::map<std::string, std::string> env;
    int status;
    Lines childLog;
  } cases[] = {
      // No label to apply: the library refuses the null label.
      {{{"ZEM_STANDIN_FAIL", "zeml_get_new_init_mac"}},
       1,
       {"error Failed to set ZEM label (): Invalid argument"}},
      // No label text: the failure message has an empty label, the label line is left out.
      {{{"ZEM_STANDIN_FAIL", "zem_set_pid,zeml_get_text"}},
       1,
       {"error Failed to set ZEM label (): Operation not permitted"}},
      {{{"ZEM_STANDIN_FAIL", "zeml_get_text"}}, 0, withoutLabelLine},
      // Functions the runner does not call change nothing.
      {{{"ZEM_STANDIN_FAIL", "zeml_permission"}}, 0, completeLog},
      {{{"KORVAL_STANDIN_FAIL", "korval_capget"}}, 0, completeLog},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env.begin()->second);
    for (const auto& entry : fs::directory_iterator(run.logDir)) fs::remove(entry.path());
    for (const auto& entry : fs::directory_iterator(run.outDir)) fs::remove(entry.path());
    const auto result = run.runReq(tasks, c.env);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_EQ(messages(childLogOf("nobody", run.logDir)), c.childLog);
    const pid_t pid = childPidOf("nobody");
    const Lines reaped = c.status == 0
                             ? Lines{fmt::format("info child [{}] was successfully completed", pid)}
                             : Lines{fmt::format("error child [{}] was failed", pid),
                                     fmt::format("error child [{}] exited with status 1", pid)};
    Lines expected = reaped;
    expected.push_back("info saved result to " + run.out("responses.json"));
    EXPECT_EQ(run.mainLog(), expected);
    EXPECT_EQ(run.merged(), c.status == 0 ? answered : json(nullptr));
    EXPECT_EQ(fs::exists(run.outDir / "responses_nobody_2_31.json"), c.status == 0);
  }
  // Only the runs that got past the switch sent their request.
  const std::string sent = serverLog();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '\n'), 2 * 3);
}

TEST_F(LocalFaultTest, EveryInjectedPlatformFailureEndsTheCheckerAsDocumented) {
  const json metadata = json::parse(R"([
    {"uuid": "granted", "subject_label": "2:3", "object_label": "1:1", "min_mac_label": "1:1",
     "max_mac_label": "3:7", "expect_ignore_mac_label": false},
    {"uuid": "refused", "subject_label": "2:3", "object_label": "3:1", "min_mac_label": "1:1",
     "max_mac_label": "3:7", "expect_ignore_mac_label": false}])");
  const json responses = json::parse(R"([{"uuid": "granted", "code": 200, "body": "level 2"},
                                         {"uuid": "refused", "code": 403, "body": ""}])");
  const json config = json::parse(R"({"check_body": true, "body_template": "level {subj_mac_lev}",
                                      "allowed_codes": [200], "denied_codes": [403]})");
  tav_test::writeFile(run.dir / "metadata.json", metadata.dump());
  tav_test::writeFile(run.dir / "responses.json", responses.dump());
  tav_test::writeFile(run.dir / "config.json", config.dump());
  const auto check = [&](const std::map<std::string, std::string>& env) {
    return tav_test::runProgram(
        {TAV_REP_PATH, "-l", "debug", "-d", run.logDir.string(), "-m",
         (run.dir / "metadata.json").string(), "-r", (run.dir / "responses.json").string(), "-c",
         (run.dir / "config.json").string(), "-o", run.outDir.string()},
        env);
  };
  const std::string noFailure = "{\n  \"failed_uuids\": [],\n  \"total_count\": 2\n}";

  // Every permission refused: the entry that should be granted fails, the refused one passes.
  auto result = check({{"ZEM_STANDIN_FAIL", "zeml_permission"}});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(tav_test::readFile(run.outDir / "report.json"),
            "{\n  \"failed_uuids\": [\n    \"granted\"\n  ],\n  \"total_count\": 2\n}");
  EXPECT_EQ(startingWith(messages(run.logDir / "report.log"), "debug check uuid granted"),
            Lines{"debug check uuid granted: 2:3 -> 1:1 = false, code = 200"});

  // Functions the checker does not call change nothing.
  for (const auto& env : std::vector<std::map<std::string, std::string>>{
           {{"ZEM_STANDIN_FAIL", "zem_init,zem_set_pid,zeml_get_text"}},
           {{"KORVAL_STANDIN_FAIL", "korval_capset,korval_capget"}},
           {}}) {
    fs::remove(run.outDir / "report.json");
    result = check(env);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(tav_test::readFile(run.outDir / "report.json"), noFailure);
  }
}

}  // namespace
