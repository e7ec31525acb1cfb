#include "view/outputs.h"

#include <unistd.h>

#include <cstdlib>

#include "common/output_set.h"
#include "common/progress_line.h"
#include "view/reports.h"

namespace tav_view {

bool writeOutputs(const Options& options, const Inputs& inputs,
                  const std::vector<ViewEntry>& entries, const Summary& summary) {
  tav::OutputSet outputs(reportInputError);
  tav::progressWriting({options.junit, options.html, options.json});
  for (const std::string* input : {&options.metadata, &options.responses, &options.config,
                                   &options.tasks, &options.baseline}) {
    if (!input->empty()) outputs.addInput(*input);
  }
  if (!options.junit.empty()) {
    outputs.add(options.junit, [&](std::FILE* out) { writeJunit(out, inputs, entries, summary); });
  }
  if (!options.html.empty()) {
    outputs.add(options.html, [&](std::FILE* out) { writeHtml(out, inputs, summary); });
  }
  if (!options.json.empty()) {
    outputs.add(options.json, [&](std::FILE* out) { writeJson(out, inputs, entries, summary); });
  }
  return outputs.commit();
}

bool useColour() {
  // An empty NO_COLOR counts as not set, as the convention has it.
  const char* noColour = std::getenv("NO_COLOR");
  return ::isatty(STDOUT_FILENO) == 1 && !tav::dumbTerminal() &&
         (noColour == nullptr || *noColour == '\0');
}

}  // namespace tav_view
