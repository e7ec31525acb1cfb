// The built tav-req, as root, interrupted while a server never answers: a signal to the runner
// ends the run at once with what was finished merged, main.log says so at once even while the
// run winds down, a second signal ends a wind-down that a child holds up, a killed child is
// named in main.log, and no child outlives a runner that is
// killed outright.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <thread>

#include "tests/hardening/hardening_support.h"
#include "tests/req/http_test_server.h"

namespace {

using namespace tav_test;
using Clock = std::chrono::steady_clock;

bool waitUntil(const std::function<bool()>& condition, int seconds = 20) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class InterruptionTest : public ::testing::Test {
 protected:
  // Starts tav-req on a task that hangs after one answer and a task that finishes, and returns
  // once the first waits on the server and the second has saved its answer.
  void startHangingRun() {
    // Children that lose their runner become this process's, so none can hide.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    run.writeTasks(
        {task("nobody", "1:1",
              {request("first", server.url("/ok?first")), request("hung", server.url("/hang")),
               request("never", server.url("/ok?never"))}),
         task("daemon", "0:0", {request("other", server.url("/ok?other"))})});
    req = std::make_unique<BackgroundProgram>(run.reqArgs());
    ASSERT_TRUE(waitUntil([&] {
      return std::ranges::count(tav_test::readLines(run.dir / "server.log"), "start /hang") == 1 &&
             fs::exists(run.outDir / "responses_daemon_0_0.json");
    }));
    children = childrenOf(req->pid());
    for (const pid_t pid : children) {
      const auto status = procStatus(pid);
      if (status && !status->uids.empty() && status->uids[0] == 65534) hung = pid;
    }
    ASSERT_GT(hung, 0);
  }

  // The run's children are gone: none is left running or unreaped.
  void expectNoChildLeft() const {
    for (const pid_t pid : children) EXPECT_FALSE(fs::exists(fmt::format("/proc/{}", pid))) << pid;
    for (const pid_t pid : childrenOf(getpid())) {
      const auto status = procStatus(pid);
      EXPECT_FALSE(status && status->name == "tav-req") << "left behind: " << pid;
    }
  }

  RunFolders run;
  tav_test::HttpTestServer server{run.dir / "server.log"};
  std::unique_ptr<BackgroundProgram> req;
  std::vector<pid_t> children;  // the finished task's may not be reaped yet
  pid_t hung = -1;              // the nobody task's child
};

TEST_F(InterruptionTest, SigtermEndsTheRunAtOnceAndKeepsWhatWasFinished) {
  SKIP_UNLESS_ROOT();
  ASSERT_NO_FATAL_FAILURE(startHangingRun());
  const auto sent = Clock::now();
  ASSERT_EQ(kill(req->pid(), SIGTERM), 0);
  const auto result = req->wait();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
  std::cout << "signal to exit: " << elapsed.count() << " ms\n";
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_EQ(result.status, 1);

  const Lines main = run.mainLog();
  EXPECT_EQ(main.front(),
            "error run interrupted by signal 15 (Terminated); passing it on to the children "
            "still running");
  // The interrupted child: its outcome and its status.
  EXPECT_EQ(startingWith(main, "error child [").size(), 2u);
  EXPECT_EQ(main.back(), "info saved result to " + run.out("responses.json"));
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "other", "code": 200, "body": "ok"}])"));
  // The interrupted task saved the answer it had and says why it stopped.
  EXPECT_EQ(json::parse(tav_test::readFile(run.outDir / "responses_nobody_1_1.json")),
            json::parse(R"({"tasks": [{"uuid": "first", "code": 200, "body": "ok"}]})"));
  EXPECT_EQ(std::ranges::count(messages(childLogs(run.logDir).at(hung)),
                               "error interrupted by signal 15 (Terminated): 1 of 3 requests "
                               "answered"),
            1);
  expectNoChildLeft();
}

// A signal between a PUT the server took and the DELETE that would remove its file, and during
// a PUT the server stored without answering: the child log names both, and the server holds both.
TEST_F(InterruptionTest, APutCutOffFromItsDeleteIsNamedInTheChildLog) {
  SKIP_UNLESS_ROOT();
  const std::string probe = server.url("/store/probe");
  json put = request("put", probe);
  put["method"] = "PUT";
  put["body"] = "left";
  json del = request("delete", probe);
  del["method"] = "DELETE";
  // The server stores the second PUT and never answers it.
  json hung = request("hung", server.url("/store-hang/second"));
  hung["method"] = "PUT";
  hung["body"] = "cut";
  run.writeTasks({task("nobody", "1:1", {put, hung, del})});
  req = std::make_unique<BackgroundProgram>(run.reqArgs());
  ASSERT_TRUE(waitUntil([&] {
    return std::ranges::count(tav_test::readLines(run.dir / "server.log"),
                              "PUT /store-hang/second b'cut'") == 1;
  }));
  ASSERT_EQ(kill(req->pid(), SIGTERM), 0);
  EXPECT_EQ(req->wait().status, 1);
  const auto logs = childLogs(run.logDir);
  ASSERT_EQ(logs.size(), 1u);
  const Lines lines = messages(logs.begin()->second);
  EXPECT_EQ(std::ranges::count(lines, fmt::format("warning PUT put stored {} (201) and no later "
                                                  "DELETE of it was taken: it may still be on "
                                                  "the server; remove it by hand",
                                                  probe)),
            1)
      << lines.size() << " lines in the child log";
  EXPECT_EQ(std::ranges::count(lines, fmt::format("warning PUT hung to {} was cut off before its "
                                                  "answer: the server may have stored it; look "
                                                  "and remove it by hand",
                                                  server.url("/store-hang/second"))),
            1);
  // The server still has both: a GET of each is answered with its body.
  run.writeTasks(
      {task("daemon", "0:0",
            {request("after", probe), request("after-cut", server.url("/store/second"))})});
  ASSERT_EQ(run.runReqIn(run.logDir, run.outDir).status, 0);
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "after", "code": 200, "body": "left"},
                                          {"uuid": "after-cut", "code": 200, "body": "cut"}])"));
}

