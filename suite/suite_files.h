// Writing a set of files into one folder so that either all of them appear under their names
// or none does: each goes to a temporary name beside its target, and only when every one is
// written are they renamed. Also the JSON text pieces of files written without a JSON tree.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tav_suite {

struct NamedText {
  std::string name;
  std::string text;
};

// Writes every file into the folder, which must exist. False after printing why on standard
// error; the temporary files are gone then.
bool writeFiles(const std::filesystem::path& dir, const std::vector<NamedText>& files);

// The document as tav's programs write theirs: an indent of 2, UTF-8 as is.
std::string documentText(const nlohmann::json& document);

// Creates the folder and its parents where they are missing. False after printing why.
bool makeFolder(const std::filesystem::path& dir);

// Appends the text as a JSON string: as is when nothing in it needs an escape, else through
// the JSON library, which also refuses text that is not UTF-8.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace tav_suite
