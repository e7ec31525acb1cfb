// Where a tasks file breaks what loadTasks takes, in a person's words and naming the task by
// its index and user, so that tav-view and tav-suite can tell a user what to fix:
// `tasks[2] (user daemon): invalid mac_label "x:1": the level is not a number`.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tav_req {

// Why loadTasks refuses the task, placed as tasks[index]; nothing when it takes it. `positions`,
// when given, are the places in the file of the task's requests, for a task cut down to some.
std::optional<std::string> taskFaultAt(std::size_t index, const nlohmann::json& task,
                                       const std::vector<std::size_t>& positions = {});

// The first task loadTasks refuses and why; nothing when it takes them all.
std::optional<std::string> tasksFault(const nlohmann::json& document);

// "tasks[2] (user daemon)", or "tasks[2]" for a task without a user name.
std::string taskPlace(std::size_t index, const nlohmann::json& task);

}  // namespace tav_req
