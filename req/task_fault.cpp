#include "req/task_fault.h"

#include <fmt/format.h>

#include <initializer_list>

#include "common/input_file.h"
#include "req/task.h"

namespace tav_req {

namespace {

using nlohmann::json;

std::optional<std::string> textFault(const json& object, const char* key,
                                     const std::string& where) {
  if (!object.contains(key)) return fmt::format("{}has no \"{}\"", where, key);
  const json& value = object[key];
  if (value.is_string()) return std::nullopt;
  return fmt::format("{}\"{}\" is {}, not a string", where, key, value.type_name());
}

std::optional<std::string> textsFault(const json& object, std::initializer_list<const char*> keys,
                                      const std::string& where) {
  for (const char* key : keys) {
    if (std::optional<std::string> fault = textFault(object, key, where)) return fault;
  }
  return std::nullopt;
}

// The task's JSON faults in the order the conversion meets them; `positions` as for taskFaultAt.
std::optional<std::string> taskFault(const json& task, const std::vector<std::size_t>& positions) {
  if (!task.is_object()) return fmt::format("is {}, not an object", task.type_name());
  if (task.contains("env")) {
    const json& env = task["env"];
    if (!env.is_object()) return fmt::format("\"env\" is {}, not an object", env.type_name());
    for (const auto& [name, value] : env.items()) {
      if (!value.is_string()) {
        return fmt::format("\"env\".\"{}\" is {}, not a string", name, value.type_name());
      }
    }
  }
  if (!task.contains("user")) return "has no \"user\"";
  const json& user = task["user"];
  if (!user.is_object()) return fmt::format("\"user\" is {}, not an object", user.type_name());
  if (auto fault = textsFault(user, {"name", "password", "mac_label"}, "\"user\" ")) return fault;
  if (!task.contains("requests")) return "has no \"requests\"";
  const json& requests = task["requests"];
  if (!requests.is_array()) {
    return fmt::format("\"requests\" is {}, not an array", requests.type_name());
  }
  for (std::size_t r = 0; r < requests.size(); ++r) {
    const std::string where = fmt::format("requests[{}] ", r < positions.size() ? positions[r] : r);
    if (!requests[r].is_object()) {
      return fmt::format("{}is {}, not an object", where, requests[r].type_name());
    }
    if (auto fault = textsFault(requests[r], {"uuid", "uri", "auth_type"}, where)) return fault;
    for (const char* key : {"method", "body"}) {
      if (!requests[r].contains(key)) continue;
      if (auto fault = textFault(requests[r], key, where)) return fault;
    }
  }
  return std::nullopt;
}

}  // namespace

std::string taskPlace(std::size_t index, const json& task) {
  if (task.is_object() && task.contains("user") && task["user"].is_object() &&
      task["user"].contains("name") && task["user"]["name"].is_string()) {
    return fmt::format("tasks[{}] (user {})", index, task["user"]["name"].get<std::string>());
  }
  return fmt::format("tasks[{}]", index);
}

std::optional<std::string> taskFaultAt(std::size_t index, const json& task,
                                       const std::vector<std::size_t>& positions) {
  std::string why;
  try {
    task.get<Task>();
    return std::nullopt;
  } catch (const BadMacLabel& error) {
    why = error.what();
  } catch (const BadUserName& error) {
    why = error.what();
  } catch (const BadRequestMethod& error) {
    why = error.what();
  } catch (const BadTaskText& error) {
    why = error.what();
  } catch (const json::exception& error) {
    why = taskFault(task, positions).value_or(tav::plainLoaderReason(error.what()));
  }
  return fmt::format("{}: {}", taskPlace(index, task), why);
}

std::optional<std::string> tasksFault(const json& document) {
  if (!document.is_array()) {
    return fmt::format("the top level is {}, not an array of tasks", document.type_name());
  }
  for (std::size_t t = 0; t < document.size(); ++t) {
    if (std::optional<std::string> fault = taskFaultAt(t, document[t])) return fault;
  }
  return std::nullopt;
}

}  // namespace tav_req
