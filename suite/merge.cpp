#include "suite/merge.h"

#include <fmt/format.h>

#include <iostream>
#include <unordered_map>

#include "common/json_document.h"
#include "common/output_set.h"
#include "suite/suite_files.h"

namespace tav_suite {

namespace {

using nlohmann::json;

void reportInput(const std::string& path, const std::string& why) {
  std::cerr << fmt::format("error: {}: {}", path, why) << std::endl;
}

}  // namespace

int runMerge(const MergeOptions& options) {
  // tav-req writes null for a run without answers; the join of only such runs is null as well.
  json merged;
  std::unordered_map<std::string, std::size_t> inputOf;  // uuid -> index of its input
  for (std::size_t i = 0; i < options.inputs.size(); ++i) {
    const std::string& path = options.inputs[i];
    json document;
    try {
      document = tav::parseJsonText(tav::readWholeFile(path));
    } catch (const json::parse_error& error) {
      reportInput(path, fmt::format("not a responses file: {}", error.what()));
      return 2;
    }
    if (document.is_null()) continue;
    if (!document.is_array()) {
      reportInput(path, fmt::format("not a responses file: the top level is {}, not an array",
                                    document.type_name()));
      return 2;
    }
    for (std::size_t k = 0; k < document.size(); ++k) {
      json& entry = document[k];
      if (!entry.is_object() || !entry.contains("uuid") || !entry["uuid"].is_string()) {
        reportInput(path, fmt::format("[{}]: an answer without a text uuid", k));
        return 2;
      }
      // A failed transfer answers with an empty uuid; those stay, however many there are.
      const std::string& uuid = entry["uuid"].get_ref<const std::string&>();
      if (!uuid.empty()) {
        const auto [found, fresh] = inputOf.emplace(uuid, i);
        if (!fresh && found->second != i) {
          reportInput(path, fmt::format("[{}]: uuid \"{}\" is answered in {} as well; a request "
                                        "ran on two shards",
                                        k, uuid, options.inputs[found->second]));
          return 2;
        }
      }
      merged.push_back(std::move(entry));
    }
  }
  tav::OutputSet files(reportFileError);
  for (const std::string& input : options.inputs) files.addInput(input);
  files.add(options.output, documentText(merged));
  return files.commit() ? 0 : 1;
}

}  // namespace tav_suite
