// The report configuration loader on arbitrary bytes. A configuration it accepts with body
// checks on has a template that formats.
#include <fmt/format.h>

#include <optional>

#include "rep/report_config.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tav_test::MemFile file("config");
  file.write(data, size);
  const std::optional<tav_rep::ReportConfig> config = tav_rep::loadConfig(file.path());
  if (!config || !config->check_body) return 0;
  try {
    tav_rep::formatBodyTemplate(config->body_template, {2, 0x1f}, {1, 0x3});
  } catch (const fmt::format_error&) {
    tav_test::fail("an accepted body template does not format");
  }
  return 0;
}
