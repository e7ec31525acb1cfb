// What a task user may do with a file or folder, tried as that user: a child process takes on
// the user's groups, group and user id and asks the kernel, so permissions, ACLs and every
// folder on the way count as they will for tav-req's child.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace tav_suite {

struct TaskUserId {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The user of that name on this machine; no value when there is none.
std::optional<TaskUserId> findUser(const std::string& name);

// Whether the user can open the file for reading. No value when the identity could not be
// taken on (not root, or a failing call).
std::optional<bool> userCanRead(const TaskUserId& user, const std::string& path);

// Whether the user can create files in the folder.
std::optional<bool> userCanWriteInto(const TaskUserId& user, const std::string& dir);

}  // namespace tav_suite
