// The suite description reader on arbitrary bytes, and gen on every description it takes.
// Besides not crashing: a refusal names a reason; an accepted description has HTTP status codes
// only, and its generated suite loads as tav-req and tav-rep load it: one task per user label,
// each task's label read as the description means it, one metadata entry per request.
#include <nlohmann/json.hpp>

#include <string>

#include "common/mac_label_text.h"
#include "rep/check_table.h"
#include "req/task.h"
#include "suite/description.h"
#include "suite/gen.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool httpCodes(const nlohmann::json& codes) {
  for (const nlohmann::json& code : codes) {
    if (!code.is_number_integer() || code.get<std::int64_t>() < 100 ||
        code.get<std::int64_t>() > 599) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tav_test::MemFile tasksFile("tasks");
  static tav_test::MemFile metadataFile("metadata");
  const std::string text(reinterpret_cast<const char*>(data), size);
  const nlohmann::json document = nlohmann::json::parse(text, nullptr, false, false);
  if (document.is_discarded()) return 0;
  const tav_suite::DescriptionRead read = tav_suite::readDescription(document);
  if (!read.description) {
    if (read.why.empty()) tav_test::fail("a description refused without a reason");
    return 0;
  }
  const tav_suite::Description& description = *read.description;
  if (!httpCodes(description.config["allowed_codes"]) ||
      !httpCodes(description.config["denied_codes"])) {
    tav_test::fail("a code outside 100 to 599 accepted");
  }
  const std::optional<tav_suite::GeneratedSuite> suite =
      tav_suite::generateSuite(description, "fuzz.json");
  if (!suite) return 0;  // two requests with one uuid, reported

  tasksFile.write(suite->tasks);
  const std::vector<tav_req::Task> tasks = tav_req::loadTasks(tasksFile.path());
  std::size_t t = 0;
  std::size_t requests = 0;
  for (const tav_suite::UserSpec& user : description.users) {
    for (const std::string& label : user.labels) {
      if (t >= tasks.size()) tav_test::fail("the tasks file lacks a user label's task");
      const tav::MacLabel meant = *tav::parsePlainMacLabel(label).label;
      if (tasks[t].user.macLevel != meant.level ||
          tasks[t].user.macCategories != meant.categories) {
        tav_test::fail("tav-req reads a task's label as another than the description's");
      }
      requests += tasks[t].requests.size();
      ++t;
    }
  }
  if (t != tasks.size()) tav_test::fail("not one task per user label");

  metadataFile.write(suite->metadata);
  const tav_rep::CheckTable metadata = tav_rep::loadMetadata(metadataFile.path());
  if (metadata.size() != requests) tav_test::fail("not one metadata entry per request");
  return 0;
}
