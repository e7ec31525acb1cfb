// The one-line errors and warnings of gen, split and merge on standard error, "error: FILE: why",
// with text from the files escaped for the terminal.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tav_suite {

// "error: {file}: {why}"
void reportFileError(const std::filesystem::path& file, const std::string& why);

// "warning: {file}: {why}"
void reportFileWarning(const std::filesystem::path& file, const std::string& why);

// The first few items and how many more: "a, b, c, d, e and 7 more".
std::string firstFew(const std::vector<std::string>& items);

}  // namespace tav_suite
