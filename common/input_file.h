// The files a user names as inputs of tav-view and tav-suite, and what is wrong with one in a
// person's words: no such file, a folder, permission denied, not JSON at a line and column, or
// a file of a suite that looks like another one than the one asked for.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tav {

// The files of a suite and its runs, as a user might mix them up.
enum class SuiteFile {
  description,    // the input of tav-suite gen
  tasks,          // tav-req's input
  taskResponses,  // a child's {"tasks": [...]}
  responses,      // the merged responses.json
  metadata,       // tav-rep's metadata
  config,         // tav-rep's report configuration
  report,         // tav-rep's report.json
};

// Why the file cannot be read as an input ("no such file", "is a folder, not a file",
// "permission denied", "is not a regular file", or the system's reason); nothing when it opens
// for reading as a regular file. A FIFO is not opened for reading, so nothing waits on it.
std::optional<std::string> unreadableReason(const std::filesystem::path& path);

// "not JSON at line 3 column 7: ..." for the parse error of the text; "is empty, not JSON" for
// a text of blanks only.
std::string notJsonReason(const std::string& text, const nlohmann::json::parse_error& error);

// The file the document looks like by its shape; nothing when it looks like none of them.
std::optional<SuiteFile> lookalike(const nlohmann::json& document);

// "this looks like a tasks file; give the metadata file" when the document looks like another
// file than `wanted`; empty otherwise.
std::string lookalikeReason(const nlohmann::json& document, SuiteFile wanted);

// A whole input parsed, or why not in a person's words.
struct InputDocument {
  std::optional<nlohmann::json> document;
  std::string problem;
};
// `written`: its values are written back, so it is parsed by parseWritableJsonText.
InputDocument readInputDocument(const std::filesystem::path& path, bool written = false);

// Finds the first place in a document that a loader refuses, in a person's words.
using FaultFinder = std::function<std::optional<std::string>(const nlohmann::json&)>;

// Why a loader refused the file, for a file that opens: it is not JSON, it looks like another
// file of the suite, or the finder names the place; else the loader's own logged line without
// the JSON library's decorations.
std::string refusalReason(const std::filesystem::path& path, SuiteFile wanted,
                          const FaultFinder& findFault, const std::string& loggedLine);

// The loader's logged line without "Failed to parse data: ", the library's
// "[json.exception.type_error.302] " and "; exception id 302".
std::string plainLoaderReason(std::string line);

}  // namespace tav
