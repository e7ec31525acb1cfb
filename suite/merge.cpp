#include "suite/merge.h"

#include <fmt/format.h>

#include <filesystem>
#include <system_error>
#include <unordered_map>

#include "common/input_file.h"
#include "common/output_set.h"
#include "common/progress_line.h"
#include "rep/entry_fault.h"
#include "suite/report_line.h"
#include "suite/suite_files.h"

namespace tav_suite {

using nlohmann::json;

ShardAnswers readShardAnswers(json document) {
  ShardAnswers answers;
  // tav-req writes null for a run without answers.
  if (document.is_null()) return answers;
  std::string lookalike = tav::lookalikeReason(document, tav::SuiteFile::responses);
  if (!document.is_array()) {
    answers.problem =
        !lookalike.empty()
            ? std::move(lookalike)
            : fmt::format("the top level is {}, not an array of answers", document.type_name());
    return answers;
  }
  // Joined unchecked, an entry tav-rep refuses would make the whole merged file unusable.
  if (std::optional<std::string> fault = tav_rep::responsesFault(document)) {
    answers.problem = !lookalike.empty() ? std::move(lookalike)
                                         : fmt::format("{}; tav-rep would refuse it", *fault);
    return answers;
  }
  answers.entries = std::move(document);
  return answers;
}

int runMerge(const MergeOptions& options) {
  // The join of only runs without answers is null as well.
  json merged;
  std::unordered_map<std::string, std::size_t> inputOf;  // uuid -> index of its input
  for (std::size_t i = 0; i < options.inputs.size(); ++i) {
    const std::string& path = options.inputs[i];
    // One shard named twice would otherwise read as every request having run on two shards.
    for (std::size_t earlier = 0; earlier < i; ++earlier) {
      std::error_code error;
      if (std::filesystem::equivalent(options.inputs[earlier], path, error)) {
        reportFileError(path, fmt::format("is given twice (as {} too); name each shard's "
                                          "responses file once",
                                          options.inputs[earlier]));
        return 2;
      }
    }
    tav::progressPhase("joining " + path, "answer", "answers");
    tav::InputDocument input = tav::readInputDocument(path);
    if (!input.document) {
      reportFileError(path, input.problem);
      return 2;
    }
    ShardAnswers answers = readShardAnswers(std::move(*input.document));
    if (!answers.problem.empty()) {
      reportFileError(path, answers.problem);
      return 2;
    }
    if (answers.entries.is_null()) continue;
    for (std::size_t k = 0; k < answers.entries.size(); ++k) {
      json& entry = answers.entries[k];
      // A failed transfer answers with an empty uuid; those stay, however many there are.
      const std::string& uuid = entry["uuid"].get_ref<const std::string&>();
      if (!uuid.empty()) {
        const auto [found, fresh] = inputOf.emplace(uuid, i);
        if (!fresh && found->second != i) {
          reportFileError(path, fmt::format("[{}]: uuid \"{}\" is answered in {} as well; a "
                                            "request ran on two shards",
                                            k, uuid, options.inputs[found->second]));
          return 2;
        }
      }
      merged.push_back(std::move(entry));
      tav::progressAdd();
    }
  }
  tav::progressWriting({options.output});
  tav::OutputSet files(reportFileError);
  for (const std::string& input : options.inputs) files.addInput(input);
  files.add(options.output, documentText(merged));
  return files.commit() ? 0 : 1;
}

}  // namespace tav_suite
