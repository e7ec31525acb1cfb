#include "suite/suite_files.h"

#include <algorithm>
#include <system_error>

#include "suite/report_line.h"

namespace tav_suite {

bool makeFolder(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    reportFileError(dir, "cannot create the folder: " + error.message());
    return false;
  }
  return true;
}

std::string documentText(const nlohmann::json& document) {
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
}

void appendJsonString(std::string& out, std::string_view text) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\';
  });
  if (plain) {
    out += '"';
    out += text;
    out += '"';
  } else {
    out += nlohmann::json(std::string(text))
               .dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  }
}

}  // namespace tav_suite
