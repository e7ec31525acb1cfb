// Each child of tav-req really is the task's user while it sends its requests: seen from
// outside through /proc while the child waits for the server's answer, and through the label
// line it logs. The files the children leave are their users', not root's.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pwd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/req/http_test_server.h"

namespace {

using namespace tav_test;

struct Account {
  std::string name;
  std::string label;     // as the tasks file writes it
  std::string fileStem;  // responses_{name}_{level}_{categories in decimal}
  long uid = -1;
  long gid = -1;
};

// Users with a primary group that differs from their uid where the system has them.
std::vector<Account> accounts() {
  std::vector<Account> result = {{"nobody", "2:1f", "responses_nobody_2_31"},
                                 {"games", "1:3", "responses_games_1_3"},
                                 {"man", "0:0", "responses_man_0_0"}};
  for (Account& account : result) {
    if (const passwd* entry = getpwnam(account.name.c_str())) {
      account.uid = entry->pw_uid;
      account.gid = entry->pw_gid;
    }
  }
  return result;
}

TEST(PrivilegeDrop, EachChildRunsAsItsUserWithOnlyItsPrimaryGroupAndItsLabel) {
  SKIP_UNLESS_ROOT();
  const std::vector<Account> users = accounts();
  for (const Account& account : users) {
    if (account.uid < 0) GTEST_SKIP() << "no user " << account.name << " on this system";
  }
  RunFolders run;
  tav_test::HttpTestServer server(run.dir / "server.log");
  std::vector<json> tasks;
  for (const Account& account : users) {
    tasks.push_back(task(account.name, account.label,
                         {request(account.name, server.url("/wait?key=" + account.name)),
                          request(account.name + "-2", server.url("/ok"))}));
  }
  run.writeTasks(tasks);
  BackgroundProgram runner(run.reqArgs());

  // Every child is inside its first request once the server has seen all of them arrive; the
  // server holds them there (for up to 10 s) until they are released.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  std::size_t waiting = 0;
  while (waiting < users.size() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Lines lines = tav_test::readLines(run.dir / "server.log");
    waiting = startingWith(lines, "start /wait?key=").size();
  }
  ASSERT_EQ(waiting, users.size()) << "the children did not all reach the server";

  const std::vector<pid_t> children = childrenOf(runner.pid());
  const std::map<pid_t, fs::path> logs = childLogs(run.logDir);
  ASSERT_EQ(children.size(), users.size());
  std::set<std::string> seen;
  for (const pid_t pid : children) {
    ASSERT_TRUE(logs.contains(pid)) << pid;
    const std::string logName = logs.at(pid).filename().string();
    const Account* account = nullptr;
    for (const Account& candidate : users) {
      if (logName.find("-" + candidate.name + "_") != std::string::npos) account = &candidate;
    }
    ASSERT_NE(account, nullptr) << logName;
    SCOPED_TRACE(account->name);
    seen.insert(account->name);
    const auto status = procStatus(pid);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->name, "tav-req");
    // Real, effective, saved and file-system ids.
    EXPECT_EQ(status->uids, std::vector<long>(4, account->uid));
    EXPECT_EQ(status->gids, std::vector<long>(4, account->gid));
    EXPECT_EQ(status->groups, std::vector<long>{account->gid});
    // Nothing of root's power is in effect.
    EXPECT_EQ(status->capEffective, "0000000000000000");
  }
  EXPECT_EQ(seen.size(), users.size());

  for (const Account& account : users) {
    const std::string answer = httpGet(server.port(), "/release?key=" + account.name);
    EXPECT_TRUE(answer.ends_with("\r\n\r\nreleased")) << answer;
  }
  const auto result = runner.wait();
  ASSERT_EQ(result.status, 0) << result.err;

  for (const auto& [pid, log] : logs) {
    for (const Account& account : users) {
      if (log.filename().string().find("-" + account.name + "_") == std::string::npos) continue;
      const Lines lines = messages(log);
      ASSERT_GE(lines.size(), 2u);
      EXPECT_EQ(lines[1], "info ZEM label: " + account.label);
    }
  }
  // The children's files are their users'; only the merged file is the parent's.
  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(run.outDir)) {
    files.insert(entry.path().filename().string());
  }
  std::set<std::string> expected = {"responses.json"};
  for (const Account& account : users) {
    expected.insert(account.fileStem + ".json");
    SCOPED_TRACE(account.name);
    EXPECT_EQ(ownerOf(run.outDir / (account.fileStem + ".json")), static_cast<uid_t>(account.uid));
  }
  EXPECT_EQ(files, expected);
  EXPECT_EQ(ownerOf(run.outDir / "responses.json"), 0u);
  EXPECT_EQ(run.merged().size(), 2 * users.size());
}

}  // namespace
