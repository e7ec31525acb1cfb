#include <fmt/format.h>

#include "common/words.h"
#include "view/baseline.h"
#include "view/reports.h"
#include "view/text.h"

namespace tav_view {

namespace {

constexpr std::size_t kBodyBytes = 300;

// Styles only; the page loads nothing and runs no script.
constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.6em; vertical-align: top; }
td.all { background: #b9e4b0; }
td.some { background: #f6d38a; }
td.none { background: #f2a3a3; }
td.empty { background: #eee; }
td.worse { outline: 3px solid #600; outline-offset: -3px; font-weight: bold; }
td.regression { color: #a00; font-weight: bold; }
.matrix td { text-align: center; font-family: monospace; }
pre { white-space: pre-wrap; word-break: break-all; margin: 0; max-width: 40em; }
.failed { color: #a00; }
)";

// The cell's colour: every request passed, some did, or none.
const char* cellClass(const Cell& cell) {
  if (cell.passed == cell.total) return "all";
  return cell.passed == 0 ? "none" : "some";
}

// The failure's change against the baseline, a regression marked; nothing without one.
std::string changeCell(const Summary& summary, const ViewEntry& view) {
  if (!summary.baseline) return {};
  return fmt::format("<td class=\"change{}\">{}</td>", isRegression(view) ? " regression" : "",
                     changeText(view));
}

std::string labelCell(std::string_view label) {
  return label.empty() ? "(none)" : markupText(label);
}

void writeMatrix(std::FILE* out, const Summary& summary,
                 const std::map<std::pair<std::string_view, std::string_view>, Cell>& matrix,
                 const char* id) {
  fmt::print(out, "<table class=\"matrix\" id=\"{}\">\n<tr><th>subject \\ object</th>", id);
  for (const std::string_view object : summary.objects) {
    fmt::print(out, "<th>{}</th>", labelCell(object));
  }
  fmt::print(out, "</tr>\n");
  for (const std::string_view subject : summary.subjects) {
    fmt::print(out, "<tr><th>{}</th>", labelCell(subject));
    for (const std::string_view object : summary.objects) {
      const auto found = matrix.find({subject, object});
      if (found == matrix.end()) {
        fmt::print(out, "<td class=\"empty\"></td>");
        continue;
      }
      const Cell& cell = found->second;
      fmt::print(out, "<td class=\"{}{}\">{}/{}</td>", cellClass(cell),
                 cell.regressions > 0 ? " worse" : "", cell.passed, cell.total);
    }
    fmt::print(out, "</tr>\n");
  }
  fmt::print(out, "</table>\n");
}

}  // namespace

void writeHtml(std::FILE* out, const Inputs& inputs, const Summary& summary) {
  fmt::print(out,
             "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
             "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
             "style-src 'unsafe-inline'\">\n"
             "<title>tav report: {} failed of {}</title>\n<style>{}</style></head>\n<body>\n",
             summary.failed, summary.total, kStyle);
  fmt::print(out, "<h1>tav report</h1>\n");
  fmt::print(out,
             "<p id=\"totals\">requests <span id=\"total\">{}</span>, passed <span "
             "id=\"passed\">{}</span>, failed <span id=\"failed\" class=\"failed\">{}</span></p>\n",
             summary.total, summary.total - summary.failed, summary.failed);
  if (const Baseline* baseline = summary.baseline) {
    const BaselineCounts& c = baseline->counts;
    fmt::print(out,
               "<p id=\"baseline\">against baseline <span id=\"baseline-file\">{}</span>: new "
               "failures <span id=\"new-failures\" class=\"failed\">{}</span>, fixed <span "
               "id=\"fixed\">{}</span>, still failing <span id=\"still-failing\">{}</span> "
               "(lost their answer: <span id=\"lost-answers\">{}</span>), new <span "
               "id=\"new\">{}</span>, gone <span id=\"gone\">{}</span>{}</p>\n",
               markupText(baseline->file), c.newFailures, c.fixed, c.stillFailing, c.lostAnswers,
               c.added, c.gone,
               baseline->everyRequest ? ""
                                      : "; a report.json names only failures, so a request it "
                                        "does not name counts as passed there");
  }

  const char* outlined =
      summary.baseline ? "; an outlined cell holds a new failure or a lost answer" : "";
  if (summary.write_matrix.empty() || !summary.matrix.empty()) {
    fmt::print(out,
               "<h2>Subject by object</h2>\n<p>passed/total per subject label (rows) and object "
               "label (columns){}{}</p>\n",
               summary.write_matrix.empty() ? "" : ", reads", outlined);
    writeMatrix(out, summary, summary.matrix, "matrix");
  }
  if (!summary.write_matrix.empty()) {
    fmt::print(out,
               "<h2>Subject by object, writes</h2>\n<p>passed/total of the writes per subject "
               "label (rows) and object label (columns){}</p>\n",
               outlined);
    writeMatrix(out, summary, summary.write_matrix, "write-matrix");
  }

  if (!summary.hints.empty()) {
    fmt::print(out, "<h2>Hints</h2>\n<ul id=\"hints\">\n");
    for (const std::string& hint : summary.hints)
      fmt::print(out, "<li>{}</li>\n", markupText(hint));
    fmt::print(out, "</ul>\n");
  }

  fmt::print(out, "<h2>Failures</h2>\n");
  if (summary.failures.empty()) fmt::print(out, "<p>none</p>\n");
  if (!summary.failures.empty()) {
    fmt::print(out,
               "<table id=\"failures\">\n<tr><th>uuid</th>{}<th>request</th><th>subject</th>"
               "<th>object</th><th>predicted</th><th>recorded</th><th>body (first {} "
               "bytes)</th></tr>\n",
               summary.baseline ? "<th>against baseline</th>" : "", kBodyBytes);
  }
  std::size_t listed = 0;
  for (const ViewEntry* view : summary.failures) {
    if (listed == kHtmlFailureLimit) break;
    ++listed;
    const tav_rep::CheckEntry& e = *view->entry;
    fmt::print(out,
               "<tr class=\"failure\"><td>{}</td>{}<td>{}</td><td>{}</td><td>{}</td>"
               "<td>{}: {}</td><td>{}: {}</td><td><pre>{}</pre></td></tr>\n",
               markupText(*view->uuid), changeCell(summary, *view),
               markupText(requestContext(inputs, *view)), labelCell(e.subject_label),
               labelCell(e.object_label), predictionName(view->verdict.predicted),
               markupText(whyPredicted(*view)), e.code,
               markupText(codeVerdict(*view, inputs.config)),
               markupText(firstBytes(e.body, kBodyBytes)));
  }
  if (!summary.failures.empty()) fmt::print(out, "</table>\n");
  if (summary.failures.size() > listed) {
    fmt::print(
        out, "<p id=\"more\">{} not listed</p>\n",
        tav::counted(summary.failures.size() - listed, "more failure is", "more failures are"));
  }
  fmt::print(out, "</body></html>\n");
}

}  // namespace tav_view
