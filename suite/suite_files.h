// Writing a set of JSON documents into one folder so that either all of them appear under their
// names or none does: each goes to a temporary name beside its target, and only when every one
// is written are they renamed.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tav_suite {

// A file name and the document it gets; the documents are large, so they are not copied.
using NamedDocument = std::pair<std::string, const nlohmann::json*>;

// Writes every document into the folder, which must exist. False after printing why on
// standard error; the temporary files are gone then.
bool writeDocuments(const std::filesystem::path& dir, const std::vector<NamedDocument>& documents);

// Creates the folder and its parents where they are missing. False after printing why.
bool makeFolder(const std::filesystem::path& dir);

}  // namespace tav_suite
