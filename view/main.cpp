// tav-view: explains the verdict on every recorded answer, as tav-rep decides it, on the
// terminal and in the JUnit, HTML and JSON files asked for. Exit status 0 when every request
// passed, 1 when some failed, 2 when an input or output cannot be used.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "common/log_capture.h"
#include "common/progress_line.h"
#include "view/baseline.h"
#include "view/inputs.h"
#include "view/options.h"
#include "view/outputs.h"
#include "view/summary.h"
#include "view/verdicts.h"

int main(int argc, char** argv) {
  constexpr int kUnusable = 2;
  const tav_view::Options options = tav_view::readCommandLine(argc, argv);
  // --quiet asks for the totals line alone.
  if (!options.quiet) tav::startProgress(tav::ProgressStart::afterASecond);
  try {
    // The loaders report through spdlog; their lines become the reason on standard error.
    tav::LogCapture capture(spdlog::level::critical);
    const std::optional<tav_view::Inputs> inputs = tav_view::loadInputs(options, capture);
    if (!inputs) return kUnusable;
    std::vector<tav_view::ViewEntry> entries = tav_view::decideAll(*inputs);
    std::optional<tav_view::Baseline> baseline;
    if (!options.baseline.empty()) {
      baseline = tav_view::compareWithBaseline(options.baseline, *inputs, entries);
      if (!baseline) return kUnusable;
    }
    const tav_view::Summary summary =
        tav_view::summarize(*inputs, entries, baseline ? &*baseline : nullptr);
    if (!tav_view::writeOutputs(options, *inputs, entries, summary)) return kUnusable;
    tav::stopProgress();
    tav_view::printSummary(stdout, *inputs, summary, options.quiet, tav_view::useColour());
    // The summary's last part is still in the buffer: a full disk or a closed descriptor shows
    // only now, and a summary that never arrived is no verdict.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      std::fprintf(stderr, "tav-view: standard output: cannot write: %s\n", std::strerror(errno));
      return kUnusable;
    }
    if (options.failOnNew) {
      // Without a baseline every failure is new.
      if (!baseline) return summary.failed == 0 ? 0 : 1;
      return baseline->counts.newFailures + baseline->counts.lostAnswers == 0 ? 0 : 1;
    }
    return summary.failed == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    // Only resource exhaustion gets here; the run still ends with a reason.
    tav::stopProgress();
    std::fprintf(stderr, "tav-view: stopped: %s\n", error.what());
    return kUnusable;
  }
}
