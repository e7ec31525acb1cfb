// What a task user may do with a file or folder, tried as that user: a child process takes on
// the user's groups, group and user id and asks the kernel, so permissions, ACLs and every
// folder on the way count as they will for tav-req's child.
#pragma once

#include <sys/types.h>

#include <cstddef>
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

// How many certificates the CA folder holds under the hashed names OpenSSL looks them up by
// ("5ed36f99.0"; revocation lists not counted), listed as the caller.
std::size_t hashedCertificateCount(const std::string& dir);

// A small helper process, started before the suite is loaded, that forks one child per
// question. Forking the helper instead of the checker keeps each fork cheap and the checker's
// large memory out of copy-on-write.
class AccessProbe {
 public:
  // Starts the helper when running as root; without root every answer is "unknown".
  AccessProbe();
  ~AccessProbe();
  AccessProbe(const AccessProbe&) = delete;
  AccessProbe& operator=(const AccessProbe&) = delete;

  // Whether the user can open the file for reading. No value when the identity could not be
  // taken on (not root, or a failing call).
  std::optional<bool> canRead(const TaskUserId& user, const std::string& path);

  // Whether the user can pass through the folder (and every folder above it).
  std::optional<bool> canSearch(const TaskUserId& user, const std::string& dir);

  // Whether the user can create files in the folder.
  std::optional<bool> canWriteInto(const TaskUserId& user, const std::string& dir);

  // Whether the user can use the folder as OpenSSL uses a CA folder: search it and read every
  // certificate and revocation list in it that is named by its hash.
  std::optional<bool> canUseCaFolder(const TaskUserId& user, const std::string& dir);

 private:
  std::optional<bool> ask(char question, const TaskUserId& user, const std::string& path);

  pid_t pid_ = -1;
  int toHelper_ = -1;
  int fromHelper_ = -1;
};

}  // namespace tav_suite
