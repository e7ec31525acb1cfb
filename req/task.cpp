#include "task.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "json_document.h"

namespace tav_req {

namespace {

// One part of a label read as std::stoi reads it; the part's name goes into the reason.
int labelNumber(const std::string& label, const std::string& part, int base, const char* what) {
  try {
    return std::stoi(part, nullptr, base);
  } catch (const std::invalid_argument&) {
    throw BadMacLabel(label, fmt::format("the {} is not a number", what));
  } catch (const std::out_of_range&) {
    throw BadMacLabel(label, fmt::format("the {} is out of range", what));
  }
}

}  // namespace

BadMacLabel::BadMacLabel(const std::string& label, const std::string& reason)
    : std::runtime_error(fmt::format("invalid mac_label \"{}\": {}", label, reason)),
      label_(label) {}

BadUserName::BadUserName(const std::string& name)
    : std::runtime_error(fmt::format("invalid user name \"{}\": it holds a '/'", name)) {}

MacLabelValue parseMacLabel(const std::string& text) {
  std::vector<std::string> parts;
  for (std::size_t begin = 0;;) {
    const std::size_t colon = text.find(':', begin);
    parts.push_back(text.substr(begin, colon - begin));
    if (colon == std::string::npos) break;
    begin = colon + 1;
  }
  if (parts.size() < 2) throw BadMacLabel(text, "it has no colon");
  // Out-of-range bits are cut off: the platform takes an 8-bit level and a 32-bit mask.
  MacLabelValue value;
  value.level = static_cast<std::uint8_t>(labelNumber(text, parts[0], 10, "level"));
  value.categories = static_cast<std::uint32_t>(labelNumber(text, parts[1], 16, "category mask"));
  return value;
}

void from_json(const nlohmann::json& json, TaskUser& user) {
  json.at("name").get_to(user.name);
  // The name goes into the child log's path, which root creates before the user switch.
  if (user.name.find('/') != std::string::npos) throw BadUserName(user.name);
  json.at("password").get_to(user.password);
  const auto label = json.at("mac_label").get<std::string>();
  const MacLabelValue value = parseMacLabel(label);
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
