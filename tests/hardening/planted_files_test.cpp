// A hostile local user and the run's output folder, which every task user may write into: what
// that user plants at responses.json or at a task's file name, before the run or after a child
// saved, is never followed, written through or merged, and the logs name it. The folder here is
// mode 0777 without the sticky bit, so fs.protected_symlinks and fs.protected_regular, which
// guard sticky folders only, do not step in: whatever holds, tav-req itself holds.
#include <fcntl.h>
#include <fmt/format.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/req/http_test_server.h"

namespace {

using namespace tav_test;

// Runs the step as the user (its uid and primary group) in a child of the test.
void as(const char* user, const std::function<bool()>& step) {
  const passwd* entry = getpwnam(user);
  ASSERT_NE(entry, nullptr) << user;
  const uid_t uid = entry->pw_uid;
  const gid_t gid = entry->pw_gid;
  const int status = runInChild([&] {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) return 2;
    return step() ? 0 : 1;
  });
  ASSERT_EQ(status, 0) << "the planting as " << user << " failed";
}

struct stat statOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

std::set<std::string> namesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class PlantedFileTest : public ::testing::Test {
 protected:
  // The pid and log of the task's child, by the end of the log's name ("-nobody_0_0x1.log").
  std::pair<pid_t, fs::path> child(const std::string& suffix) const {
    for (const auto& [pid, log] : childLogs(run.logDir)) {
      if (log.filename().string().ends_with(suffix)) return {pid, log};
    }
    ADD_FAILURE() << "no child log ending in " << suffix;
    return {-1, {}};
  }

  RunFolders run;
  HttpTestServer server{run.dir / "server.log"};
  const std::string forged = R"({"tasks": [{"uuid": "forged", "code": 200, "body": "x"}]})";
};

TEST_F(PlantedFileTest, ALinkPlantedAtResponsesJsonIsReplacedNotFollowed) {
  SKIP_UNLESS_ROOT();
  const fs::path rootOnly = run.dir / "root-only";
  fs::create_directory(rootOnly);
  fs::permissions(rootOnly, fs::perms::owner_all);
  const fs::path victim = rootOnly / "victim";
  tav_test::writeFile(victim, "root's own");
  const fs::path merged = run.outDir / "responses.json";
  as("nobody", [&] { return symlink(victim.c_str(), merged.c_str()) == 0; });

  const auto result = run.runReq({task("nobody", "0:0", {request("n1", server.url("/ok"))}),
                                  task("daemon", "0:0", {request("d1", server.url("/ok"))})});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(tav_test::readFile(victim), "root's own");
  const struct stat info = statOf(merged);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_uid, 0u);
  // The mode follows the umask, as a plain creation's would, so tav-rep may run as anyone.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "n1", "code": 200, "body": "ok"},
                                          {"uuid": "d1", "code": 200, "body": "ok"}])"));
  // No temporary file is left beside it.
  EXPECT_EQ(namesIn(run.outDir),
            (std::set<std::string>{"responses.json", "responses_daemon_0_0.json",
                                   "responses_nobody_0_0.json"}));
}

// Planted before the run by daemon at nobody's file names: the child neither follows, nor
// writes into, nor waits on any of them, and says why in its log.
TEST_F(PlantedFileTest, WhatIsPlantedAtAChildsFileNameFailsThatSaveAndIsLeftAlone) {
  SKIP_UNLESS_ROOT();
  const fs::path nobodysOwn = run.dir / "nobodys-own";
  tav_test::writeFile(nobodysOwn, "nobody's own");
  ASSERT_EQ(chown(nobodysOwn.c_str(), 65534, 65534), 0);
  const auto name = [&](int categories) {
    return run.outDir / fmt::format("responses_nobody_0_{}.json", categories);
  };
  as("daemon", [&] {
    umask(0);
    const int file = open(name(2).c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
    return symlink(nobodysOwn.c_str(), name(1).c_str()) == 0 && file >= 0 &&
           write(file, "daemon's", 8) == 8 && close(file) == 0 &&
           mkfifo(name(3).c_str(), 0666) == 0 && mkdir(name(4).c_str(), 0777) == 0;
  });

  // Where fs.protected_hardlinks is 0 anyone may give nobody's file a second name; root plays
  // that here.
  ASSERT_EQ(link(nobodysOwn.c_str(), name(5).c_str()), 0);

  std::vector<json> tasks;
  for (int categories = 1; categories <= 5; ++categories) {
    tasks.push_back(task("nobody", fmt::format("0:{}", categories),
                         {request(fmt::format("n{}", categories), server.url("/ok"))}));
  }
  tasks.push_back(task("daemon", "0:0", {request("d1", server.url("/ok"))}));
  const auto result = run.runReq(tasks);
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "d1", "code": 200, "body": "ok"}])"));
  EXPECT_EQ(tav_test::readFile(nobodysOwn), "nobody's own");
  EXPECT_EQ(tav_test::readFile(name(2)), "daemon's");
  EXPECT_TRUE(fs::is_symlink(name(1)));
  EXPECT_TRUE(fs::is_fifo(name(3)));
  EXPECT_TRUE(fs::is_empty(name(4)));
  const char* const why[] = {"it is a symbolic link.", "it belongs to uid 1.",
                             "it is not a regular file.", "it is not a regular file.",
                             "it has 2 names (hard links)."};
  for (int categories = 1; categories <= 5; ++categories) {
    SCOPED_TRACE(categories);
    const auto [pid, log] = child(fmt::format("-nobody_0_0x{}.log", categories));
    EXPECT_EQ(startingWith(messages(log), "error "),
              Lines{fmt::format("error failed to save file {}: {}", name(categories).string(),
                                why[categories - 1])});
    EXPECT_EQ(std::ranges::count(run.mainLog(), fmt::format("error child [{}] was failed", pid)),
              1);
  }
}

