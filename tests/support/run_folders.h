// The folders of one tav-req run (logs, output that anyone may write, a tasks file) and the
// ways tav-req runs on them.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/tasks_json.h"
#include "tests/support/test_support.h"

namespace tav_test {

// The child logs of a log folder by the process id in their names.
std::map<pid_t, std::filesystem::path> childLogs(const std::filesystem::path& logDir);

class RunFolders {
 public:
  RunFolders();

  // A list, not a braced json: one braced element would be copied, not wrapped.
  std::filesystem::path writeTasks(const std::vector<json>& tasks) const;
  std::filesystem::path writeTasksText(const std::string& text) const;
  std::vector<std::string> reqArgs(const std::string& level = "info") const;
  RunResult runReq(const std::vector<json>& tasks,
                   const std::map<std::string, std::string>& env = {},
                   const std::string& level = "info") const;
  RunResult runReqText(const std::string& tasks, const std::map<std::string, std::string>& env = {},
                       const std::string& level = "info",
                       const std::vector<std::string>& extraArgs = {}) const;
  // tav-req at its default level on the tasks file written before, with other folders.
  RunResult runReqIn(const std::filesystem::path& otherLogDir,
                     const std::filesystem::path& otherOutDir) const;

  Lines mainLog() const { return messages(logDir / "main.log"); }
  json merged() const;
  std::string out(const std::string& name) const { return (outDir / name).string(); }

  TempDir dir;
  std::filesystem::path logDir;
  std::filesystem::path outDir;
};

}  // namespace tav_test
