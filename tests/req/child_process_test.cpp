// ChildProcess with real children: the identity a child takes on, what it inherits and what
// it must not, its log, and how every way of ending shows in wait.
#include "req/child_process.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "platform/korval.h"
#include "platform/zem.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

namespace tav_test {
namespace {

using namespace tav_req;

namespace fs = std::filesystem;

class ChildProcessTest : public ::testing::Test {
 protected:
  // The one child log in the folder, or an empty path.
  fs::path childLog() const {
    fs::path found;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      if (entry.path().filename().string().starts_with("child-")) found = entry.path();
    }
    return found;
  }

  std::vector<std::string> childLogMessages() const { return tav_test::messages(childLog()); }

  tav_test::TempDir dir;
};

// What the task function sees of its own identity.
std::string identityReport() {
  std::vector<gid_t> groups(static_cast<std::size_t>(getgroups(0, nullptr)));
  getgroups(static_cast<int>(groups.size()), groups.data());
  char* label = zeml_get_text(zem_get_pid(0), 0);
  KorvalCaps caps{};
  korval_capget(0, &caps);
  const char* var = std::getenv("TAV_TEST_VAR");
  const std::string report =
      fmt::format("uid {} {} gid {} {} groups {} keepcaps {} label {} caps {:x} {:x} {:x} var {}",
                  getuid(), geteuid(), getgid(), getegid(), fmt::join(groups, ","),
                  prctl(PR_GET_KEEPCAPS), label ? label : "(none)", caps.effective, caps.permitted,
                  caps.inheritable, var ? var : "(unset)");
  std::free(label);
  return report;
}

TEST_F(ChildProcessTest, ChildTakesOnUserGroupLabelCapabilitiesAndEnvironment) {
  SKIP_UNLESS_ROOT();
  ChildProcess child(dir.path().string(), spdlog::level::debug, {{"TAV_TEST_VAR", "hello"}});
  const fs::path report = dir / "report.txt";
  child.start({"nobody", 2, 0x1f}, [&] {
    spdlog::info("task ran");
    tav_test::writeFile(report, identityReport());
    return true;
  });
  const int pid = child.pid();
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(child.wait());
  EXPECT_EQ(child.pid(), -1);

  EXPECT_EQ(readFile(report),
            "uid 65534 65534 gid 65534 65534 groups 65534 keepcaps 1 label 2:1f caps 43c 43c 43c "
            "var hello");
  struct stat reportStat {};
  ASSERT_EQ(stat(report.c_str(), &reportStat), 0);
  EXPECT_EQ(reportStat.st_uid, 65534u);

  // The log is created before the switch, so it stays root's.
  const fs::path log = dir / fmt::format("child-{}-nobody_2_0x1f.log", pid);
  ASSERT_EQ(childLog(), log);
  struct stat logStat {};
  ASSERT_EQ(stat(log.c_str(), &logStat), 0);
  EXPECT_EQ(logStat.st_uid, 0u);
  EXPECT_EQ(childLogMessages(),
            (std::vector<std::string>{"debug Set env TAV_TEST_VAR=hello", "info task ran"}));
  for (const auto& line : readLines(log)) EXPECT_EQ(tav_test::logLogger(line), "child_file_logger");
}

TEST_F(ChildProcessTest, InheritedDescriptorsAreClosedAndTheParentsLogIsNeverWritten) {
  SKIP_UNLESS_ROOT();
  // A parent log with buffered, unflushed lines; its descriptor number is the first free one,
  // which the child log takes again in the child.
  // As in the runner, only spdlog holds it.
  spdlog::set_default_logger(
      spdlog::basic_logger_mt("parent", (dir / "parent.log").string(), true));
  spdlog::info("parent line");
  const int inherited = open((dir / "inherited").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(dup2(inherited, 100), 100);

  ChildProcess child(dir.path().string(), spdlog::level::info, {});
  child.start({"nobody", 0, 0}, [] {
    const bool closed = fcntl(100, F_GETFD) == -1 && errno == EBADF;
    spdlog::info("descriptor 100 {}", closed ? "closed" : "open");
    return closed;
  });
  EXPECT_TRUE(child.wait());
  spdlog::drop_all();  // closes the parent log
  close(100);
  close(inherited);

  const auto parentLines = readLines(dir / "parent.log");
  ASSERT_EQ(parentLines.size(), 1u);
  EXPECT_EQ(tav_test::logMessage(parentLines[0]), "parent line");
  EXPECT_EQ(childLogMessages(), (std::vector<std::string>{"info descriptor 100 closed"}));
}

TEST_F(ChildProcessTest, EveryUnsuccessfulEndMakesWaitFalse) {
  SKIP_UNLESS_ROOT();
  const std::vector<std::pair<std::string, std::function<bool()>>> tasks = {
      {"returns false", [] { return false; }},
      {"killed",
       [] {
         raise(SIGKILL);
         return true;
       }},
      {"throws", []() -> bool { throw std::runtime_error("boom"); }},
      {"throws a non-exception", []() -> bool { throw 42; }},
  };
  for (const auto& [name, task] : tasks) {
    SCOPED_TRACE(name);
    ChildProcess child(dir.path().string(), spdlog::level::info, {});
    child.start({"daemon", 0, 0}, task);
    ASSERT_GT(child.pid(), 0);
    EXPECT_FALSE(child.wait());
    EXPECT_EQ(child.pid(), -1);
  }
  // The exceptions are named in their child logs.
  std::vector<std::string> lines;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    for (const auto& line : readLines(entry.path())) {
      lines.push_back(tav_test::logLevel(line) + " " + tav_test::logMessage(line));
    }
  }
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines,
            (std::vector<std::string>{"error child ended by an exception: boom",
                                      "error child ended by an exception: unknown exception"}));
}

