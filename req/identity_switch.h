// The steps that give a freshly forked child the task's identity. Each runs in the child after
// its log is open, logs its own failure at error level and returns false then.
#pragma once

#include "req/child_process.h"

namespace tav_req {

// zem_init, then every KORVAL capability word set to 0x43C.
bool initCapabilities();

// The user's primary group as the only group, its gid and uid, and the label from macLevel and
// macCategories; the label comes first, while the process still has the privilege for it.
bool switchUser(const ChildUser& user);

// setenv for every entry, overwriting; stops at the first failure (entries before it stay).
bool setEnvironment(const Environment& env);

}  // namespace tav_req
