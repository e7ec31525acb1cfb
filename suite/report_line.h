// The one-line errors and warnings of gen, split and merge on standard error, "error: FILE: why",
// with text from the files escaped for the terminal.
#pragma once

#include <filesystem>
#include <string>

namespace tav_suite {

// "error: {file}: {why}"
void reportFileError(const std::filesystem::path& file, const std::string& why);

// "warning: {file}: {why}"
void reportFileWarning(const std::filesystem::path& file, const std::string& why);

}  // namespace tav_suite
