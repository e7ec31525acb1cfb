#include "view/outputs.h"

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "view/output_file.h"
#include "view/reports.h"

namespace tav_view {

bool writeOutputs(const Options& options, const Inputs& inputs,
                  const std::vector<ViewEntry>& entries, const Summary& summary) {
  using Writer = std::function<void(std::FILE*)>;
  const std::pair<const std::string*, Writer> outputs[] = {
      {&options.junit, [&](std::FILE* out) { writeJunit(out, inputs, entries, summary); }},
      {&options.html, [&](std::FILE* out) { writeHtml(out, inputs, summary); }},
      {&options.json, [&](std::FILE* out) { writeJson(out, inputs, entries, summary); }},
  };
  std::vector<std::unique_ptr<OutputFile>> files;
  for (const auto& [path, write] : outputs) {
    if (path->empty()) continue;
    files.push_back(std::make_unique<OutputFile>(*path));
    OutputFile& file = *files.back();
    if (!file.open()) return false;
    write(file.stream());
    if (!file.close()) return false;
  }
  for (const std::unique_ptr<OutputFile>& file : files) {
    if (!file->commit()) return false;
  }
  return true;
}

bool useColour() {
  return ::isatty(STDOUT_FILENO) == 1 && std::getenv("NO_COLOR") == nullptr;
}

}  // namespace tav_view
