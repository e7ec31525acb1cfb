// The requests of the tasks file: against the metadata, every uuid once on each side and the
// same subject label; on their own, a URL tav-req sends. Findings about the requests of one
// task make one line.
#include <fmt/format.h>

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "common/words.h"
#include "suite/check_steps.h"
#include "suite/report_line.h"

namespace tav_suite {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Where a uuid first appears on each side; one table serves both, as uuids mostly pair up.
struct UuidPlaces {
  std::size_t entry = kNone;
  std::size_t task = kNone;
  std::size_t request = 0;
};

bool sameLabel(const tav::MacLabel& a, std::uint8_t level, std::uint32_t categories) {
  return a.level == level && a.categories == categories;
}

// What is wrong with the requests of one task, each list in request order.
struct TaskFindings {
  FirstFew missing;
  FirstFew reused;
  FirstFew mismatched;
  FirstFew oddAuth;
  FirstFew readWrites;  // PUT or DELETE judged by the read rule
  FirstFew writeReads;  // GET or HEAD judged by the write rule
  FirstFew headBodies;  // HEAD judged by the read rule while bodies are checked
};

bool writes(tav_req::RequestMethod method) {
  return method == tav_req::RequestMethod::put || method == tav_req::RequestMethod::del;
}

void reportTask(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                std::size_t t, const std::string& metadataPath,
                const std::string& bodyCheckingConfig, const TaskFindings& found,
                Findings& findings) {
  const std::string where = fmt::format("{}: {}", tasksPath, taskWhere(tasks, t));
  const tav_req::TaskUser& user = tasks[t].user;
  if (!found.missing.empty()) {
    findings.error(fmt::format(
        "{}: no entry in {} for {}: {}; tav-rep judges a request without labels as failed; add "
        "the entries or fix the uuids",
        where, metadataPath, tav::counted(found.missing.count(), "request", "requests"),
        found.missing.text()));
  }
  if (!found.reused.empty()) {
    findings.error(fmt::format(
        "{}: {} with a uuid already used: {}; their answers cannot be told apart; give each "
        "request its own uuid",
        where, tav::counted(found.reused.count(), "request", "requests"), found.reused.text()));
  }
  if (!found.mismatched.empty()) {
    findings.error(fmt::format(
        "{}: sent with mac_label {}, but {} judges {} as another subject_label: {}; make them "
        "the same",
        where, tav::macLabelMeaning({user.macLevel, user.macCategories}), metadataPath,
        tav::counted(found.mismatched.count(), "request", "requests"), found.mismatched.text()));
  }
  if (!found.readWrites.empty()) {
    findings.warning(fmt::format(
        "{}: {} that {} judges by the read rule (no \"access\": \"write\"): {}; a write "
        "is granted only where the label library grants write access",
        where,
        tav::counted(found.readWrites.count(), "PUT or DELETE request", "PUT or DELETE requests"),
        metadataPath, found.readWrites.text()));
  }
  if (!found.writeReads.empty()) {
    findings.warning(fmt::format(
        "{}: {} that {} judges by the write rule (\"access\": \"write\"): {}", where,
        tav::counted(found.writeReads.count(), "GET or HEAD request", "GET or HEAD requests"),
        metadataPath, found.writeReads.text()));
  }
  if (!found.headBodies.empty()) {
    findings.warning(fmt::format(
        "{}: {} judged by the read rule while {} checks bodies: {}; a HEAD answer has no body, "
        "so each one the labels grant fails the body check; send a GET or judge it as a write",
        where, tav::counted(found.headBodies.count(), "HEAD request", "HEAD requests"),
        bodyCheckingConfig, found.headBodies.text()));
  }
  if (!found.oddAuth.empty()) {
    findings.warning(fmt::format(
        "{}: {} with an auth_type neither basic nor gssapi, which tav-req sends as basic: {}",
        where, tav::counted(found.oddAuth.count(), "request", "requests"), found.oddAuth.text()));
  }
}

}  // namespace

