// The body template as the configuration loader checks it and the body check uses it. The first
// ten bytes are the subject's level and categories and the object's, the rest the template.
// A template the loader accepts must format for every pair of labels, and a body holding the
// formatted text must pass.
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <optional>
#include <string>

#include "rep/check_entry.h"
#include "rep/report_config.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::uint32_t word(const std::uint8_t* bytes) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// The label text that parses back to the value; masks above 7fffffff need the negative form.
std::string labelText(const tav_rep::MacLabel& label) {
  if (label.categories <= 0x7fffffffu) return fmt::format("{}:{:x}", label.level, label.categories);
  return fmt::format("{}:-{:x}", label.level, 0x100000000ull - label.categories);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tav_test::MemFile file("config");
  if (size < 10) return 0;
  const tav_rep::MacLabel subject{data[0], word(data + 1)};
  const tav_rep::MacLabel object{data[5], word(data + 6)};
  const std::string bodyTemplate(reinterpret_cast<const char*>(data) + 10, size - 10);

  const nlohmann::json config = {{"check_body", true},
                                 {"body_template", bodyTemplate},
                                 {"allowed_codes", {200}},
                                 {"denied_codes", {403}}};
  file.write(config.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  const std::optional<tav_rep::ReportConfig> loaded = tav_rep::loadConfig(file.path());
  if (!loaded) return 0;

  std::string expected;
  try {
    expected = tav_rep::formatBodyTemplate(loaded->body_template, subject, object);
  } catch (const fmt::format_error&) {
    tav_test::fail("an accepted template does not format for these labels");
  }
  tav_rep::CheckEntry entry;
  entry.subject_label = labelText(subject);
  entry.object_label = labelText(object);
  entry.body = "<p>" + expected + "</p>";
  if (!tav_rep::checkBody("fuzz", entry, *loaded)) tav_test::fail("the body check misses its text");
  return 0;
}
