#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "req/task.h"
#include "view/baseline.h"
#include "view/reports.h"

namespace tav_view {

namespace {

// A JSON string; invalid UTF-8 replaced, as the JSON library does it.
std::string jsonString(std::string_view text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

// Written entry by entry: a document of a million verdicts is never built in memory.
void writeJson(std::FILE* out, const Inputs& inputs, const std::vector<ViewEntry>& entries,
               const Summary& summary) {
  fmt::print(out, "{{\n  \"total_count\": {},\n  \"failed_count\": {},\n  \"verdicts\": [",
             summary.total, summary.failed);
  bool first = true;
  for (const ViewEntry& view : entries) {
    const tav_rep::CheckEntry& e = *view.entry;
    fmt::print(out,
               "{}\n    {{\"uuid\": {}, \"passed\": {}, \"predicted\": \"{}\", \"reason\": \"{}\", "
               "\"why\": {}, \"code\": {}, \"code_verdict\": {}, \"subject_label\": {}, "
               "\"object_label\": {}",
               first ? "" : ",", jsonString(*view.uuid), view.verdict.passed,
               predictionName(view.verdict.predicted), reasonName(view.verdict.reason),
               jsonString(whyPredicted(view)), e.code, jsonString(codeVerdict(view, inputs.config)),
               jsonString(e.subject_label), jsonString(e.object_label));
    if (e.write) fmt::print(out, ", \"access\": \"write\"");
    if (summary.baseline) fmt::print(out, ", \"baseline\": \"{}\"", changeName(view.change));
    if (view.lostAnswer) fmt::print(out, ", \"lost_answer\": true");
    if (view.request) {
      const TaskGroup& group = inputs.groups[view.request->group];
      fmt::print(out, ", \"user\": {}, \"url\": {}, \"auth_type\": {}", jsonString(group.user),
                 jsonString(view.request->url), jsonString(group.auth_type));
      // A probe's PUT and DELETE share their URL; a GET's verdict stays as it always was.
      if (view.request->method != tav_req::RequestMethod::get) {
        fmt::print(out, ", \"method\": \"{}\"", tav_req::methodName(view.request->method));
      }
    }
    fmt::print(out, "}}");
    first = false;
  }
  fmt::print(out, "\n  ]");
  if (const Baseline* baseline = summary.baseline) {
    const BaselineCounts& c = baseline->counts;
    fmt::print(out,
               ",\n  \"baseline\": {{\"file\": {}, \"every_request\": {}, \"counts\": "
               "{{\"new_failures\": {}, \"fixed\": {}, \"still_failing\": {}, \"new\": {}, "
               "\"gone\": {}, \"lost_answers\": {}}},\n    \"gone\": [",
               jsonString(baseline->file), baseline->everyRequest, c.newFailures, c.fixed,
               c.stillFailing, c.added, c.gone, c.lostAnswers);
    for (std::size_t i = 0; i < baseline->gone.size(); ++i) {
      fmt::print(out, "{}{}", i == 0 ? "" : ", ", jsonString(baseline->gone[i]));
    }
    fmt::print(out, "]}}");
  }
  fmt::print(out, "\n}}\n");
}

}  // namespace tav_view