void checkCrossReferences(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                          const std::string& metadataPath,
                          const std::vector<MetadataEntry>& entries, LabelTexts& texts,
                          const std::string& bodyCheckingConfig, Findings& findings) {
  std::unordered_map<std::string_view, UuidPlaces> places;
  places.reserve(entries.size());
  std::vector<bool> settled(entries.size(), false);  // answered, or already reported twice
  FirstFew twice;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    UuidPlaces& place = places[*entries[k].uuid];
    if (place.entry == kNone) {
      place.entry = k;
      continue;
    }
    settled[k] = true;
    twice.add(
        [&] { return fmt::format("[{}] \"{}\" (first [{}])", k, *entries[k].uuid, place.entry); });
  }
  if (!twice.empty()) {
    findings.error(fmt::format(
        "{}: {} with more than one entry: {}; tav-rep keeps only the last entry of a uuid; "
        "remove or rename them",
        metadataPath, tav::counted(twice.count(), "uuid", "uuids"), twice.text()));
  }
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const tav_req::Task& task = tasks[t];
    TaskFindings found;
    for (std::size_t r = 0; r < task.requests.size(); ++r) {
      const tav_req::TaskRequest& request = task.requests[r];
      const auto requestPlace = [&] { return fmt::format("requests[{}] \"{}\"", r, request.uuid); };
      if (request.authTypeName != "basic" && request.authTypeName != "gssapi") {
        found.oddAuth.add(
            [&] { return fmt::format("requests[{}] \"{}\"", r, request.authTypeName); });
      }
      UuidPlaces& place = places[request.uuid];
      if (place.task != kNone) {
        found.reused.add([&] {
          return fmt::format("{} (as tasks[{}] requests[{}])", requestPlace(), place.task,
                             place.request);
        });
        continue;
      }
      place.task = t;
      place.request = r;
      if (place.entry == kNone) {
        found.missing.add(requestPlace);
        continue;
      }
      settled[place.entry] = true;
      const tav_rep::CheckEntry& entry = *entries[place.entry].labels;
      if (writes(request.method) != entry.write) {
        (entry.write ? found.writeReads : found.readWrites).add([&] {
          return fmt::format("{} ({} at [{}])", requestPlace(), tav_req::methodName(request.method),
                             place.entry);
        });
      }
      if (!bodyCheckingConfig.empty() && !entry.write &&
          request.method == tav_req::RequestMethod::head) {
        found.headBodies.add([&] { return fmt::format("{} ([{}])", requestPlace(), place.entry); });
      }
      const tav::MacLabelText& subject = texts.parse(entry.subject_label).read;
      if (subject.label &&
          !sameLabel(*subject.label, task.user.macLevel, task.user.macCategories)) {
        found.mismatched.add([&] {
          return fmt::format("{} (subject_label \"{}\" at [{}])", requestPlace(),
                             entry.subject_label, place.entry);
        });
      }
    }
    reportTask(tasksPath, tasks, t, metadataPath, bodyCheckingConfig, found, findings);
  }
  FirstFew unanswered;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (!settled[k])
      unanswered.add([&] { return fmt::format("[{}] \"{}\"", k, *entries[k].uuid); });
  }
  if (!unanswered.empty()) {
    findings.error(fmt::format(
        "{}: no request of {} answers {}: {}; tav-rep fails each as unanswered; remove them or "
        "fix the uuids",
        metadataPath, tasksPath, tav::counted(unanswered.count(), "entry", "entries"),
        unanswered.text()));
  }
}

void checkRequestUrls(const std::string& path, const std::vector<tav_req::Task>& tasks,
                      Findings& findings) {
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    FirstFew other;
    FirstFew blank;
    for (std::size_t r = 0; r < tasks[t].requests.size(); ++r) {
      const std::string& uri = tasks[t].requests[r].uri;
      if (!tav_req::isHttpUrl(uri)) {
        other.add([&] { return fmt::format("requests[{}] \"{}\"", r, uri); });
      } else if (tav_req::hasUrlBlank(uri)) {
        blank.add([&] { return fmt::format("requests[{}] \"{}\"", r, uri); });
      }
    }
    if (!blank.empty()) {
      findings.error(fmt::format(
          "{}: {}: {} with a blank or control character in the uri: {}; libcurl refuses such a "
          "URL, so tav-req records a failed transfer; write a blank as %20",
          path, taskWhere(tasks, t), tav::counted(blank.count(), "request", "requests"),
          blank.text()));
    }
    if (other.empty()) continue;
    findings.error(fmt::format(
        "{}: {}: {} with a uri that is not an http:// or https:// URL: {}; tav-req sends only "
        "those and records any other as a failed transfer; fix the {}",
        path, taskWhere(tasks, t), tav::counted(other.count(), "request", "requests"), other.text(),
        other.count() == 1 ? "uri" : "uris"));
  }
}

}  // namespace tav_suite

namespace tav_suite {

void checkWriteCleanup(const std::string& path, const std::vector<tav_req::Task>& tasks,
                       Findings& findings) {
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const std::vector<tav_req::TaskRequest>& requests = tasks[t].requests;
    // Walked backwards, the uris deleted later in the task are known at each PUT.
    std::unordered_set<std::string_view> deletedLater;
    std::vector<std::size_t> left;
    for (std::size_t r = requests.size(); r-- > 0;) {
      const tav_req::TaskRequest& request = requests[r];
      if (request.method == tav_req::RequestMethod::del) deletedLater.insert(request.uri);
      if (request.method == tav_req::RequestMethod::put && !deletedLater.contains(request.uri)) {
        left.push_back(r);
      }
    }
    if (left.empty()) continue;
    FirstFew named;
    for (auto r = left.rbegin(); r != left.rend(); ++r) {
      named.add([&] { return fmt::format("requests[{}] \"{}\"", *r, requests[*r].uuid); });
    }
    findings.warning(fmt::format(
        "{}: {}: {} without a DELETE of the same uri after it in the task: {}; what a granted PUT "
        "stores stays on the server; add a DELETE after each",
        path, taskWhere(tasks, t), tav::counted(named.count(), "PUT request", "PUT requests"),
        named.text()));
  }
}

void checkWriteCodes(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                     const std::string& configPath, const tav_rep::ReportConfig& config,
                     Findings& findings) {
  const auto named = [&](std::int64_t code) {
    return config.allowed_codes.contains(code) || config.denied_codes.contains(code);
  };
  for (const auto& [method, code] : {std::pair{tav_req::RequestMethod::put, std::int64_t{201}},
                                     std::pair{tav_req::RequestMethod::del, std::int64_t{204}}}) {
    if (named(code)) continue;
    std::size_t count = 0;
    for (const tav_req::Task& task : tasks) {
      count += static_cast<std::size_t>(std::ranges::count_if(
          task.requests, [&](const tav_req::TaskRequest& r) { return r.method == method; }));
    }
    if (count == 0) continue;
    const std::string name = tav_req::methodName(method);
    findings.warning(fmt::format(
        "{}: {}, but {} has {} in neither allowed_codes nor denied_codes: each {} the server "
        "takes with {} fails as a code in neither set; add {} to allowed_codes",
        tasksPath, tav::counted(count, name + " request", name + " requests"), configPath, code,
        name, code, code));
  }
}

}  // namespace tav_suite
