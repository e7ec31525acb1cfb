// Helpers of the hardening tests: processes seen through /proc, a raw HTTP request to the test
// server and a tmpfs mounted for one test. Tasks files and runs come from tests/support.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/run_folders.h"
#include "tests/support/test_support.h"

namespace tav_test {

namespace fs = std::filesystem;

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
  unsigned long long pendingSignals = 0;  // sent to the process and not yet delivered (ShdPnd)
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

}  // namespace tav_test
