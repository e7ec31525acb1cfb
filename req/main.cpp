// tav-req: runs the tasks of a tasks file, one child process per task, and merges the answers
// of the children that succeeded into responses.json.
#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/log_file.h"
#include "common/output_target.h"
#include "common/progress_line.h"
#include "req/interruption.h"
#include "req/options.h"
#include "req/responses_file.h"
#include "req/run_children.h"
#include "req/task.h"
#include "req/tls_trust.h"

int main(int argc, char** argv) {
  using namespace tav_req;

  // A rejected command line ends the run before anything is created.
  const Options options = readCommandLine(argc, argv);
  if (!options.ok) return 1;

  // From here on SIGINT, SIGTERM and SIGHUP end the run in order: the children are told, the
  // answers saved so far are merged, and the run ends with status 1. SIGCHLD inherited as
  // ignored would let the kernel reap the children before they are waited for.
  catchInterruptions();
  restoreChildSignal();

  // A folder reached through another user's link would take root's files anywhere; a link at
  // responses.json itself is replaced, never followed, so only the folders are looked at.
  for (const std::string* folder : {&options.logDir, &options.outputDir}) {
    std::string reason;
    if (!tav::followOutputLinks((std::filesystem::path(*folder) / ".").string(), reason)) {
      std::cerr << "Error: " << *folder << ": " << reason << std::endl;
      return 1;
    }
  }

  if (!tav::createMainLog(options.logDir, "main.log", "base_file_logger", options.logLevel)) {
    return 1;
  }
  // Someone watching main.log during a long run or a wind-down sees every failure at once.
  spdlog::default_logger_raw()->flush_on(spdlog::level::err);
  announceTrust(options.trust);

  try {
    // An unusable tasks file has been logged; an empty one ends the run silently.
    const std::vector<Task> tasks = loadTasks(options.tasks);
    if (tasks.empty()) return 1;

    // The file names are fixed before any child runs, so no two children write one file.
    const std::vector<std::string> fileNames = responsesFileNames(tasks);

    // The children never draw it: only the runner looks at how they are doing.
    tav::startProgress(tav::ProgressStart::atOnce);
    RunProgress progress(tasks);
    Children children = startChildren(tasks, options, fileNames);
    const ReapResult reaped = reapChildren(children, progress);

    // The merge runs whatever the children's results were, interrupted or not. A task file that
    // its user did not write is left out, and its task counts as failed.
    std::vector<TaskFile> succeeded;
    for (const std::size_t i : reaped.succeededTasks) {
      succeeded.push_back({fileNames[i], tasks[i].user.name});
    }
    tav::progressText(fmt::format("merging the answers of {} tasks", succeeded.size()), true);
    const MergeResult merged = mergeResponses(options.outputDir, succeeded);
    tav::stopProgress();
    const bool ok = reaped.allChildrenOk && merged.written && merged.refused == 0;
    return ok && reaped.interruption == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    // Only resource exhaustion gets here (JSON failures are the loader's, children never return
    // here); started children have been reaped on the way out, and the run ends with a reason in
    // the log instead of an abort.
    tav::stopProgress();
    spdlog::critical("tav-req stopped: {}", error.what());
    return 1;
  }
}
