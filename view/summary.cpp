#include "view/summary.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "common/label_order.h"
#include "common/words.h"
#include "view/host_hints.h"
#include "view/text.h"

namespace tav_view {

namespace {

constexpr std::size_t kListedInHint = 20;

// "a, b, c and 4 more"
std::string someOf(const std::vector<std::string_view>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size() && i < kListedInHint; ++i) {
    text += fmt::format("{}{}", i ? ", " : "", items[i].empty() ? "\"\"" : items[i]);
  }
  if (items.size() > kListedInHint)
    text += fmt::format(" and {} more", items.size() - kListedInHint);
  return text;
}

struct GroupCount {
  std::size_t total = 0;
  std::size_t denied = 0;
  std::size_t predicted_granted = 0;
};

void addHints(const Inputs& inputs, const std::vector<ViewEntry>& entries, Summary& summary) {
  std::vector<GroupCount> groups(inputs.groups.size());
  std::vector<std::string_view> noAnswer;
  std::map<std::int64_t, std::size_t> neitherCodes;
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
      noAnswer.push_back(*view.uuid);
    } else if (!v.code_allowed && !v.code_denied) {
      ++neitherCodes[view.entry->code];
    }
  }
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const GroupCount& count = groups[i];
    if (count.total == 0 || count.denied != count.total || count.predicted_granted == 0) continue;
    const TaskGroup& group = inputs.groups[i];
    summary.hints.push_back(fmt::format(
        "user {} (label {}, {}): {} got a denied code although {} of them {} predicted "
        "granted: authentication probably failed, and this user's refusals prove nothing",
        group.user, group.label, group.auth_type,
        count.total == 1 ? "the one request" : fmt::format("all {} requests", count.total),
        count.predicted_granted, count.predicted_granted == 1 ? "was" : "were"));
  }
  for (std::string& hint : unansweredHostHints(entries)) summary.hints.push_back(std::move(hint));
  if (inputs.table.contains("")) {
    summary.hints.push_back(fmt::format(
        "responses.json holds an entry with an empty identifier: tav-req writes one for each "
        "failed transfer{}{}",
        noAnswer.empty() ? "" : "; requests without an answer: ", someOf(noAnswer)));
  } else if (!noAnswer.empty()) {
    summary.hints.push_back(
        fmt::format("{} no answer (code 0: the transfer failed, or responses.json lacks {}): {}",
                    tav::counted(noAnswer.size(), "request has", "requests have"),
                    noAnswer.size() == 1 ? "it" : "them", someOf(noAnswer)));
  }
  if (!neitherCodes.empty()) {
    std::string codes;
    std::size_t count = 0;
    for (const auto& [code, n] : neitherCodes) {
      codes += fmt::format("{}{} ({}x)", codes.empty() ? "" : ", ", code, n);
      count += n;
    }
    summary.hints.push_back(fmt::format("{} a code in neither the allowed nor the denied set: {}",
                                        tav::counted(count, "request got", "requests got"), codes));
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
  return label.empty() ? "(none)" : terminalText(label);
}

}  // namespace

Summary summarize(const Inputs& inputs, const std::vector<ViewEntry>& entries) {
  Summary summary;
  summary.total = entries.size();
  std::set<std::string_view> subjects;
  std::set<std::string_view> objects;
  for (const ViewEntry& view : entries) {
    const std::string_view subject = view.entry->subject_label;
    const std::string_view object = view.entry->object_label;
    Cell& cell = summary.matrix[{subject, object}];
    ++cell.total;
    if (view.verdict.passed) {
      ++cell.passed;
    } else {
      summary.failures.push_back(&view);
    }
  }
  for (const auto& [key, cell] : summary.matrix) {
    subjects.insert(key.first);
    objects.insert(key.second);
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

std::string requestContext(const Inputs& inputs, const ViewEntry& entry) {
  if (!entry.request) return {};
  const TaskGroup& group = inputs.groups[entry.request->group];
  return fmt::format("user {}, label {}, {}, {}", group.user, group.label, group.auth_type,
                     entry.request->url);
}

void printSummary(std::FILE* out, const Inputs& inputs, const Summary& summary, bool quiet,
                  bool colour) {
  fmt::print(out, "{}{}{}\n", paint(colour, summary.failed == 0), totalsLine(summary),
             reset(colour));
  if (quiet) return;
  for (const ViewEntry* view : summary.failures) {
    const tav_rep::CheckEntry& e = *view->entry;
    fmt::print(out, "{}FAIL{} {}\n", paint(colour, false), reset(colour),
               view->uuid->empty() ? "\"\" (empty identifier)" : terminalText(*view->uuid));
    if (const std::string context = requestContext(inputs, *view); !context.empty()) {
      fmt::print(out, "  {}\n", terminalText(context));
    }
    fmt::print(out, "  subject {}, object {}\n", labelText(e.subject_label),
               labelText(e.object_label));
    fmt::print(out, "  predicted {}: {}\n", predictionName(view->verdict.predicted),
               terminalText(whyPredicted(*view)));
    fmt::print(out, "  recorded {}: {}\n", e.code, terminalText(codeVerdict(*view, inputs.config)));
  }

  // The matrix: a row per subject label, a column per object label, "passed/total" cells.
  fmt::print(out, "\nmatrix: passed/total, a row per subject label, a column per object label\n");
  std::size_t width = 8;
  for (const std::string_view label : summary.objects)
    width = std::max(width, labelText(label).size() + 1);
  for (const auto& [key, cell] : summary.matrix) {
    width = std::max(width, fmt::formatted_size("{}/{}", cell.passed, cell.total) + 1);
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
      const auto found = summary.matrix.find({subject, object});
      if (found == summary.matrix.end()) {
        fmt::print(out, "{:>{}}", "-", width);
        continue;
      }
      const Cell& cell = found->second;
      fmt::print(out, "{}{:>{}}{}", paint(colour, cell.passed == cell.total),
                 fmt::format("{}/{}", cell.passed, cell.total), width, reset(colour));
    }
    fmt::print(out, "\n");
  }
  if (!summary.hints.empty()) fmt::print(out, "\n");
  for (const std::string& hint : summary.hints) fmt::print(out, "hint: {}\n", terminalText(hint));
}

}  // namespace tav_view