TEST_F(ChildProcessTest, AChildLogThatCannotBeCreatedEndsTheChildWithStatusOne) {
  // Redirect standard error, which the child inherits, into a file.
  const int savedErr = dup(2);
  const int errFile = open((dir / "stderr").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  dup2(errFile, 2);
  // The file sink creates missing folders, but not below a regular file.
  tav_test::writeFile(dir / "file", "");
  bool ok = true;
  {
    ChildProcess child((dir / "file" / "logs").string(), spdlog::level::info, {});
    child.start({"nobody", 0, 0}, [&] {
      tav_test::writeFile(dir / "ran", "");
      return true;
    });
    ok = child.wait();
  }
  dup2(savedErr, 2);
  close(savedErr);
  close(errFile);

  EXPECT_FALSE(ok);
  EXPECT_FALSE(fs::exists(dir / "ran"));
  EXPECT_TRUE(readFile(dir / "stderr").starts_with("Error: failed to create the child log: "))
      << readFile(dir / "stderr");
}

TEST_F(ChildProcessTest, HandleStartsOnceWaitsOnceAndReapsOnDestruction) {
  SKIP_UNLESS_ROOT();
  ChildProcess never(dir.path().string(), spdlog::level::info, {});
  EXPECT_EQ(never.pid(), -1);
  EXPECT_FALSE(never.wait());

  ChildProcess child(dir.path().string(), spdlog::level::info, {});
  child.start({"nobody", 0, 0}, [] { return true; });
  const int pid = child.pid();
  child.start({"nobody", 0, 0}, [&] {
    tav_test::writeFile(dir / "second", "");
    return true;
  });
  EXPECT_EQ(child.pid(), pid);
  EXPECT_TRUE(child.wait());
  EXPECT_FALSE(child.wait());
  EXPECT_FALSE(fs::exists(dir / "second"));

  int destroyedPid = -1;
  {
    ChildProcess running(dir.path().string(), spdlog::level::info, {});
    running.start({"nobody", 0, 0}, [] {
      usleep(100 * 1000);
      return true;
    });
    destroyedPid = running.pid();
  }
  // Reaped already: nothing is left to wait for.
  EXPECT_EQ(waitpid(destroyedPid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(ChildProcessTest, AFailedWaitIsLoggedOnceWithItsReasonAndNotRepeated) {
  SKIP_UNLESS_ROOT();
  tav_test::LogCapture log;
  int pid = -1;
  {
    ChildProcess child(dir.path().string(), spdlog::level::info, {});
    child.start({"nobody", 0, 0}, [] { return true; });
    pid = child.pid();
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);  // reaped behind the handle's back

    EXPECT_FALSE(child.wait());
    EXPECT_EQ(child.pid(), -1);
    EXPECT_FALSE(child.wait());
  }  // nor does the destructor wait again
  EXPECT_EQ(log.records(),
            (std::vector<tav_test::LogRecord>{
                {"error", fmt::format("Failed to wait for process {}: No child processes", pid)}}));
}

}  // namespace
}  // namespace tav_test
