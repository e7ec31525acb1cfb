#include "suite/check.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "common/json_document.h"
#include "common/label_order.h"
#include "common/mac_label_text.h"
#include "common/words.h"
#include "rep/check_table.h"
#include "rep/label_cache.h"
#include "rep/report_config.h"
#include "req/task.h"
#include "suite/log_recorder.h"
#include "suite/trust_check.h"
#include "suite/user_access.h"

namespace tav_suite {

namespace {

using nlohmann::json;

// A metadata entry in file order: its uuid and the labels tav-rep keeps for it (those of the
// last entry with that uuid).
struct MetadataEntry {
  const std::string* uuid = nullptr;
  const tav_rep::CheckEntry* labels = nullptr;
};

struct Metadata {
  tav_rep::CheckTable table;
  std::vector<MetadataEntry> entries;
};

// What a loader made of a file: its result, or the lines it logged about the file.
template <typename T>
struct Loaded {
  std::optional<T> value;
  std::vector<std::string> complaints;
};

// The loader's complaints as findings; true when there was none.
bool reportComplaints(const std::vector<std::string>& complaints, const std::string& path,
                      const char* program, Findings& findings) {
  for (const std::string& line : complaints) {
    findings.error(fmt::format("{}: {} cannot load it: {}; fix the file", path, program, line));
  }
  return complaints.empty();
}

Loaded<std::vector<tav_req::Task>> loadTasksFile(const std::string& path, LogRecorder& recorder) {
  Loaded<std::vector<tav_req::Task>> loaded;
  loaded.value = tav_req::loadTasks(path);
  loaded.complaints = recorder.take();
  return loaded;
}

// The entries as tav-rep's loader takes them, watched as it goes, so the file is read once.
Loaded<Metadata> loadMetadataFile(const std::string& path, LogRecorder& recorder) {
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

void checkConfig(const std::string& path, LogRecorder& recorder, Findings& findings) {
  const std::optional<tav_rep::ReportConfig> config = tav_rep::loadConfig(path);
  if (!reportComplaints(recorder.take(), path, "tav-rep", findings) || !config) return;
  for (const std::int64_t code : config->allowed_codes) {
    if (config->denied_codes.contains(code)) {
      findings.warning(
          fmt::format("{}: code {} is in both allowed_codes and denied_codes; tav-rep "
                      "takes it for granted; remove it from one of them",
                      path, code));
    }
  }
}

std::string taskWhere(std::size_t task) {
  return fmt::format("tasks[{}]", task);
}

std::string requestWhere(std::size_t task, std::size_t request) {
  return fmt::format("tasks[{}].requests[{}]", task, request);
}

// Label texts parsed once each, with the reason a text is not a label.
class LabelTexts {
 public:
  const tav::MacLabelText& parse(const std::string& text) {
    auto found = parsed_.find(text);
    if (found == parsed_.end()) found = parsed_.emplace(text, tav::parseMacLabelText(text)).first;
    return found->second;
  }

 private:
  std::unordered_map<std::string, tav::MacLabelText> parsed_;
};

bool sameLabel(const tav::MacLabel& a, std::uint8_t level, std::uint32_t categories) {
  return a.level == level && a.categories == categories;
}

void checkMetadataLabels(const std::string& path, const std::vector<MetadataEntry>& entries,
                         LabelTexts& texts, Findings& findings) {
  // Out-of-range subjects, counted per subject and range with the first entry.
  std::map<std::tuple<std::string, std::string, std::string>, std::pair<std::size_t, std::size_t>>
      outside;
  tav_rep::LabelCache cache;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const std::string& uuid = *entries[k].uuid;
    const tav_rep::CheckEntry& entry = *entries[k].labels;
    bool labels = true;
    for (const auto& [key, value] :
         {std::pair<const char*, const std::string*>{"subject_label", &entry.subject_label},
          {"min_mac_label", &entry.min_mac_label},
          {"max_mac_label", &entry.max_mac_label},
          {"object_label", &entry.object_label}}) {
      const tav::MacLabelText& parsed = texts.parse(*value);
      if (!parsed.label) {
        labels = false;
        findings.error(
            fmt::format("{}: [{}] uuid \"{}\": {} \"{}\" is not a label ({}); write "
                        "LEVEL:HEXCATEGORIES such as 2:3",
                        path, k, uuid, key, *value, parsed.error));
      }
    }
    if (!labels) continue;
    auto key = std::make_tuple(entry.subject_label, entry.min_mac_label, entry.max_mac_label);
    if (auto found = outside.find(key); found != outside.end()) {
      if (found->second.first > 0) ++found->second.first;
      continue;
    }
    const bool within =
        cache.validate(entry.subject_label, entry.min_mac_label, entry.max_mac_label)
            .value_or(true);
    outside.emplace(std::move(key), std::make_pair(within ? 0 : 1, k));
  }
  // Reported by subject label, then range, each by level, then categories.
  std::vector<std::string_view> labels;
  for (const auto& [key, counted] : outside) {
    const auto& [subject, low, high] = key;
    labels.insert(labels.end(), {subject, low, high});
  }
  tav::sortLabelTexts(labels);
  std::unordered_map<std::string_view, std::size_t> rank;
  for (const std::string_view label : labels) rank.try_emplace(label, rank.size());
  std::vector<const decltype(outside)::value_type*> order;
  for (const auto& item : outside) order.push_back(&item);
  std::sort(order.begin(), order.end(), [&](const auto* a, const auto* b) {
    const auto& [subjectA, lowA, highA] = a->first;
    const auto& [subjectB, lowB, highB] = b->first;
    return std::make_tuple(rank[subjectA], rank[lowA], rank[highA]) <
           std::make_tuple(rank[subjectB], rank[lowB], rank[highB]);
  });
  for (const auto* item : order) {
    const auto& [subject, low, high] = item->first;
    const auto [count, first] = item->second;
    if (count == 0) continue;
    findings.warning(fmt::format(
        "{}: subject_label \"{}\" is outside the user's range {}..{} in {} (first [{}] "
        "uuid \"{}\"); tav-rep predicts {} refused; widen the range unless that is intended",
        path, subject, low, high, tav::counted(count, "entry", "entries"), first,
        *entries[first].uuid, count == 1 ? "it" : "each"));
  }
}

// Requests against metadata: each uuid once on each side, and the same subject label.
void checkCrossReferences(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                          const std::string& metadataPath,
                          const std::vector<MetadataEntry>& entries, LabelTexts& texts,
                          Findings& findings) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // Where a uuid first appears on each side; one table serves both, as uuids mostly pair up.
  struct Places {
    std::size_t entry = kNone;
    std::size_t task = kNone;
    std::size_t request = 0;
  };
  std::unordered_map<std::string_view, Places> places;
  places.reserve(entries.size());
  std::vector<bool> settled(entries.size(), false);  // answered, or already reported twice
  for (std::size_t k = 0; k < entries.size(); ++k) {
    Places& place = places[*entries[k].uuid];
    if (place.entry == kNone) {
      place.entry = k;
      continue;
    }
    settled[k] = true;
    findings.error(
        fmt::format("{}: [{}] uuid \"{}\" is there twice (first [{}]); tav-rep "
                    "keeps only the later one; remove or rename one",
                    metadataPath, k, *entries[k].uuid, place.entry));
  }
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const tav_req::Task& task = tasks[t];
    for (std::size_t r = 0; r < task.requests.size(); ++r) {
      const std::string& uuid = task.requests[r].uuid;
      Places& place = places[uuid];
      if (place.task != kNone) {
        findings.error(fmt::format(
            "{}: {}: uuid \"{}\" is also that of {}; their answers "
            "cannot be told apart; give each request its own uuid",
            tasksPath, requestWhere(t, r), uuid, requestWhere(place.task, place.request)));
        continue;
      }
      place.task = t;
      place.request = r;
      if (place.entry == kNone) {
        findings.error(
            fmt::format("{}: {}: uuid \"{}\" has no entry in {}; tav-rep would judge "
                        "it without labels; add the entry or fix the uuid",
                        tasksPath, requestWhere(t, r), uuid, metadataPath));
        continue;
      }
      settled[place.entry] = true;
      const tav_rep::CheckEntry& entry = *entries[place.entry].labels;
      const tav::MacLabelText& subject = texts.parse(entry.subject_label);
      if (subject.label &&
          !sameLabel(*subject.label, task.user.macLevel, task.user.macCategories)) {
        findings.error(fmt::format(
            "{}: {}: uuid \"{}\" is sent with mac_label {}:{:x}, but {} [{}] judges it as "
            "subject_label \"{}\"; make them the same",
            tasksPath, requestWhere(t, r), uuid, task.user.macLevel, task.user.macCategories,
            metadataPath, place.entry, entry.subject_label));
      }
      if (task.requests[r].authTypeName != "basic" && task.requests[r].authTypeName != "gssapi") {
        findings.warning(
            fmt::format("{}: {}: auth_type \"{}\" is neither basic nor gssapi; "
                        "tav-req sends it as basic",
                        tasksPath, requestWhere(t, r), task.requests[r].authTypeName));
      }
    }
  }
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (!settled[k]) {
      findings.error(
          fmt::format("{}: [{}] uuid \"{}\" is answered by no request of {}; tav-rep "
                      "would fail it as unanswered; remove it or fix the uuid",
                      metadataPath, k, *entries[k].uuid, tasksPath));
    }
  }
}

