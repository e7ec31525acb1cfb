#include "suite/check.h"

#include <fmt/format.h>

#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "common/input_file.h"
#include "common/log_capture.h"
#include "common/progress_line.h"
#include "common/terminal_text.h"
#include "common/words.h"
#include "rep/check_table.h"
#include "rep/entry_fault.h"
#include "rep/report_config.h"
#include "req/task.h"
#include "req/task_fault.h"
#include "suite/check_steps.h"
#include "suite/trust_check.h"
#include "suite/user_access.h"

namespace tav_suite {

namespace {

struct Metadata {
  tav_rep::CheckTable table;
  std::vector<MetadataEntry> entries;
};

// What a loader made of a file: its result, or the lines it logged about the file.
template <typename T>
struct Loaded {
  std::optional<T> value;
  std::vector<std::string> complaints;
  std::vector<std::optional<std::string>> labelTexts;  // of a tasks file, by task
};

// The loader's refusal as a finding, in a person's words; true when there was none.
bool reportComplaints(const std::vector<std::string>& complaints, const std::string& path,
                      const char* program, tav::SuiteFile kind, const tav::FaultFinder& findFault,
                      Findings& findings) {
  if (complaints.empty()) return true;
  findings.error(fmt::format("{}: {} would refuse it: {}", path, program,
                             tav::refusalReason(path, kind, findFault, complaints.back())));
  return false;
}

// False after reporting why the file cannot be read; its loader is not run then.
bool readable(const std::string& path, Findings& findings) {
  const std::optional<std::string> why = tav::unreadableReason(path);
  if (why) findings.error(fmt::format("{}: {}", path, *why));
  return !why;
}

Loaded<std::vector<tav_req::Task>> loadTasksFile(const std::string& path,
                                                 tav::LogCapture& recorder) {
  Loaded<std::vector<tav_req::Task>> loaded;
  loaded.value = tav_req::loadTasks(path);
  loaded.complaints = recorder.take();
  // Read here, beside the larger metadata, the second pass costs no time of its own.
  if (loaded.complaints.empty() && !loaded.value->empty()) {
    loaded.labelTexts = scanTaskLabelTexts(path);
  }
  return loaded;
}

// The entries as tav-rep's loader takes them, watched as it goes, so the file is read once.
Loaded<Metadata> loadMetadataFile(const std::string& path, tav::LogCapture& recorder) {
  Loaded<Metadata> loaded;
  std::vector<MetadataEntry> entries;
  tav_rep::CheckTable table = tav_rep::loadMetadata(path, [&](const auto& element) {
    entries.push_back({&element.first, &element.second});
  });
  loaded.complaints = recorder.take();
  // The table's elements stay where they are when it moves, and so do the entries' pointers.
  if (loaded.complaints.empty()) loaded.value = Metadata{std::move(table), std::move(entries)};
  return loaded;
}

// The configuration, when tav-rep would load it.
std::optional<tav_rep::ReportConfig> checkConfig(const std::string& path, tav::LogCapture& recorder,
                                                 Findings& findings) {
  std::optional<tav_rep::ReportConfig> config = tav_rep::loadConfig(path);
  if (!reportComplaints(recorder.take(), path, "tav-rep", tav::SuiteFile::config,
                        tav_rep::configFault, findings) ||
      !config) {
    return std::nullopt;
  }
  for (const std::int64_t code : config->allowed_codes) {
    if (config->denied_codes.contains(code)) {
      findings.warning(
          fmt::format("{}: code {} is in both allowed_codes and denied_codes; tav-rep "
                      "takes it for granted; remove it from one of them",
                      path, code));
    }
  }
  return config;
}

void checkFolder(const std::string& dir, const char* what, Findings& findings) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(dir, error);
  if (std::filesystem::is_directory(status)) {
    // Everyone may write there, but without the sticky bit anyone may also remove or replace
    // the run's files (or swap one for a link while a program looks at it).
    using std::filesystem::perms;
    if ((status.permissions() & perms::others_write) != perms::none &&
        (status.permissions() & perms::sticky_bit) == perms::none) {
      findings.warning(fmt::format(
          "{}: every user may write into this folder of the {} but it is not sticky: any local "
          "user can remove or replace the run's files; chmod +t {}",
          dir, what, dir));
    }
    return;
  }
  if (std::filesystem::exists(status)) {
    findings.error(fmt::format(
        "{}: is a file, not a folder; tav-req writes the {} into a folder; give one", dir, what));
    return;
  }
  findings.error(fmt::format(
      "{}: the folder does not exist; tav-req refuses to start without it; create it", dir));
}

}  // namespace