// A stopped child cannot act on the signal passed on, so the wind-down would last the whole
// grace period; a second signal cuts it short with SIGKILL.
TEST_F(InterruptionTest, ASecondSignalEndsTheWindDownAtOnce) {
  SKIP_UNLESS_ROOT();
  ASSERT_NO_FATAL_FAILURE(startHangingRun());
  ASSERT_EQ(kill(hung, SIGSTOP), 0);
  ASSERT_TRUE(waitUntil([&] {
    const auto status = procStatus(hung);
    return status && status->state == 'T';
  }));
  ASSERT_EQ(kill(req->pid(), SIGTERM), 0);
  // The runner has handled the first signal once the stopped child holds it pending.
  ASSERT_TRUE(waitUntil([&] {
    const auto status = procStatus(hung);
    return status && (status->pendingSignals & (1ULL << (SIGTERM - 1))) != 0;
  }));
  const auto sent = Clock::now();
  // SIGTERM again: SIGINT and SIGHUP stay ignored where the test runner ignores them.
  ASSERT_EQ(kill(req->pid(), SIGTERM), 0);
  const auto result = req->wait();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
  std::cout << "second signal to exit: " << elapsed.count() << " ms\n";
  EXPECT_EQ(result.status, 1);

  const Lines main = run.mainLog();
  const std::string pid = std::to_string(hung);
  EXPECT_EQ(std::ranges::count(main,
                               "error signal 15 (Terminated) during the wind-down: killing "
                               "the children still running"),
            1);
  EXPECT_TRUE(startingWith(main, "error children still running").empty()) << main.size();
  EXPECT_EQ(std::ranges::count(main, "error child [" + pid + "] was killed by signal 9 (Killed)"),
            1);
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "other", "code": 200, "body": "ok"}])"));
  expectNoChildLeft();
}

// A stopped child cannot act on the signal passed on to it, so the runner waits out the grace
// period; main.log says why meanwhile instead of when the runner ends.
TEST_F(InterruptionTest, MainLogShowsTheInterruptionWhileTheRunWindsDown) {
  SKIP_UNLESS_ROOT();
  ASSERT_NO_FATAL_FAILURE(startHangingRun());
  ASSERT_EQ(kill(hung, SIGSTOP), 0);
  ASSERT_EQ(kill(req->pid(), SIGTERM), 0);
  const std::string interrupted =
      "error run interrupted by signal 15 (Terminated); passing it on to the children still "
      "running";
  EXPECT_TRUE(waitUntil([&] { return std::ranges::count(run.mainLog(), interrupted) == 1; }, 3));
  const auto during = procStatus(req->pid());
  EXPECT_TRUE(during && during->state != 'Z') << "the runner ended before the grace period did";

  const auto result = req->wait();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(std::ranges::count(run.mainLog(),
                               "error children still running 5 s after the interruption: "
                               "killing them"),
            1);
  expectNoChildLeft();
}

TEST_F(InterruptionTest, AChildKilledByASignalIsNamedInTheMainLog) {
  SKIP_UNLESS_ROOT();
  ASSERT_NO_FATAL_FAILURE(startHangingRun());
  ASSERT_EQ(kill(hung, SIGKILL), 0);
  const auto result = req->wait();
  EXPECT_EQ(result.status, 1);
  const Lines main = run.mainLog();
  const std::string pid = std::to_string(hung);
  EXPECT_EQ(std::ranges::count(main, "error child [" + pid + "] was failed"), 1);
  EXPECT_EQ(std::ranges::count(main, "error child [" + pid + "] was killed by signal 9 (Killed)"),
            1);
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "other", "code": 200, "body": "ok"}])"));
}

TEST_F(InterruptionTest, ChildrenOfAKilledRunnerEndAndSaveWhatTheyHad) {
  SKIP_UNLESS_ROOT();
  ASSERT_NO_FATAL_FAILURE(startHangingRun());
  ASSERT_EQ(kill(req->pid(), SIGKILL), 0);
  req->wait();
  // The orphans come to this process; the running one ends by itself, told by the runner's end.
  int status = 0;
  for (const pid_t pid : children) {
    int any = 0;
    EXPECT_TRUE(waitUntil([&] { return waitpid(pid, &any, WNOHANG) == pid; })) << pid;
    if (pid == hung) status = any;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(json::parse(tav_test::readFile(run.outDir / "responses_nobody_1_1.json")),
            json::parse(R"({"tasks": [{"uuid": "first", "code": 200, "body": "ok"}]})"));
  expectNoChildLeft();
}

}  // namespace