void checkRequestUrls(const std::string& path, const std::vector<tav_req::Task>& tasks,
                      Findings& findings) {
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    for (std::size_t r = 0; r < tasks[t].requests.size(); ++r) {
      const std::string& uri = tasks[t].requests[r].uri;
      if (tav_req::isHttpUrl(uri)) continue;
      findings.error(
          fmt::format("{}: {}: uri \"{}\" is not an http:// or https:// URL; tav-req sends "
                      "only those and records any other as a failed transfer; fix the uri",
                      path, requestWhere(t, r), uri));
    }
  }
}

// A folder that cannot be looked at counts as missing.
bool isFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

// The file behind KRB5CCNAME, or nothing for caches that are not files.
std::optional<std::string> fileCache(const std::string& name) {
  if (name.starts_with("FILE:")) return name.substr(5);
  if (name.starts_with("/")) return name;
  return std::nullopt;
}

struct RootChecks {
  std::size_t skipped = 0;
  void count(const std::optional<bool>& result) {
    if (!result) ++skipped;
  }
};

void checkTaskUsers(const std::string& path, const std::vector<tav_req::Task>& tasks,
                    const CheckOptions& options, AccessProbe& probe, Findings& findings) {
  std::map<std::tuple<std::string, unsigned, std::uint32_t>, std::size_t> seen;
  std::map<std::string, std::optional<TaskUserId>> users;
  std::set<std::string> outputChecked;
  RootChecks root;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const tav_req::Task& task = tasks[t];
    const tav_req::TaskUser& user = task.user;
    const auto key = std::make_tuple(user.name, unsigned{user.macLevel}, user.macCategories);
    if (const auto [found, fresh] = seen.emplace(key, t); !fresh) {
      findings.warning(
          fmt::format("{}: {}: user \"{}\" with mac_label {}:{:x} is also {}; both "
                      "children run the same identity; join them unless intended",
                      path, taskWhere(t), user.name, user.macLevel, user.macCategories,
                      taskWhere(found->second)));
    }
    auto known = users.find(user.name);
    if (known == users.end()) known = users.emplace(user.name, findUser(user.name)).first;
    if (!known->second) {
      findings.error(
          fmt::format("{}: {}: user \"{}\" does not exist on this machine; create "
                      "the account or fix the name",
                      path, taskWhere(t), user.name));
      continue;
    }
    const TaskUserId& id = *known->second;
    bool gssapi = false;
    for (const tav_req::TaskRequest& request : task.requests) {
      gssapi = gssapi || request.authTypeName == "gssapi";
    }
    const auto cacheName = task.env.find("KRB5CCNAME");
    if (gssapi && cacheName != task.env.end()) {
      if (const std::optional<std::string> file = fileCache(cacheName->second)) {
        struct stat info {};
        if (stat(file->c_str(), &info) != 0 && errno == ENOENT) {
          findings.error(
              fmt::format("{}: {}: KRB5CCNAME file cache {} of user \"{}\" is missing; "
                          "get a ticket with kinit -c {} as that user",
                          path, taskWhere(t), *file, user.name, *file));
        } else if (stat(file->c_str(), &info) == 0 && info.st_size == 0) {
          findings.error(
              fmt::format("{}: {}: KRB5CCNAME file cache {} of user \"{}\" is empty; "
                          "get a ticket with kinit -c {} as that user",
                          path, taskWhere(t), *file, user.name, *file));
        } else {
          const std::optional<bool> readable = probe.canRead(id, *file);
          root.count(readable);
          if (readable == false) {
            findings.error(
                fmt::format("{}: {}: user \"{}\" cannot read its KRB5CCNAME file "
                            "cache {}; make the user its owner (chown)",
                            path, taskWhere(t), user.name, *file));
          }
        }
      }
    }
    if (!options.outputDir.empty() && outputChecked.insert(user.name).second &&
        isFolder(options.outputDir)) {
      // The children write their responses files as the task user.
      const std::optional<bool> writable = probe.canWriteInto(id, options.outputDir);
      root.count(writable);
      if (writable == false) {
        findings.error(
            fmt::format("{}: user \"{}\" of {} cannot write into it, and tav-req's "
                        "child writes its responses there as that user; chmod 1777 it "
                        "(the sticky bit keeps one user from replacing another's files) "
                        "or pick another folder",
                        options.outputDir, user.name, taskWhere(t)));
      }
    }
  }
  if (root.skipped > 0) {
    findings.warning(
        fmt::format("{}: {} of what task users may read and write skipped: "
                    "needs root",
                    path, tav::counted(root.skipped, "check", "checks")));
  }
}

