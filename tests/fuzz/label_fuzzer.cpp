// The label text parser on arbitrary text, through the tasks file's and the checker's wrappers:
// they must agree on every text, and a text the checker parses becomes a platform label that
// dominates itself.
#include <optional>
#include <string>

#include "rep/label_cache.h"
#include "rep/mac_label.h"
#include "req/task.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<tav_rep::MacLabel> checker = tav_rep::parseMacLabel(text);
  std::optional<tav::MacLabel> runner;
  try {
    runner = tav_req::parseTaskLabel(text);
  } catch (const tav_req::BadMacLabel& error) {
    if (error.label() != text) tav_test::fail("the error names another label");
  }
  if (checker.has_value() != runner.has_value()) tav_test::fail("the parsers disagree");
  if (checker && (checker->level != runner->level || checker->categories != runner->categories)) {
    tav_test::fail("the parsers give different values");
  }

  tav_rep::LabelCache cache;
  if (cache.ensure(text) != checker.has_value()) tav_test::fail("ensure disagrees with parse");
  const std::optional<bool> inRange = cache.validate(text, text, text);
  const std::optional<bool> permitted = cache.check(text, text);
  if (checker && (inRange != true || permitted != true)) {
    tav_test::fail("a label does not dominate itself");
  }
  if (!checker && (inRange || permitted)) tav_test::fail("an answer for a text that is no label");
  return 0;
}
