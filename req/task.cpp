#include "req/task.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cctype>

#include "common/json_document.h"

namespace tav_req {

BadMacLabel::BadMacLabel(const std::string& label, const std::string& reason)
    : std::runtime_error(fmt::format("invalid mac_label \"{}\": {}", label, reason)),
      label_(label) {}

// The name is quoted as a JSON string, so a NUL byte or a control character shows as its escape.
BadUserName::BadUserName(const std::string& name, const std::string& reason)
    : std::runtime_error(fmt::format(
          "invalid user name {}: {}",
          nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
          reason)) {}

BadRequestMethod::BadRequestMethod(const std::string& uuid, const std::string& reason)
    : std::runtime_error(fmt::format("request \"{}\": {}", uuid, reason)) {}

const char* methodName(RequestMethod method) {
  switch (method) {
    case RequestMethod::head:
      return "HEAD";
    case RequestMethod::put:
      return "PUT";
    case RequestMethod::del:
      return "DELETE";
    case RequestMethod::get:
      break;
  }
  return "GET";
}

std::optional<RequestMethod> methodOfName(const std::string& name) {
  for (const RequestMethod method :
       {RequestMethod::get, RequestMethod::head, RequestMethod::put, RequestMethod::del}) {
    if (name == methodName(method)) return method;
  }
  return std::nullopt;
}

std::string userNameProblem(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (name.find('/') != std::string::npos) return "it holds a '/'";
  if (name.find('\0') != std::string::npos) return "it holds a NUL byte";
  return {};
}

bool isHttpUrl(const std::string& url) {
  const std::size_t end = url.find("://");
  if (end == std::string::npos) return false;
  std::string scheme = url.substr(0, end);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https";
}

bool hasUrlBlank(const std::string& url) {
  return std::any_of(url.begin(), url.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f;
  });
}

tav::MacLabel parseTaskLabel(const std::string& text) {
  tav::MacLabelText parsed = tav::parseMacLabelText(text);
  if (!parsed.label) throw BadMacLabel(text, parsed.error);
  return *parsed.label;
}

void from_json(const nlohmann::json& json, TaskUser& user) {
  json.at("name").get_to(user.name);
  // The name goes into the child log's path, which root creates before the user switch, and
  // into the responses file's name; two names that differ only after a NUL would share both.
  if (const std::string problem = userNameProblem(user.name); !problem.empty()) {
    throw BadUserName(user.name, problem);
  }
  json.at("password").get_to(user.password);
  if (user.password.find('\0') != std::string::npos) {
    throw BadTaskText(fmt::format(
        "the password of user {} holds a NUL byte",
        nlohmann::json(user.name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
  }
  const auto label = json.at("mac_label").get<std::string>();
  const tav::MacLabel value = parseTaskLabel(label);
  user.macLevel = value.level;
  user.macCategories = value.categories;
}

void from_json(const nlohmann::json& json, TaskRequest& request) {
  json.at("uuid").get_to(request.uuid);
  json.at("uri").get_to(request.uri);
  json.at("auth_type").get_to(request.authTypeName);
  if (!json.contains("method") && !json.contains("body")) return;
  if (json.contains("method")) {
    const auto name = json.at("method").get<std::string>();
    const std::optional<RequestMethod> method = methodOfName(name);
    if (!method) {
      throw BadRequestMethod(
          request.uuid, fmt::format("unknown method {}: the methods are GET, HEAD, PUT and DELETE",
                                    nlohmann::json(name).dump(
                                        -1, ' ', false, nlohmann::json::error_handler_t::replace)));
    }
    request.method = *method;
  }
  if (json.contains("body")) {
    json.at("body").get_to(request.body);
    // A body the request would not send is a mistake of the file, not something to drop.
    if (request.method != RequestMethod::put) {
      throw BadRequestMethod(
          request.uuid,
          fmt::format("a {} request sends no \"body\"; only PUT does", methodName(request.method)));
    }
  }
}

void from_json(const nlohmann::json& json, Task& task) {
  if (json.is_object() && json.contains("env")) json.at("env").get_to(task.env);
  json.at("user").get_to(task.user);
  for (const auto& [name, value] : task.env) {
    if (name.find('\0') != std::string::npos || value.find('\0') != std::string::npos) {
      throw BadTaskText(fmt::format(
          "the environment variable {} of user {} holds a NUL byte",
          nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
          nlohmann::json(task.user.name)
              .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
    }
  }
  json.at("requests").get_to(task.requests);
}

std::vector<Task> loadTasks(const std::string& path) {
  try {
    return tav::readJsonDocument(path, "Failed to parse data", [](const nlohmann::json& document) {
      return document.get<std::vector<Task>>();
    });
  } catch (const BadMacLabel& error) {
    spdlog::critical("Failed to parse data: {}", error.what());
  } catch (const BadUserName& error) {
    spdlog::critical("Failed to parse data: {}", error.what());
  } catch (const BadRequestMethod& error) {
    spdlog::critical("Failed to parse data: {}", error.what());
  } catch (const BadTaskText& error) {
    spdlog::critical("Failed to parse data: {}", error.what());
  }
  return {};
}

}  // namespace tav_req
