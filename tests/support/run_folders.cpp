#include "tests/support/run_folders.h"

#ifndef TAV_REQ_PATH
#error "TAV_REQ_PATH must name the built tav-req"
#endif

namespace tav_test {

namespace fs = std::filesystem;

std::map<pid_t, fs::path> childLogs(const fs::path& logDir) {
  std::map<pid_t, fs::path> logs;
  for (const auto& entry : fs::directory_iterator(logDir)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("child-")) continue;
    logs[static_cast<pid_t>(std::stol(name.substr(6)))] = entry.path();
  }
  return logs;
}

RunFolders::RunFolders() : logDir(dir / "logs"), outDir(dir / "out") {
  fs::create_directory(logDir);
  fs::create_directory(outDir);
  // The children write here as their own users.
  fs::permissions(outDir, fs::perms::all);
}

fs::path RunFolders::writeTasks(const std::vector<json>& tasks) const {
  return writeTasksText(json(tasks).dump());
}

fs::path RunFolders::writeTasksText(const std::string& text) const {
  const fs::path path = dir / "tasks.json";
  writeFile(path, text);
  return path;
}

std::vector<std::string> RunFolders::reqArgs(const std::string& level) const {
  return {
      TAV_REQ_PATH,   "-l", level, "-d", logDir.string(), "-t", (dir / "tasks.json").string(), "-o",
      outDir.string()};
}

RunResult RunFolders::runReq(const std::vector<json>& tasks,
                             const std::map<std::string, std::string>& env,
                             const std::string& level) const {
  return runReqText(json(tasks).dump(), env, level);
}

RunResult RunFolders::runReqText(const std::string& tasks,
                                 const std::map<std::string, std::string>& env,
                                 const std::string& level,
                                 const std::vector<std::string>& extraArgs) const {
  writeTasksText(tasks);
  std::vector<std::string> argv = reqArgs(level);
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  return runProgram(argv, env);
}

RunResult RunFolders::runReqIn(const fs::path& otherLogDir, const fs::path& otherOutDir) const {
  return runProgram({TAV_REQ_PATH, "-d", otherLogDir.string(), "-t", (dir / "tasks.json").string(),
                     "-o", otherOutDir.string()});
}

json RunFolders::merged() const {
  return json::parse(readFile(outDir / "responses.json"));
}

}  // namespace tav_test
