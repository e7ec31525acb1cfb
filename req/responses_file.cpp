#include "req/responses_file.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <map>
#include <stdexcept>
#include <tuple>

#include "common/json_document.h"

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
    spdlog::info("{}: {} -- {}", response.uuid, response.code, response.body);
    // A failed transfer has no uuid of its own; the request still names it.
    const std::string& requestUuid =
        i < task.requests.size() ? task.requests[i].uuid : response.uuid;
    document["tasks"].push_back(responseEntry(requestUuid, response));
  }
  return tav::writeJsonDocument(outputDir / fileName, document);
}

bool mergeResponses(const std::filesystem::path& outputDir,
                    const std::vector<std::string>& fileNames) {
  json merged;
  try {
    for (const std::string& fileName : fileNames) {
      const json document = tav::parseJsonText(tav::readWholeFile(outputDir / fileName));
      if (!document.is_object() || !document.contains("tasks")) {
        throw std::runtime_error("json doesn't contain 'tasks");
      }
      const json& tasks = document["tasks"];
      if (tasks.is_object()) {
        throw std::runtime_error(fmt::format("'tasks' of {} is an object, not an array", fileName));
      }
      for (const json& entry : tasks) merged.push_back(entry);
    }
  } catch (const json::parse_error& error) {
    tav::logJsonFailure("Failed to parse data", error);
    return false;
  } catch (const std::exception& error) {
    spdlog::critical("Failed to parse data: {}", error.what());
    return false;
  }
  return tav::writeJsonDocument(outputDir / "responses.json", merged);
}

}  // namespace tav_req
