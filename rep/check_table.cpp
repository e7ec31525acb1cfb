#include "rep/check_table.h"

#include <nlohmann/json.hpp>

#include <exception>

#include "common/json_document.h"
#include "common/progress_line.h"
#include "rep/json_fields.h"

namespace tav_rep {

using nlohmann::json;

namespace {

// Takes over one metadata entry; the table's element it went into.
CheckTable::value_type& takeMetadataEntry(json& entry, CheckTable& table) {
  std::string uuid = takeString(entryMember(entry, "uuid"));
  std::string objectLabel = takeString(entryMember(entry, "object_label"));
  std::string subjectLabel = takeString(entryMember(entry, "subject_label"));
  std::string minLabel = takeString(entryMember(entry, "min_mac_label"));
  std::string maxLabel = takeString(entryMember(entry, "max_mac_label"));
  const bool expectIgnore = entryMember(entry, "expect_ignore_mac_label").get<bool>();
  const auto access = entry.find("access");
  const bool write = access != entry.end() && toWriteAccess(*access);
  CheckTable::value_type& element = *table.try_emplace(std::move(uuid)).first;
  CheckEntry& target = element.second;
  target.object_label = std::move(objectLabel);
  target.subject_label = std::move(subjectLabel);
  target.min_mac_label = std::move(minLabel);
  target.max_mac_label = std::move(maxLabel);
  target.expect_ignore_mac_label = expectIgnore;
  target.write = write;
  return element;
}

void takeResponseEntry(json& entry, CheckTable& table) {
  std::string uuid = takeString(entryMember(entry, "uuid"));
  const std::int64_t code = toCode(entryMember(entry, "code"));
  std::string body = takeString(entryMember(entry, "body"));
  CheckEntry& target = table[std::move(uuid)];
  target.code = code;
  target.body = std::move(body);
}

// Parses one data file and takes over its entries in file order: the elements of a top-level
// array as the parser completes each one, which is then dropped, so the whole tree of a large
// file never exists at once; the member values of an object, nothing for null, the value
// itself otherwise. The first conversion failure stops the taking but not the parsing and is
// kept in `failure`: a parse error, of this file or the next, is still the one reported.
template <typename TakeEntry>
void takeEntries(const std::filesystem::path& path, TakeEntry take, CheckTable& table,
                 std::exception_ptr& failure) {
  tav::progressPhase("reading " + path.string(), "entry", "entries");
  const auto takeOne = [&](json& entry) {
    tav::progressAdd();
    if (failure) return;
    try {
      take(entry, table);
    } catch (const json::exception&) {
      failure = std::current_exception();
    }
  };
  bool streamed = false;
  json document = tav::parseJsonText(
      tav::readWholeFile(path), [&](int depth, json::parse_event_t event, json& parsed) {
        if (depth == 0 && event == json::parse_event_t::array_start) streamed = true;
        if (!streamed || depth != 1 || event == json::parse_event_t::object_start ||
            event == json::parse_event_t::array_start || event == json::parse_event_t::key) {
          return true;
        }
        takeOne(parsed);
        return false;
      });
  if (!streamed) {
    for (json& entry : document) takeOne(entry);
  }
}

}  // namespace

CheckTable loadData(const std::filesystem::path& metadataPath,
                    const std::filesystem::path& responsesPath) {
  std::filesystem::path failedPath;
  return loadData(metadataPath, responsesPath, failedPath);
}

CheckTable loadData(const std::filesystem::path& metadataPath,
                    const std::filesystem::path& responsesPath, std::filesystem::path& failedPath) {
  CheckTable table;
  std::exception_ptr failure;
  std::filesystem::path failureFile;
  const auto takeFile = [&](const std::filesystem::path& path, auto take) {
    failedPath = path;
    const bool failedBefore = static_cast<bool>(failure);
    takeEntries(path, take, table, failure);
    if (failure && !failedBefore) failureFile = path;
  };
  try {
    takeFile(metadataPath, takeMetadataEntry);
    takeFile(responsesPath, takeResponseEntry);
    if (failure) {
      failedPath = failureFile;
      std::rethrow_exception(failure);
    }
  } catch (const json::exception& error) {
    tav::logJsonFailure("Failed to parse data", error);
    return {};
  }
  failedPath.clear();
  return table;
}

CheckTable loadMetadata(const std::filesystem::path& metadataPath,
                        const MetadataObserver& observe) {
  CheckTable table;
  try {
    std::exception_ptr failure;
    takeEntries(
        metadataPath,
        [&](json& entry, CheckTable& target) {
          const CheckTable::value_type& element = takeMetadataEntry(entry, target);
          if (observe) observe(element);
        },
        table, failure);
    if (failure) std::rethrow_exception(failure);
  } catch (const json::exception& error) {
    tav::logJsonFailure("Failed to parse data", error);
    return {};
  }
  return table;
}

}  // namespace tav_rep