// Swapped by bin after nobody's children saved, while daemon's child still waits on the server:
// the runner merges none of them and says in main.log which file and why.
TEST_F(PlantedFileTest, WhatReplacesAChildsSavedFileIsNotMergedAndMainLogNamesIt) {
  SKIP_UNLESS_ROOT();
  const auto name = [&](int categories) {
    return run.outDir / fmt::format("responses_nobody_0_{}.json", categories);
  };
  std::vector<json> tasks;
  for (int categories = 1; categories <= 4; ++categories) {
    tasks.push_back(task("nobody", fmt::format("0:{}", categories),
                         {request(fmt::format("n{}", categories), server.url("/ok"))}));
  }
  tasks.push_back(task("daemon", "0:0", {request("d1", server.url("/wait?key=hold"))}));
  run.writeTasks(tasks);
  BackgroundProgram req(run.reqArgs());

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  std::size_t saved = 0;
  while (saved < 4 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    saved = 0;
    for (const auto& [pid, log] : childLogs(run.logDir)) {
      const Lines lines = messages(log);
      saved += log.filename().string().find("-nobody_") != std::string::npos && !lines.empty() &&
               lines.back() == "info child end";
    }
  }
  ASSERT_EQ(saved, 4u) << "nobody's children did not all save";
  // Forged answers, which the merge would take if it followed the link or trusted the file.
  const fs::path forgedFile = run.dir / "forged.json";
  const auto writeForged = [&](const fs::path& path) {
    const int file = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    return file >= 0 &&
           write(file, forged.data(), forged.size()) == static_cast<ssize_t>(forged.size()) &&
           close(file) == 0;
  };
  as("bin", [&] {
    bool removed = true;
    for (int categories = 1; categories <= 4; ++categories) {
      removed = removed && unlink(name(categories).c_str()) == 0;
    }
    return removed && writeForged(forgedFile) &&
           symlink(forgedFile.c_str(), name(1).c_str()) == 0 && writeForged(name(2)) &&
           mkfifo(name(3).c_str(), 0666) == 0 && mkdir(name(4).c_str(), 0777) == 0;
  });
  EXPECT_NE(httpGet(server.port(), "/release?key=hold").find("released"), std::string::npos);
  const auto result = req.wait();
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(run.merged(), json::parse(R"([{"uuid": "d1", "code": 200, "body": "waited"}])"));

  Lines expected;
  for (int categories = 1; categories <= 4; ++categories) {
    expected.push_back(fmt::format("info child [{}] was successfully completed",
                                   child(fmt::format("-nobody_0_0x{}.log", categories)).first));
  }
  expected.push_back(
      fmt::format("info child [{}] was successfully completed", child("-daemon_0_0x0.log").first));
  const char* const why[] = {"it is a symbolic link", "it belongs to uid 2",
                             "it is not a regular file", "it is not a regular file"};
  for (int categories = 1; categories <= 4; ++categories) {
    expected.push_back(
        fmt::format("error responses file {} of user nobody (uid 65534) is not merged: {}",
                    name(categories).string(), why[categories - 1]));
  }
  expected.push_back("info saved result to " + run.out("responses.json"));
  EXPECT_EQ(run.mainLog(), expected);
}

}  // namespace
