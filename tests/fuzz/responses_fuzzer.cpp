// tav-suite merge's reader of a shard's answers on arbitrary bytes, against tav-rep's loader on
// the same file. Besides not crashing: merge takes a file only when tav-rep takes it, takes every
// array (or null) that tav-rep takes, and names a reason for every file it refuses.
#include <nlohmann/json.hpp>

#include <string>

#include "common/input_file.h"
#include "common/log_capture.h"
#include "rep/check_table.h"
#include "suite/merge.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tav_test::MemFile metadata("metadata");
  static tav_test::MemFile responses("responses");
  // tav-rep's loader reports a refusal at critical level; that is how it is told from [].
  static tav::LogCapture capture(spdlog::level::critical);
  static bool once = [] {
    metadata.write(std::string("null"));
    return true;
  }();
  static_cast<void>(once);
  responses.write(data, size);
  tav_rep::loadData(metadata.path(), responses.path());
  const bool repTakes = capture.take().empty();

  tav::InputDocument input = tav::readInputDocument(responses.path());
  if (!input.document) {
    if (input.problem.empty()) tav_test::fail("an unreadable file without a reason");
    if (repTakes) tav_test::fail("merge cannot parse a file tav-rep takes");
    return 0;
  }
  const bool arrayOrNull = input.document->is_array() || input.document->is_null();
  const tav_suite::ShardAnswers answers = tav_suite::readShardAnswers(std::move(*input.document));
  const bool mergeTakes = answers.problem.empty();
  if (mergeTakes && !repTakes) tav_test::fail("merge takes answers tav-rep refuses");
  if (!mergeTakes && repTakes && arrayOrNull) tav_test::fail("merge refuses answers tav-rep takes");
  return 0;
}