void Findings::error(const std::string& text) {
  tav::clearProgress();
  ++errors;
  std::cout << tav::terminalText("error: " + text) << '\n';
}

void Findings::warning(const std::string& text) {
  tav::clearProgress();
  ++warnings;
  std::cout << tav::terminalText("warning: " + text) << '\n';
}

std::string taskWhere(const std::vector<tav_req::Task>& tasks, std::size_t task) {
  return fmt::format("tasks[{}] (user {})", task, tasks[task].user.name);
}

bool isFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

Findings checkSuite(const CheckOptions& options) {
  Findings findings;
  AccessProbe probe;
  const bool tasksReadable = readable(options.tasks, findings);
  const bool metadataReadable = readable(options.metadata, findings);
  const bool configReadable = options.config.empty() || readable(options.config, findings);
  // The two large files load side by side; each loader's lines are told apart by thread.
  tav::LogCapture recorder;
  Loaded<std::vector<tav_req::Task>> loadedTasks;
  std::exception_ptr tasksFailure;
  std::thread tasksLoader([&] {
    try {
      if (tasksReadable) loadedTasks = loadTasksFile(options.tasks, recorder);
    } catch (...) {
      tasksFailure = std::current_exception();
    }
  });
  Loaded<Metadata> loadedMetadata;
  try {
    if (metadataReadable) loadedMetadata = loadMetadataFile(options.metadata, recorder);
  } catch (...) {
    tasksLoader.join();
    throw;
  }
  tasksLoader.join();
  if (tasksFailure) std::rethrow_exception(tasksFailure);

  std::optional<std::vector<tav_req::Task>>& tasks = loadedTasks.value;
  if (!tasksReadable) {
    tasks.reset();
  } else if (!reportComplaints(loadedTasks.complaints, options.tasks, "tav-req",
                               tav::SuiteFile::tasks, tav_req::tasksFault, findings)) {
    tasks.reset();
  } else if (tasks->empty()) {
    findings.error(fmt::format("{}: holds no tasks; tav-req would run nothing", options.tasks));
    tasks.reset();
  }
  const std::optional<Metadata>& metadata = loadedMetadata.value;
  reportComplaints(loadedMetadata.complaints, options.metadata, "tav-rep", tav::SuiteFile::metadata,
                   tav_rep::metadataFault, findings);
  std::optional<tav_rep::ReportConfig> config;
  if (!options.config.empty() && configReadable) {
    config = checkConfig(options.config, recorder, findings);
  }
  if (!options.outputDir.empty()) checkFolder(options.outputDir, "answers", findings);
  // The child logs are opened by root before the switch to the task user, so the log folder
  // needs no permission of the task users.
  if (!options.logDir.empty()) checkFolder(options.logDir, "logs", findings);
  tav::progressPhase("checking labels");
  LabelTexts texts;
  if (metadata) checkMetadataLabels(options.metadata, metadata->entries, texts, findings);
  if (tasks) checkTaskLabelTexts(options.tasks, *tasks, loadedTasks.labelTexts, texts, findings);
  tav::progressPhase("checking requests");
  if (tasks && metadata) {
    // A body template that is not empty fails every HEAD the labels grant: it has no body.
    const bool bodiesChecked = config && config->check_body && !config->body_template.empty();
    checkCrossReferences(options.tasks, *tasks, options.metadata, metadata->entries, texts,
                         bodiesChecked ? options.config : std::string(), findings);
  }
  if (tasks) checkRequestUrls(options.tasks, *tasks, findings);
  if (tasks) checkWriteCleanup(options.tasks, *tasks, findings);
  if (tasks && config) checkWriteCodes(options.tasks, *tasks, options.config, *config, findings);
  tav::progressPhase("checking the task users");
  if (tasks) checkTaskUsers(options.tasks, *tasks, options, probe, findings);
  if (tasks) checkTrust(options.tasks, *tasks, options, probe, findings);
  std::cout.flush();
  return findings;
}

int runCheck(const CheckOptions& options) {
  const Findings findings = checkSuite(options);
  tav::stopProgress();
  std::cerr << fmt::format("tav-suite check: {}, {}",
                           tav::counted(findings.errors, "error", "errors"),
                           tav::counted(findings.warnings, "warning", "warnings"))
            << std::endl;
  return findings.errors == 0 ? 0 : 1;
}

}  // namespace tav_suite
