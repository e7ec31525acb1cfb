// One tav-req run with 200 tasks of 20 requests each against the local server: every answer
// comes back exactly once, every request reached the server exactly once, and every child was
// reaped by the runner itself.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/req/http_test_server.h"

namespace {

using namespace tav_test;

constexpr int kTasks = 200;
constexpr int kRequests = 20;

TEST(Load, TwoHundredTasksOfTwentyRequestsLoseNothingAndLeaveNoChild) {
  SKIP_UNLESS_ROOT();
  // Children the runner leaves behind would become this process's, alive or as zombies.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  std::vector<std::string> users;
  for (const char* name : {"nobody", "daemon", "bin", "sys", "games", "man", "lp", "mail"}) {
    if (getpwnam(name) != nullptr) users.push_back(name);
  }
  ASSERT_GE(users.size(), 3u);

  RunFolders run;
  tav_test::HttpTestServer server(run.dir / "server.log");
  std::vector<json> tasks;
  std::multiset<std::string> expectedUuids;
  for (int t = 0; t < kTasks; ++t) {
    std::vector<json> requests;
    for (int r = 0; r < kRequests; ++r) {
      const std::string uuid = fmt::format("t{}-r{}", t, r);
      requests.push_back(request(uuid, server.url(fmt::format("/ok?{}", uuid))));
      expectedUuids.insert(uuid);
    }
    const std::string& user = users[static_cast<std::size_t>(t) % users.size()];
    tasks.push_back(task(user, fmt::format("{}:{:x}", t % 4, t % 16), requests));
  }
  const auto result = run.runReq(tasks);
  ASSERT_EQ(result.status, 0) << result.err;

  // Every answer exactly once, in task order and request order.
  const json merged = run.merged();
  ASSERT_EQ(merged.size(), static_cast<std::size_t>(kTasks * kRequests));
  std::multiset<std::string> uuids;
  std::size_t i = 0;
  for (int t = 0; t < kTasks; ++t) {
    for (int r = 0; r < kRequests; ++r, ++i) {
      const json& entry = merged[i];
      EXPECT_EQ(entry,
                json({{"uuid", fmt::format("t{}-r{}", t, r)}, {"code", 200}, {"body", "ok"}}))
          << i;
      uuids.insert(entry["uuid"].get<std::string>());
    }
  }
  EXPECT_EQ(uuids, expectedUuids);

  // Every request reached the server exactly once.
  std::multiset<std::string> arrived;
  for (const std::string& line : tav_test::readLines(run.dir / "server.log")) {
    if (line.starts_with("start /ok?")) arrived.insert(line.substr(10));
  }
  EXPECT_EQ(arrived, expectedUuids);

  // One child per task, each reported by the runner, each with its own log and file.
  std::set<std::string> reported;
  const Lines main = run.mainLog();
  ASSERT_EQ(main.size(), static_cast<std::size_t>(kTasks + 1));
  for (int t = 0; t < kTasks; ++t) {
    const std::string& line = main[static_cast<std::size_t>(t)];
    ASSERT_TRUE(line.starts_with("info child [") && line.ends_with("] was successfully completed"))
        << line;
    reported.insert(line.substr(12, line.find(']') - 12));
  }
  EXPECT_EQ(reported.size(), static_cast<std::size_t>(kTasks));
  const auto logs = childLogs(run.logDir);
  EXPECT_EQ(logs.size(), static_cast<std::size_t>(kTasks));
  for (const auto& [pid, log] : logs) EXPECT_TRUE(reported.contains(std::to_string(pid))) << pid;

  // None of them is left: not running, not a zombie.
  for (const pid_t pid : childrenOf(getpid())) {
    const auto status = procStatus(pid);
    EXPECT_FALSE(status && status->name == "tav-req")
        << "left behind: " << pid << " in state " << status->state;
  }
}

}  // namespace
