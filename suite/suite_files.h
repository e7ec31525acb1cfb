// What tav-suite's subcommands share about the files they write: the folder and the JSON text
// pieces of files written without a JSON tree. The files themselves are written as one set
// (common/output_set.h); errors about them go through suite/report_line.h.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <string_view>

namespace tav_suite {

// The document as tav's programs write theirs: an indent of 2, UTF-8 as is.
std::string documentText(const nlohmann::json& document);

// Creates the folder and its parents where they are missing. False after printing why.
bool makeFolder(const std::filesystem::path& dir);

// Appends the text as a JSON string: as is when nothing in it needs an escape, else through
// the JSON library, which also refuses text that is not UTF-8.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace tav_suite
