#include "check_table.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "json_document.h"
#include "json_fields.h"

namespace tav_rep {

using nlohmann::json;

namespace {

// The entries of a top-level value: the elements of an array, the member values of an object,
// nothing for null, the value itself otherwise. The library's own iteration does exactly this.
std::size_t entryCount(const json& document) {
  return document.is_null() ? 0 : (document.is_structured() ? document.size() : 1);
}

void takeMetadata(json& document, CheckTable& table) {
  for (json& entry : document) {
    std::string uuid = takeString(entryMember(entry, "uuid"));
    std::string objectLabel = takeString(entryMember(entry, "object_label"));
    std::string subjectLabel = takeString(entryMember(entry, "subject_label"));
    std::string minLabel = takeString(entryMember(entry, "min_mac_label"));
    std::string maxLabel = takeString(entryMember(entry, "max_mac_label"));
    const bool expectIgnore = entryMember(entry, "expect_ignore_mac_label").get<bool>();
    CheckEntry& target = table[std::move(uuid)];
    target.object_label = std::move(objectLabel);
    target.subject_label = std::move(subjectLabel);
    target.min_mac_label = std::move(minLabel);
    target.max_mac_label = std::move(maxLabel);
    target.expect_ignore_mac_label = expectIgnore;
  }
}

void takeResponses(json& document, CheckTable& table) {
  for (json& entry : document) {
    std::string uuid = takeString(entryMember(entry, "uuid"));
    const std::int64_t code = toCode(entryMember(entry, "code"));
    std::string body = takeString(entryMember(entry, "body"));
    CheckEntry& target = table[std::move(uuid)];
    target.code = code;
    target.body = std::move(body);
  }
}

}  // namespace

CheckTable loadData(const std::filesystem::path& metadataPath,
                    const std::filesystem::path& responsesPath) {
  CheckTable table;
  try {
    json metadata = tav::parseJsonText(tav::readWholeFile(metadataPath));
    json responses = tav::parseJsonText(tav::readWholeFile(responsesPath));
    // Usually both files name the same requests, so the larger one sizes the table.
    table.reserve(std::max(entryCount(metadata), entryCount(responses)));
    takeMetadata(metadata, table);
    metadata = nullptr;
    takeResponses(responses, table);
  } catch (const json::exception& error) {
    tav::logJsonFailure("Failed to parse data", error);
    return {};
  }
  return table;
}

}  // namespace tav_rep
