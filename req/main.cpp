// tav-req: runs the tasks of a tasks file, one child process per task, and merges the answers
// of the children that succeeded into responses.json.
#include <spdlog/spdlog.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "log_file.h"
#include "options.h"
#include "responses_file.h"
#include "run_task.h"
#include "task.h"

int main(int argc, char** argv) {
  using namespace tav_req;

  // 1. The command line; a rejected one ends the run before anything is created.
  const Options options = readCommandLine(argc, argv);
  if (!options.ok) return 1;

  // 2. The main log becomes the default logger.
  if (!tav::createMainLog(options.logDir, "main.log", "base_file_logger", options.logLevel)) {
    return 1;
  }

  try {
    // 3. The tasks; an unusable file has been logged, an empty one ends the run silently.
    const std::vector<Task> tasks = loadTasks(options.tasks);
    if (tasks.empty()) return 1;

    // 4. The per-task file names, fixed before any child runs.
    const std::vector<std::string> fileNames = responsesFileNames(tasks);

    // 5. Every child is started before any is waited for.
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      const Task& task = tasks[i];
      auto child = std::make_unique<ChildProcess>(options.logDir, options.logLevel, task.env);
      const ChildUser user{task.user.name, task.user.macLevel, task.user.macCategories};
      child->start(user, TaskClosure{task, options, fileNames[i]});
      children.push_back(std::move(child));
    }

    // 6. Reaped in task order; only the files of children that succeeded are merged.
    bool allChildrenOk = true;
    std::vector<std::string> succeededFiles;
    for (std::size_t i = 0; i < children.size(); ++i) {
      const int pid = children[i]->pid();
      if (children[i]->wait()) {
        spdlog::info("child [{}] was successfully completed", pid);
        succeededFiles.push_back(fileNames[i]);
      } else {
        spdlog::error("child [{}] was failed", pid);
        allChildrenOk = false;
      }
    }

    // 7. The merge runs whatever the children's results were.
    const bool merged = mergeResponses(options.outputDir, succeededFiles);
    return allChildrenOk && merged ? 0 : 1;
  } catch (const std::exception& error) {
    // Only resource exhaustion gets here (JSON failures are the loader's, children never return
    // here); started children have been reaped on the way out, and the run ends with a reason in
    // the log instead of an abort.
    spdlog::critical("tav-req stopped: {}", error.what());
    return 1;
  }
}
