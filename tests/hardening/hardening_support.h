// Helpers of the hardening tests: tasks files, log lines, processes seen through /proc, a raw
// HTTP request to the test server, a tmpfs mounted for one test, and a tav-req run the test
// can watch while it is going on.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace tav_hard {

namespace fs = std::filesystem;
using nlohmann::json;
using Lines = std::vector<std::string>;

#define SKIP_UNLESS_ROOT() \
  if (!tav_test::isRoot()) \
  GTEST_SKIP() << "tav-req switches its children to other users: needs root"

json request(const std::string& uuid, const std::string& url, const std::string& auth = "basic");
json task(const std::string& user, const std::string& label, const std::vector<json>& requests);

// "level message" of every line of a log file.
Lines messages(const fs::path& log);
// The lines of `lines` that begin with `prefix`.
Lines startingWith(const Lines& lines, const std::string& prefix);

// The child logs of a log folder by the process id in their names.
std::map<pid_t, fs::path> childLogs(const fs::path& logDir);

uid_t ownerOf(const fs::path& path);

// What /proc/PID/status says of a process.
struct ProcStatus {
  std::string name;
  char state = '?';
  pid_t parent = 0;
  std::vector<long> uids;  // real, effective, saved, file system
  std::vector<long> gids;
  std::vector<long> groups;
  std::string capEffective;  // hexadecimal, as /proc writes it
  std::string capPermitted;
};
std::optional<ProcStatus> procStatus(pid_t pid);
// Every process whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent);

// The whole answer (status line, headers, body) to "GET path" over HTTP/1.0.
std::string httpGet(int port, const std::string& path);

// A tmpfs mounted on a new folder for the lifetime of the object.
class TmpfsMount {
 public:
  TmpfsMount(const fs::path& where, const std::string& options);
  ~TmpfsMount();
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  fs::path where_;
  bool mounted_ = false;
  std::string error_;
};

// A program started in the background, its output in files; wait() reaps it.
class Started {
 public:
  Started(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {});
  ~Started();
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  pid_t pid() const { return pid_; }
  tav_test::RunResult wait();

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
};

// A folder for logs, one for output (anyone may write there) and a tasks file, with the ways
// tav-req and tav-rep run on them.
class RunFolders {
 public:
  RunFolders();

  fs::path writeTasks(const std::vector<json>& tasks) const;
  std::vector<std::string> reqArgs(const std::string& level = "info") const;
  tav_test::RunResult runReq(const std::vector<json>& tasks,
                             const std::map<std::string, std::string>& env = {},
                             const std::string& level = "info") const;

  Lines mainLog() const { return messages(logDir / "main.log"); }
  json merged() const;
  std::string out(const std::string& name) const { return (outDir / name).string(); }

  tav_test::TempDir dir;
  fs::path logDir;
  fs::path outDir;
};

}  // namespace tav_hard
