// The metadata and responses loader on arbitrary bytes, followed by every decision and the
// report text, as tav-rep runs them. The input is the metadata, a NUL byte, then the responses
// (a NUL is a parse error in either file, so the split hides no case). Besides not crashing:
// the loader, which takes entries while the parser runs, builds the same table as a plain
// parse-then-walk of both files; only identifiers of the table fail; the report serializes.
#include <nlohmann/json.hpp>

#include <cstring>
#include <string>

#include "common/json_document.h"
#include "rep/check_entry.h"
#include "rep/check_table.h"
#include "rep/json_fields.h"
#include "rep/label_cache.h"
#include "rep/report.h"
#include "rep/report_config.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using nlohmann::json;
using tav_rep::CheckTable;
using tav_rep::entryMember;
using tav_rep::takeString;

// The table the data files describe, built the simplest way: whole documents, then their
// entries (array elements, object member values, nothing for null, else the value itself).
CheckTable referenceTable(const std::string& metadataText, const std::string& responsesText) {
  CheckTable table;
  try {
    json metadata = tav::parseJsonText(metadataText);
    json responses = tav::parseJsonText(responsesText);
    for (json& entry : metadata) {
      std::string uuid = takeString(entryMember(entry, "uuid"));
      std::string object = takeString(entryMember(entry, "object_label"));
      std::string subject = takeString(entryMember(entry, "subject_label"));
      std::string min = takeString(entryMember(entry, "min_mac_label"));
      std::string max = takeString(entryMember(entry, "max_mac_label"));
      const bool ignore = entryMember(entry, "expect_ignore_mac_label").get<bool>();
      auto& target = table[uuid];
      target.object_label = object;
      target.subject_label = subject;
      target.min_mac_label = min;
      target.max_mac_label = max;
      target.expect_ignore_mac_label = ignore;
    }
    for (json& entry : responses) {
      std::string uuid = takeString(entryMember(entry, "uuid"));
      const std::int64_t code = tav_rep::toCode(entryMember(entry, "code"));
      std::string body = takeString(entryMember(entry, "body"));
      auto& target = table[uuid];
      target.code = code;
      target.body = body;
    }
  } catch (const json::exception&) {
    return {};
  }
  return table;
}

bool sameEntry(const tav_rep::CheckEntry& a, const tav_rep::CheckEntry& b) {
  return a.object_label == b.object_label && a.subject_label == b.subject_label &&
         a.min_mac_label == b.min_mac_label && a.max_mac_label == b.max_mac_label &&
         a.body == b.body && a.code == b.code &&
         a.expect_ignore_mac_label == b.expect_ignore_mac_label;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tav_test::MemFile metadata("metadata");
  static tav_test::MemFile responses("responses");
  const auto* bytes = reinterpret_cast<const char*>(data);
  const auto* split = static_cast<const char*>(std::memchr(bytes, 0, size));
  const std::string metadataText =
      split == nullptr ? std::string(bytes, size) : std::string(bytes, split);
  const std::string responsesText =
      split == nullptr ? std::string("[]") : std::string(split + 1, bytes + size);
  metadata.write(metadataText);
  responses.write(responsesText);

  const CheckTable table = tav_rep::loadData(metadata.path(), responses.path());
  const CheckTable reference = referenceTable(metadataText, responsesText);
  if (table.size() != reference.size()) tav_test::fail("the loader's table has another size");
  for (const auto& [uuid, entry] : reference) {
    const auto found = table.find(uuid);
    if (found == table.end() || !sameEntry(found->second, entry)) {
      tav_test::fail("the loader's table has another entry");
    }
  }
  if (table.empty()) return 0;

  tav_rep::ReportConfig config;
  config.check_body = true;
  config.body_template = "level {subj_mac_lev} {obj_mac_cat:#x}";
  config.allowed_codes = {200, 201};
  config.denied_codes = {403};
  tav_rep::Report report;
  report.total_count = table.size();
  tav_rep::LabelCache labels;
  for (const auto& [uuid, entry] : table) tav_rep::checkEntry(uuid, entry, config, labels, report);
  for (const std::string& uuid : report.failed_uuids) {
    if (!table.contains(uuid)) tav_test::fail("a failed identifier is not in the table");
  }
  // The report is written with the strict serializer; it must never refuse the text.
  const std::string text = tav_rep::reportToJson(report).dump(2);
  if (text.empty()) tav_test::fail("empty report text");
  return 0;
}
