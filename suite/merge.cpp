#include "suite/merge.h"

#include <fmt/format.h>

#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

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

namespace {

// A responses file read as tav-rep loads it; nothing after saying why it cannot be.
std::optional<json> answersOf(const std::string& path) {
  tav::InputDocument input = tav::readInputDocument(path, true);
  if (!input.document) {
    reportFileError(path, input.problem);
    return std::nullopt;
  }
  ShardAnswers answers = readShardAnswers(std::move(*input.document));
  if (!answers.problem.empty()) {
    reportFileError(path, answers.problem);
    return std::nullopt;
  }
  return std::move(answers.entries);
}

const std::string& uuidOf(const json& entry) {
  return entry.at("uuid").get_ref<const std::string&>();
}

// BASE in its order, each answer the fresh ones have replaced in place by theirs (a uuid BASE
// has twice, at its first place only), then the fresh answers of ids BASE lacks and their
// empty-id entries, in their order. BASE's own empty-id entries are left out: they belong to
// requests that failed, which the fresh run sent again.
json answersOver(json& base, json& fresh) {
  std::unordered_map<std::string, std::vector<std::size_t>> freshOf;
  for (std::size_t k = 0; k < fresh.size(); ++k) {
    const std::string& uuid = uuidOf(fresh[k]);
    if (!uuid.empty()) freshOf[uuid].push_back(k);
  }
  std::vector<bool> placed(fresh.size(), false);
  json merged = json::array();
  for (json& entry : base) {
    const std::string& uuid = uuidOf(entry);
    if (uuid.empty()) continue;
    const auto found = freshOf.find(uuid);
    if (found == freshOf.end()) {
      merged.push_back(std::move(entry));
      continue;
    }
    for (const std::size_t k : found->second) {
      if (placed[k]) continue;
      merged.push_back(std::move(fresh[k]));
      placed[k] = true;
    }
  }
  for (std::size_t k = 0; k < fresh.size(); ++k) {
    if (!placed[k]) merged.push_back(std::move(fresh[k]));
  }
  return merged;
}

}  // namespace

int runMerge(const MergeOptions& options) {
  std::optional<json> base;
  if (!options.over.empty()) {
    tav::progressPhase("reading " + options.over);
    base = answersOf(options.over);
    if (!base) return 2;
  }
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
    std::optional<json> answers = answersOf(path);
    if (!answers) return 2;
    if (answers->is_null()) continue;
    for (std::size_t k = 0; k < answers->size(); ++k) {
      json& entry = (*answers)[k];
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
  if (base && !base->is_null()) {
    tav::progressPhase("replacing the answers of " + options.over);
    if (merged.is_null()) merged = json::array();
    merged = answersOver(*base, merged);
  }
  tav::progressWriting({options.output});
  tav::OutputSet files(reportFileError);
  if (!options.over.empty()) files.addInput(options.over);
  for (const std::string& input : options.inputs) files.addInput(input);
  files.add(options.output, documentText(merged));
  return files.commit() ? 0 : 1;
}

}  // namespace tav_suite
