#include "req/identity_switch.h"

#include <grp.h>
#include <pwd.h>
#include <spdlog/spdlog.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/korval.h"
#include "platform/zem.h"

namespace tav_req {

namespace {

// Bits 2, 3, 4, 5 and 10 in each of the three words.
constexpr std::uint32_t kChildCapabilities = 0x43C;

// Applies the label; the label is released on both paths.
bool applyLabel(const ChildUser& user) {
  zeml_t* label = zeml_get_new_init_mac(user.macLevel, ZEML_TYPE_PROCESS, 0, user.macCategories, 0);
  if (zem_set_pid(0, label) != 0) {
    const int error = errno;
    char* text = zeml_get_text(label, 0);
    spdlog::error("Failed to set ZEM label ({0}): {1}", text != nullptr ? text : "",
                  std::strerror(error));
    std::free(text);
    zeml_put(label);
    return false;
  }
  zeml_put(label);
  return true;
}

}  // namespace

bool initCapabilities() {
  if (zem_init() != 0) {
    spdlog::error("Failed to initialize ZEM: {}", std::strerror(errno));
    return false;
  }
  const KorvalCaps caps{kChildCapabilities, kChildCapabilities, kChildCapabilities};
  if (korval_capset(0, &caps) == -1) {
    spdlog::error("Failed to set KORVAL capabilities: {}", std::strerror(errno));
    return false;
  }
  return true;
}

bool switchUser(const ChildUser& user) {
  const passwd* entry = getpwnam(user.name.c_str());
  if (entry == nullptr) {
    spdlog::error("Failed to find user: {}", user.name);
    return false;
  }
  // getpwnam's buffer is static; a later lookup would overwrite it.
  const uid_t uid = entry->pw_uid;
  const gid_t gid = entry->pw_gid;

  if (!applyLabel(user)) return false;
  // Capabilities are to outlive the change of uid.
  if (prctl(PR_SET_KEEPCAPS, 1) == -1) {
    spdlog::error("Unable to set PR_SET_KEEPCAPS: {}", std::strerror(errno));
    return false;
  }
  if (setgroups(1, &gid) == -1) {
    spdlog::error("Failed to set supplementary group ID ({0}): {1}", gid, std::strerror(errno));
    return false;
  }
  if (setgid(gid) == -1) {
    spdlog::error("Failed to set GID ({0}): {1}", gid, std::strerror(errno));
    return false;
  }
  if (setuid(uid) == -1) {
    spdlog::error("Failed to set UID ({0}): {1}", uid, std::strerror(errno));
    return false;
  }
  return true;
}

bool setEnvironment(const Environment& env) {
  for (const auto& [key, value] : env) {
    spdlog::debug("Set env {}={}", key, value);
    if (setenv(key.c_str(), value.c_str(), 1) != 0) {
      spdlog::warn("Failed to set env {}={}: {}", key, value, std::strerror(errno));
      return false;
    }
  }
  return true;
}

}  // namespace tav_req
