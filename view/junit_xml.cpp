#include <fmt/format.h>

#include <map>

#include "common/label_order.h"
#include "view/baseline.h"
#include "view/reports.h"
#include "view/text.h"

namespace tav_view {

namespace {

struct Suite {
  std::string name;
  std::vector<const ViewEntry*> cases;
  std::size_t failures = 0;
};

// One suite per task and auth type with a tasks file, in its order, and one for the requests
// no task names; one per subject label without, by level, then categories.
std::vector<Suite> suitesOf(const Inputs& inputs, const std::vector<ViewEntry>& entries) {
  std::vector<Suite> suites;
  std::map<std::string_view, std::size_t> bySubject;
  if (inputs.has_tasks) {
    for (const TaskGroup& group : inputs.groups) {
      suites.push_back(
          {fmt::format("user {}, label {}, {}", group.user, group.label, group.auth_type), {}, 0});
    }
    suites.push_back({"requests no task names", {}, 0});
  }
  for (const ViewEntry& view : entries) {
    std::size_t index = suites.size() - 1;
    if (view.request) {
      index = view.request->group;
    } else if (!inputs.has_tasks) {
      const auto [found, added] = bySubject.try_emplace(view.entry->subject_label, suites.size());
      if (added)
        suites.push_back(
            {fmt::format("subject {}",
                         view.entry->subject_label.empty() ? "(none)" : view.entry->subject_label),
             {},
             0});
      index = found->second;
    }
    suites[index].cases.push_back(&view);
    suites[index].failures += view.verdict.passed ? 0 : 1;
  }
  if (!inputs.has_tasks) {
    // Per subject label: in label order, as the matrix rows.
    std::vector<std::string_view> labels;
    for (const auto& [label, index] : bySubject) labels.push_back(label);
    tav::sortLabelTexts(labels);
    std::vector<Suite> ordered;
    for (const std::string_view label : labels) {
      ordered.push_back(std::move(suites[bySubject.at(label)]));
    }
    suites = std::move(ordered);
  }
  std::erase_if(suites, [](const Suite& suite) { return suite.cases.empty(); });
  return suites;
}

}  // namespace

std::string failureReason(const Inputs& inputs, const ViewEntry& entry) {
  return fmt::format("predicted {}: {}; recorded {}: {}", predictionName(entry.verdict.predicted),
                     whyPredicted(entry), entry.entry->code, codeVerdict(entry, inputs.config));
}

void writeJunit(std::FILE* out, const Inputs& inputs, const std::vector<ViewEntry>& entries,
                const Summary& summary) {
  fmt::print(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  fmt::print(out, "<testsuites name=\"tav\" tests=\"{}\" failures=\"{}\" errors=\"0\">\n",
             summary.total, summary.failed);
  for (const Suite& suite : suitesOf(inputs, entries)) {
    const std::string name = markupText(suite.name);
    fmt::print(out, "  <testsuite name=\"{}\" tests=\"{}\" failures=\"{}\" errors=\"0\">\n", name,
               suite.cases.size(), suite.failures);
    for (const ViewEntry* view : suite.cases) {
      fmt::print(out, "    <testcase name=\"{}\" classname=\"{}\"", markupText(*view->uuid), name);
      if (view->verdict.passed) {
        fmt::print(out, "/>\n");
        continue;
      }
      const std::string context = requestContext(inputs, *view);
      fmt::print(
          out,
          ">\n      <failure message=\"{}\" type=\"{}\">subject {}, object {}{}{}</failure>\n"
          "    </testcase>\n",
          markupText(summary.baseline ? changeText(*view) + ": " + failureReason(inputs, *view)
                                      : failureReason(inputs, *view)),
          reasonName(view->verdict.reason), markupText(view->entry->subject_label),
          markupText(view->entry->object_label), context.empty() ? "" : "; ", markupText(context));
    }
    fmt::print(out, "  </testsuite>\n");
  }
  fmt::print(out, "</testsuites>\n");
}

}  // namespace tav_view