void checkFolder(const std::string& dir, const char* what, Findings& findings) {
  if (!isFolder(dir)) {
    findings.error(
        fmt::format("{}: the {} folder does not exist; tav-req refuses to start "
                    "without it; create it",
                    dir, what));
  }
}

}  // namespace

void Findings::error(const std::string& text) {
  ++errors;
  std::cout << "error: " << text << '\n';
}

void Findings::warning(const std::string& text) {
  ++warnings;
  std::cout << "warning: " << text << '\n';
}

Findings checkSuite(const CheckOptions& options) {
  Findings findings;
  AccessProbe probe;
  // The two large files load side by side; each loader's lines are told apart by thread.
  LogRecorder recorder;
  Loaded<std::vector<tav_req::Task>> loadedTasks;
  std::exception_ptr tasksFailure;
  std::thread tasksLoader([&] {
    try {
      loadedTasks = loadTasksFile(options.tasks, recorder);
    } catch (...) {
      tasksFailure = std::current_exception();
    }
  });
  Loaded<Metadata> loadedMetadata;
  try {
    loadedMetadata = loadMetadataFile(options.metadata, recorder);
  } catch (...) {
    tasksLoader.join();
    throw;
  }
  tasksLoader.join();
  if (tasksFailure) std::rethrow_exception(tasksFailure);

  std::optional<std::vector<tav_req::Task>>& tasks = loadedTasks.value;
  if (!reportComplaints(loadedTasks.complaints, options.tasks, "tav-req", findings)) {
    tasks.reset();
  } else if (tasks->empty()) {
    findings.error(fmt::format("{}: holds no tasks; tav-req would run nothing", options.tasks));
    tasks.reset();
  }
  const std::optional<Metadata>& metadata = loadedMetadata.value;
  reportComplaints(loadedMetadata.complaints, options.metadata, "tav-rep", findings);
  if (!options.config.empty()) checkConfig(options.config, recorder, findings);
  if (!options.outputDir.empty()) checkFolder(options.outputDir, "output", findings);
  // The child logs are opened by root before the switch to the task user, so the log folder
  // needs no permission of the task users.
  if (!options.logDir.empty()) checkFolder(options.logDir, "log", findings);
  LabelTexts texts;
  if (metadata) checkMetadataLabels(options.metadata, metadata->entries, texts, findings);
  if (tasks && metadata) {
    checkCrossReferences(options.tasks, *tasks, options.metadata, metadata->entries, texts,
                         findings);
  }
  if (tasks) checkRequestUrls(options.tasks, *tasks, findings);
  if (tasks) checkTaskUsers(options.tasks, *tasks, options, probe, findings);
  if (tasks) checkTrust(options.tasks, *tasks, options, probe, findings);
  std::cout.flush();
  return findings;
}

int runCheck(const CheckOptions& options) {
  const Findings findings = checkSuite(options);
  std::cerr << fmt::format("tav-suite check: {}, {}",
                           tav::counted(findings.errors, "error", "errors"),
                           tav::counted(findings.warnings, "warning", "warnings"))
            << std::endl;
  return findings.errors == 0 ? 0 : 1;
}

}  // namespace tav_suite
