#include "req/run_children.h"

#include <spdlog/spdlog.h>

#include "req/run_task.h"

namespace tav_req {

Children startChildren(const std::vector<Task>& tasks, const Options& options,
                       const std::vector<std::string>& fileNames) {
  Children children;
  children.reserve(tasks.size());
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const Task& task = tasks[i];
    auto child = std::make_unique<ChildProcess>(options.logDir, options.logLevel, task.env);
    const ChildUser user{task.user.name, task.user.macLevel, task.user.macCategories};
    child->start(user, TaskClosure{task, options, fileNames[i]});
    children.push_back(std::move(child));
  }
  return children;
}

ReapResult reapChildren(Children& children, const std::vector<std::string>& fileNames) {
  ReapResult result;
  for (std::size_t i = 0; i < children.size(); ++i) {
    // A successful wait forgets the pid, so it is read first.
    const int pid = children[i]->pid();
    if (children[i]->wait()) {
      spdlog::info("child [{}] was successfully completed", pid);
      result.succeededFiles.push_back(fileNames[i]);
    } else {
      spdlog::error("child [{}] was failed", pid);
      result.allChildrenOk = false;
    }
  }
  return result;
}

}  // namespace tav_req
