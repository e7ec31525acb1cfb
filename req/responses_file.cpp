#include "req/responses_file.h"

#include <fmt/format.h>
#include <pwd.h>
#include <spdlog/spdlog.h>

#include <map>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "common/json_document.h"
#include "common/terminal_text.h"
#include "req/output_folder.h"

namespace tav_req {

namespace {

using nlohmann::json;

bool isValidUtf8(const std::string& text) {
  try {
    (void)json(text).dump();
    return true;
  } catch (const json::type_error&) {
    return false;
  }
}

// The JSON library's replacing serializer does the work; parsing its output back gives the
// mended string.
std::string replaceInvalidUtf8(const std::string& text) {
  return json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace))
      .get<std::string>();
}

json responseEntry(const std::string& requestUuid, const HttpResponse& response) {
  json entry;
  entry["uuid"] = response.uuid;
  entry["code"] = response.code;
  if (isValidUtf8(response.body)) {
    entry["body"] = response.body;
  } else {
    spdlog::warn("body of request {} is not valid UTF-8; invalid bytes replaced by U+FFFD",
                 requestUuid);
    entry["body"] = replaceInvalidUtf8(response.body);
  }
  return entry;
}

// The document as every tav file is written (an indent of 2, UTF-8 as is), through `write`.
bool writeDocument(const std::filesystem::path& path, const json& document,
                   bool (*write)(const std::filesystem::path&, const std::string&)) {
  std::string text;
  try {
    text = document.dump(2, ' ', false, json::error_handler_t::strict);
  } catch (const json::exception& error) {
    spdlog::error("could not serialize json to {}: {}", path.string(), error.what());
    return false;
  }
  if (!write(path, text)) return false;
  spdlog::info("saved result to {}", path.string());
  return true;
}

// The text of a task's file when its user wrote it; else an error line says why it is left out.
std::optional<std::string> readTaskFile(const std::filesystem::path& path,
                                        const std::string& userName) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r(userName.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    spdlog::error("responses file {} of user {} is not merged: the user does not exist",
                  path.string(), userName);
    return std::nullopt;
  }
  OwnedFileText read = readOwnedFile(path, found->pw_uid);
  if (!read.text) {
    spdlog::error("responses file {} of user {} (uid {}) is not merged: {}", path.string(),
                  userName, found->pw_uid, read.problem);
  }
  return std::move(read.text);
}

// The server's bytes as a log line shows them: escaped, so that no control sequence reaches a
// terminal that shows the log and no line feed forges a log line. Every byte is still there.
std::string bodyForLog(const std::string& body) {
  return tav::terminalText(body);
}

}  // namespace

std::vector<std::string> responsesFileNames(const std::vector<Task>& tasks) {
  std::map<std::tuple<std::string, unsigned, std::uint32_t>, int> seen;
  std::vector<std::string> names;
  names.reserve(tasks.size());
  for (const Task& task : tasks) {
    const unsigned level = task.user.macLevel;
    const int k = ++seen[{task.user.name, level, task.user.macCategories}];
    const std::string stem =
        fmt::format("responses_{}_{}_{}", task.user.name, level, task.user.macCategories);
    names.push_back(k == 1 ? stem + ".json" : fmt::format("{}-{}.json", stem, k));
  }
  return names;
}

bool saveResponses(const std::filesystem::path& outputDir, const std::string& fileName,
                   const Task& task, const std::vector<HttpResponse>& responses) {
  json document = {{"tasks", json::array()}};
  for (std::size_t i = 0; i < responses.size(); ++i) {
    const HttpResponse& response = responses[i];
    spdlog::info("{}: {} -- {}", response.uuid, response.code, bodyForLog(response.body));
    // A failed transfer has no uuid of its own; the request still names it.
    const std::string& requestUuid =
        i < task.requests.size() ? task.requests[i].uuid : response.uuid;
    document["tasks"].push_back(responseEntry(requestUuid, response));
  }
  return writeDocument(outputDir / fileName, document, writeOwnFile);
}

MergeResult mergeResponses(const std::filesystem::path& outputDir,
                           const std::vector<TaskFile>& files) {
  MergeResult result;
  json merged;
  try {
    for (const TaskFile& file : files) {
      const std::filesystem::path path = outputDir / file.fileName;
      const std::optional<std::string> text = readTaskFile(path, file.userName);
      if (!text) {
        ++result.refused;
        continue;
      }
      const json document = tav::parseJsonText(*text);
      if (!document.is_object() || !document.contains("tasks")) {
        throw std::runtime_error("json doesn't contain 'tasks");
      }
      const json& tasks = document["tasks"];
      if (tasks.is_object()) {
        throw std::runtime_error(
            fmt::format("'tasks' of {} is an object, not an array", file.fileName));
      }
      for (const json& entry : tasks) merged.push_back(entry);
    }
  } catch (const json::parse_error& error) {
    tav::logJsonFailure("Failed to parse data", error);
    return result;
  } catch (const std::exception& error) {
    spdlog::critical("Failed to parse data: {}", error.what());
    return result;
  }
  result.written = writeDocument(outputDir / "responses.json", merged, replaceFile);
  return result;
}

}  // namespace tav_req
