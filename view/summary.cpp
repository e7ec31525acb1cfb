#include "view/summary.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "common/label_order.h"
#include "common/terminal_text.h"
#include "common/words.h"
#include "view/baseline.h"
#include "view/host_hints.h"
#include "view/text.h"

namespace tav_view {

namespace {

constexpr std::size_t kListedInHint = 5;

// The requests a hint is about: how many, and the first few by name; a run of a million
// requests keeps no list of them all.
struct Named {
  std::size_t count = 0;
  std::vector<std::string_view> first;
  void add(std::string_view uuid) {
    if (first.size() < kListedInHint) first.push_back(uuid);
    ++count;
  }
};

// "a, b, c, d, e and 4 more"
std::string someOf(const Named& named) {
  std::string text;
  for (std::size_t i = 0; i < named.first.size(); ++i) {
    text += fmt::format("{}{}", i ? ", " : "", named.first[i].empty() ? "\"\"" : named.first[i]);
  }
  if (named.count > named.first.size()) {
    text += fmt::format(" and {} more", named.count - named.first.size());
  }
  return text;
}

// Adds the item unless it is there already, keeping the first-seen order.
void addOnce(std::vector<std::string_view>& items, std::string_view item) {
  if (std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
}

std::string listed(const std::vector<std::string_view>& items) {
  std::string text;
  for (const std::string_view item : items) {
    text += fmt::format("{}{}", text.empty() ? "" : ", ", item);
  }
  return text;
}

struct GroupCount {
  std::size_t total = 0;
  std::size_t denied = 0;
  std::size_t predicted_granted = 0;
};

// The task groups of one user whose every answer was a denial although some were predicted
// granted, summed up for one hint.
struct FailedLogins {
  std::string_view user;
  std::vector<std::string_view> labels;
  std::vector<std::string_view> authTypes;
  std::size_t predicted_granted = 0;
  Named requests;
};

// One hint per user whose logins seem to have failed, over all its labels and auth types.
void addLoginHints(const Inputs& inputs, const std::vector<ViewEntry>& entries,
                   const std::vector<GroupCount>& groups, Summary& summary) {
  constexpr std::size_t kNoUser = static_cast<std::size_t>(-1);
  std::vector<FailedLogins> users;
  std::vector<std::size_t> userOfGroup(groups.size(), kNoUser);
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const GroupCount& count = groups[i];
    if (count.total == 0 || count.denied != count.total || count.predicted_granted == 0) continue;
    const TaskGroup& group = inputs.groups[i];
    auto user = std::find_if(users.begin(), users.end(),
                             [&](const FailedLogins& u) { return u.user == group.user; });
    if (user == users.end())
      user = users.insert(users.end(), FailedLogins{group.user, {}, {}, 0, {}});
    addOnce(user->labels, group.label);
    addOnce(user->authTypes, group.auth_type);
    user->predicted_granted += count.predicted_granted;
    userOfGroup[i] = static_cast<std::size_t>(user - users.begin());
  }
  if (users.empty()) return;
  for (FailedLogins& user : users) tav::sortLabelTexts(user.labels);
  // The entries are in uuid order, so each user's first requests by name come first.
  for (const ViewEntry& view : entries) {
    if (view.request && userOfGroup[view.request->group] != kNoUser) {
      users[userOfGroup[view.request->group]].requests.add(*view.uuid);
    }
  }
  for (const FailedLogins& user : users) {
    const std::size_t total = user.requests.count;
    summary.hints.push_back(fmt::format(
        "user {} ({} {}; {}): {} got a denied code although {} predicted granted: "
        "authentication probably failed, and this user's refusals prove nothing: {}",
        user.user, user.labels.size() == 1 ? "label" : "labels", listed(user.labels),
        listed(user.authTypes),
        total == 1 ? std::string("the 1 request") : fmt::format("all {} requests", total),
        user.predicted_granted == 1 ? std::string("1 was")
                                    : fmt::format("{} were", user.predicted_granted),
        someOf(user.requests)));
  }
}

bool isSuccess(const ViewEntry& view) {
  return view.entry->code >= 200 && view.entry->code < 300;
}

// PUTs the server took (a 2xx code) that no later DELETE of the same uri in their task removed
// (a 2xx code): what they stored may still be on the server, and only the user can remove it.
void addLeftWritesHint(const std::vector<ViewEntry>& entries, Summary& summary) {
  using tav_req::RequestMethod;
  // The last removal of each uri in each task, by its place in the task.
  std::map<std::pair<std::size_t, std::string_view>, std::size_t> lastRemoval;
  for (const ViewEntry& view : entries) {
    if (!view.request || view.request->method != RequestMethod::del || !isSuccess(view)) continue;
    const auto [found, fresh] =
        lastRemoval.try_emplace({view.request->task, view.request->url}, view.request->position);
    found->second = std::max(found->second, view.request->position);
  }
  std::size_t count = 0;
  std::string first;
  for (const ViewEntry& view : entries) {
    if (!view.request || view.request->method != RequestMethod::put || !isSuccess(view)) continue;
    const auto found = lastRemoval.find({view.request->task, view.request->url});
    if (found != lastRemoval.end() && found->second > view.request->position) continue;
    if (count++ < kListedInHint) {
      first += fmt::format("{}{} ({})", first.empty() ? "" : ", ", *view.uuid, view.request->url);
    }
  }
  if (count == 0) return;
  summary.hints.push_back(fmt::format(
      "{} stored something that no later DELETE of the same uri in {} task removed (a 2xx "
      "code): it may still be on the server; remove it by hand: {}{}",
      tav::counted(count, "PUT", "PUTs"), count == 1 ? "its" : "their", first,
      count > kListedInHint ? fmt::format(" and {} more", count - kListedInHint) : ""));
}

void addHints(const Inputs& inputs, const std::vector<ViewEntry>& entries, Summary& summary) {
  std::vector<GroupCount> groups(inputs.groups.size());
  Named noAnswer;
  std::map<std::int64_t, Named> neitherCodes;
  std::size_t neither = 0;
  for (const ViewEntry& view : entries) {
    const tav_rep::Verdict& v = view.verdict;
    if (view.request) {
      GroupCount& group = groups[view.request->group];
      ++group.total;
      group.denied += v.code_denied ? 1 : 0;
      group.predicted_granted += v.predicted == tav_rep::Prediction::granted ? 1 : 0;
    }
    if (view.uuid->empty()) continue;
    if (view.entry->code == 0 && !v.code_allowed && !v.code_denied) {
      noAnswer.add(*view.uuid);
    } else if (!v.code_allowed && !v.code_denied) {
      // Passing requests too: with labels ignored any code passes, and is named nowhere else.
      neitherCodes[view.entry->code].add(*view.uuid);
      ++neither;
    }
  }
  addLoginHints(inputs, entries, groups, summary);
  for (std::string& hint : unansweredHostHints(entries)) summary.hints.push_back(std::move(hint));
  addLeftWritesHint(entries, summary);
  if (inputs.table.contains("")) {
    summary.hints.push_back(fmt::format(
        "responses.json holds an entry with an empty identifier: tav-req writes one for each "
        "failed transfer{}{}",
        noAnswer.count == 0 ? "" : "; requests without an answer: ", someOf(noAnswer)));
  } else if (noAnswer.count > 0) {
    summary.hints.push_back(
        fmt::format("{} no answer (code 0: the transfer failed, or responses.json lacks {}): {}",
                    tav::counted(noAnswer.count, "request has", "requests have"),
                    noAnswer.count == 1 ? "it" : "them", someOf(noAnswer)));
  }
  if (!neitherCodes.empty()) {
    std::string codes;
    for (const auto& [code, named] : neitherCodes) {
      codes += fmt::format("{}{} ({}x: {})", codes.empty() ? "" : ", ", code, named.count,
                           someOf(named));
    }
    summary.hints.push_back(fmt::format("{} a code in neither the allowed nor the denied set: {}",
                                        tav::counted(neither, "request got", "requests got"),
                                        codes));
  }
}

const char* paint(bool colour, bool good) {
  if (!colour) return "";
  return good ? "\x1b[32m" : "\x1b[31m";
}

const char* reset(bool colour) {
  return colour ? "\x1b[0m" : "";
}

std::string labelText(std::string_view label) {
  return label.empty() ? "(none)" : tav::terminalText(label);
}

// "1/2", and "1/2*" for a cell that got worse.
std::string cellText(const Cell& cell) {
  return fmt::format("{}/{}{}", cell.passed, cell.total, cell.regressions > 0 ? "*" : "");
}

// A row per subject label, a column per object label, "passed/total" cells.
void printMatrix(std::FILE* out, const Summary& summary,
                 const std::map<std::pair<std::string_view, std::string_view>, Cell>& matrix,
                 bool colour) {
  std::size_t width = 8;
  for (const std::string_view label : summary.objects)
    width = std::max(width, labelText(label).size() + 1);
  for (const auto& [key, cell] : matrix) {
    width = std::max(width, cellText(cell).size() + 1);
  }
  std::size_t rowWidth = 8;
  for (const std::string_view label : summary.subjects)
    rowWidth = std::max(rowWidth, labelText(label).size() + 1);
  fmt::print(out, "{:<{}}", "", rowWidth);
  for (const std::string_view object : summary.objects)
    fmt::print(out, "{:>{}}", labelText(object), width);
  fmt::print(out, "\n");
  for (const std::string_view subject : summary.subjects) {
    fmt::print(out, "{:<{}}", labelText(subject), rowWidth);
    for (const std::string_view object : summary.objects) {
      const auto found = matrix.find({subject, object});
      if (found == matrix.end()) {
        fmt::print(out, "{:>{}}", "-", width);
        continue;
      }
      const Cell& cell = found->second;
      fmt::print(out, "{}{:>{}}{}", paint(colour, cell.passed == cell.total), cellText(cell), width,
                 reset(colour));
    }
    fmt::print(out, "\n");
  }
}

}  // namespace

Summary summarize(const Inputs& inputs, const std::vector<ViewEntry>& entries,
                  const Baseline* baseline) {
  Summary summary;
  summary.baseline = baseline;
  summary.total = entries.size();
  std::set<std::string_view> subjects;
  std::set<std::string_view> objects;
  for (const ViewEntry& view : entries) {
    const std::string_view subject = view.entry->subject_label;
    const std::string_view object = view.entry->object_label;
    Cell& cell = (view.entry->write ? summary.write_matrix : summary.matrix)[{subject, object}];
    ++cell.total;
    if (view.verdict.passed) {
      ++cell.passed;
    } else {
      summary.failures.push_back(&view);
    }
    cell.regressions += isRegression(view) ? 1 : 0;
  }
  std::stable_partition(summary.failures.begin(), summary.failures.end(),
                        [](const ViewEntry* view) { return isRegression(*view); });
  for (const auto* matrix : {&summary.matrix, &summary.write_matrix}) {
    for (const auto& [key, cell] : *matrix) {
      subjects.insert(key.first);
      objects.insert(key.second);
    }
  }
  summary.subjects.assign(subjects.begin(), subjects.end());
  summary.objects.assign(objects.begin(), objects.end());
  tav::sortLabelTexts(summary.subjects);
  tav::sortLabelTexts(summary.objects);
  summary.failed = summary.failures.size();
  addHints(inputs, entries, summary);
  return summary;
}

std::string totalsLine(const Summary& summary) {
  return fmt::format("requests {}, passed {}, failed {}", summary.total,
                     summary.total - summary.failed, summary.failed);
}

std::string changeText(const ViewEntry& entry) {
  return entry.lostAnswer ? "still failing, lost its answer" : changeName(entry.change);
}

std::string requestContext(const Inputs& inputs, const ViewEntry& entry) {
  if (!entry.request) return {};
  const TaskGroup& group = inputs.groups[entry.request->group];
  // A GET goes without its method's name, as before requests named methods.
  const bool get = entry.request->method == tav_req::RequestMethod::get;
  return fmt::format("user {}, label {}, {}, {}{}{}", group.user, group.label, group.auth_type,
                     get ? "" : tav_req::methodName(entry.request->method), get ? "" : " ",
                     entry.request->url);
}

void printSummary(std::FILE* out, const Inputs& inputs, const Summary& summary, bool quiet,
                  bool colour) {
  fmt::print(out, "{}{}{}\n", paint(colour, summary.failed == 0), totalsLine(summary),
             reset(colour));
  if (summary.baseline) fmt::print(out, "{}\n", tav::terminalText(baselineLine(*summary.baseline)));
  if (quiet) return;
  for (const ViewEntry* view : summary.failures) {
    const tav_rep::CheckEntry& e = *view->entry;
    fmt::print(out, "{}FAIL{} {}{}\n", paint(colour, false), reset(colour),
               view->uuid->empty() ? "\"\" (empty identifier)" : tav::terminalText(*view->uuid),
               summary.baseline ? " (" + changeText(*view) + ")" : std::string());
    if (const std::string context = requestContext(inputs, *view); !context.empty()) {
      fmt::print(out, "  {}\n", tav::terminalText(context));
    }
    fmt::print(out, "  subject {}, object {}\n", labelText(e.subject_label),
               labelText(e.object_label));
    fmt::print(out, "  predicted {}: {}\n", predictionName(view->verdict.predicted),
               tav::terminalText(whyPredicted(*view)));
    fmt::print(out, "  recorded {}: {}\n", e.code,
               tav::terminalText(codeVerdict(*view, inputs.config)));
  }

  const char* worseMark =
      summary.baseline ? "; * marks a cell with a new failure or a lost answer" : "";
  if (summary.write_matrix.empty()) {
    fmt::print(out,
               "\nmatrix: passed/total, a row per subject label, a column per object label{}\n",
               worseMark);
    printMatrix(out, summary, summary.matrix, colour);
  } else {
    // Reads and writes of one pair of labels follow different rules: their cells stay apart.
    if (!summary.matrix.empty()) {
      fmt::print(out,
                 "\nread matrix: passed/total of the reads, a row per subject label, a "
                 "column per object label{}\n",
                 worseMark);
      printMatrix(out, summary, summary.matrix, colour);
    }
    fmt::print(out,
               "\nwrite matrix: passed/total of the writes, a row per subject label, a "
               "column per object label{}\n",
               worseMark);
    printMatrix(out, summary, summary.write_matrix, colour);
  }
  if (!summary.hints.empty()) fmt::print(out, "\n");
  for (const std::string& hint : summary.hints)
    fmt::print(out, "hint: {}\n", tav::terminalText(hint));
}

}  // namespace tav_view
