#include "req/task.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "common/json_document.h"

namespace tav_req {

BadMacLabel::BadMacLabel(const std::string& label, const std::string& reason)
    : std::runtime_error(fmt::format("invalid mac_label \"{}\": {}", label, reason)),
      label_(label) {}

BadUserName::BadUserName(const std::string& name)
    : std::runtime_error(fmt::format("invalid user name \"{}\": it holds a '/'", name)) {}

tav::MacLabel parseTaskLabel(const std::string& text) {
  tav::MacLabelText parsed = tav::parseMacLabelText(text);
  if (!parsed.label) throw BadMacLabel(text, parsed.error);
  return *parsed.label;
}

void from_json(const nlohmann::json& json, TaskUser& user) {
  json.at("name").get_to(user.name);
  // The name goes into the child log's path, which root creates before the user switch.
  if (user.name.find('/') != std::string::npos) throw BadUserName(user.name);
  json.at("password").get_to(user.password);
  const auto label = json.at("mac_label").get<std::string>();
  const tav::MacLabel value = parseTaskLabel(label);
  user.macLevel = value.level;
  user.macCategories = value.categories;
}

void from_json(const nlohmann::json& json, TaskRequest& request) {
  json.at("uuid").get_to(request.uuid);
  json.at("uri").get_to(request.uri);
  json.at("auth_type").get_to(request.authTypeName);
}

void from_json(const nlohmann::json& json, Task& task) {
  if (json.is_object() && json.contains("env")) json.at("env").get_to(task.env);
  json.at("user").get_to(task.user);
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
  }
  return {};
}

}  // namespace tav_req
