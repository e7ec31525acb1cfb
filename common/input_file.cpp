#include "common/input_file.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "common/json_document.h"

namespace tav {

namespace {

using nlohmann::json;

std::string reasonOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "is a folder, not a file";
    default:
      return std::strerror(error);
  }
}

bool hasAnyKey(const json& object, std::initializer_list<const char*> keys) {
  return std::any_of(keys.begin(), keys.end(),
                     [&](const char* key) { return object.contains(key); });
}

// What one entry of an array (or of an object's values) looks like.
std::optional<SuiteFile> entryLookalike(const json& entry) {
  if (!entry.is_object()) return std::nullopt;
  if (hasAnyKey(entry, {"user", "requests"})) return SuiteFile::tasks;
  if (hasAnyKey(entry, {"subject_label", "object_label", "min_mac_label", "max_mac_label",
                        "expect_ignore_mac_label"})) {
    return SuiteFile::metadata;
  }
  if (hasAnyKey(entry, {"code", "body"})) return SuiteFile::responses;
  return std::nullopt;
}

const char* nameOf(SuiteFile file) {
  switch (file) {
    case SuiteFile::description:
      return "a suite description (the input of tav-suite gen)";
    case SuiteFile::tasks:
      return "a tasks file";
    case SuiteFile::taskResponses:
      return "a per-task responses file ({\"tasks\": [...]})";
    case SuiteFile::responses:
      return "a responses file";
    case SuiteFile::metadata:
      return "a metadata file";
    case SuiteFile::config:
      return "a report configuration";
    case SuiteFile::report:
      break;
  }
  return "tav-rep's report.json";
}

const char* wantedName(SuiteFile file) {
  switch (file) {
    case SuiteFile::description:
      return "the suite description";
    case SuiteFile::tasks:
      return "the tasks file";
    case SuiteFile::taskResponses:
      return "a per-task responses file";
    case SuiteFile::responses:
      return "the merged responses.json";
    case SuiteFile::metadata:
      return "the metadata file";
    case SuiteFile::config:
      return "the report configuration";
    case SuiteFile::report:
      break;
  }
  return "tav-rep's report.json";
}

}  // namespace

std::optional<std::string> unreadableReason(const std::filesystem::path& path) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return reasonOf(errno);
  struct stat info {};
  const int statted = ::fstat(fd, &info);
  const int error = errno;
  ::close(fd);
  if (statted != 0) return reasonOf(error);
  if (S_ISDIR(info.st_mode)) return reasonOf(EISDIR);
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  return std::nullopt;
}

std::string notJsonReason(const std::string& text, const json::parse_error& error) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; })) {
    return "is empty, not JSON";
  }
  // The library counts the byte it stopped at from 1; lines and columns count from 1 too.
  const std::size_t index =
      std::min<std::size_t>(error.byte == 0 ? 1 : error.byte, text.size()) - 1;
  const std::size_t line = 1 + static_cast<std::size_t>(std::count(
                                   text.begin(), text.begin() + static_cast<long>(index), '\n'));
  const std::size_t lastBreak = index == 0 ? std::string::npos : text.rfind('\n', index - 1);
  const std::size_t column = lastBreak == std::string::npos ? index + 1 : index - lastBreak;
  std::string detail = error.what();
  if (const std::size_t at = detail.find("parse error"); at != std::string::npos) {
    if (const std::size_t colon = detail.find(": ", at); colon != std::string::npos) {
      detail.erase(0, colon + 2);
    }
  }
  return fmt::format("not JSON at line {} column {}: {}", line, column, detail);
}

std::optional<SuiteFile> lookalike(const json& document) {
  if (document.is_object()) {
    if (document.contains("tasks")) return SuiteFile::taskResponses;
    if (hasAnyKey(document, {"users", "objects", "auth_types", "base_url"})) {
      return SuiteFile::description;
    }
    if (hasAnyKey(document, {"allowed_codes", "denied_codes", "check_body", "body_template"})) {
      return SuiteFile::config;
    }
    if (hasAnyKey(document, {"failed_uuids", "total_count"})) return SuiteFile::report;
    if (!document.empty()) return entryLookalike(document.begin().value());
    return std::nullopt;
  }
  if (document.is_array()) {
    for (const json& entry : document) {
      if (entry.is_object()) return entryLookalike(entry);
    }
  }
  return std::nullopt;
}

std::string lookalikeReason(const json& document, SuiteFile wanted) {
  const std::optional<SuiteFile> found = lookalike(document);
  if (!found || *found == wanted) return {};
  return fmt::format("this looks like {}; give {}", nameOf(*found), wantedName(wanted));
}

InputDocument readInputDocument(const std::filesystem::path& path, bool written) {
  InputDocument input;
  if (std::optional<std::string> why = unreadableReason(path)) {
    input.problem = std::move(*why);
    return input;
  }
  const std::string text = readWholeFile(path);
  try {
    input.document = written ? parseWritableJsonText(text) : parseJsonText(text);
  } catch (const json::parse_error& error) {
    input.problem = notJsonReason(text, error);
  } catch (const json::exception& error) {
    // Well-formed, but beyond the library: a number past the range of a double.
    input.problem = "cannot be read as JSON: " + plainLoaderReason(error.what());
  }
  return input;
}

std::string refusalReason(const std::filesystem::path& path, SuiteFile wanted,
                          const FaultFinder& findFault, const std::string& loggedLine) {
  const InputDocument input = readInputDocument(path);
  if (!input.document) return input.problem;
  if (std::string lookalikeText = lookalikeReason(*input.document, wanted);
      !lookalikeText.empty()) {
    return lookalikeText;
  }
  if (findFault) {
    if (std::optional<std::string> fault = findFault(*input.document)) return *fault;
  }
  return plainLoaderReason(loggedLine);
}

std::string plainLoaderReason(std::string line) {
  for (const char* prefix : {"Failed to parse data: ", "Failed to parse config: "}) {
    if (line.starts_with(prefix)) line.erase(0, std::strlen(prefix));
  }
  if (line.starts_with("[json.exception.")) {
    if (const std::size_t end = line.find("] "); end != std::string::npos) line.erase(0, end + 2);
  }
  if (const std::size_t id = line.find("; exception id "); id != std::string::npos) {
    line.erase(id);
  }
  return line;
}

}  // namespace tav
