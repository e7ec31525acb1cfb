// The task users on this machine: that they exist, can read their ticket caches and can write
// their answers into the output folder, each tried as the user itself.
#include <fmt/format.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <tuple>

#include "common/words.h"
#include "suite/check_steps.h"
#include "suite/report_line.h"

namespace tav_suite {

namespace {

// The file behind KRB5CCNAME, or nothing for caches that are not files.
std::optional<std::string> fileCache(const std::string& name) {
  if (name.starts_with("FILE:")) return name.substr(5);
  if (name.starts_with("/")) return name;
  return std::nullopt;
}

struct RootChecks {
  std::size_t skipped = 0;
  void count(const std::optional<bool>& result) {
    if (!result) ++skipped;
  }
};

void checkCache(const std::string& where, const tav_req::Task& task, const TaskUserId& id,
                AccessProbe& probe, RootChecks& root, Findings& findings) {
  bool gssapi = false;
  for (const tav_req::TaskRequest& request : task.requests) {
    gssapi = gssapi || request.authTypeName == "gssapi";
  }
  const auto cacheName = task.env.find("KRB5CCNAME");
  if (!gssapi || cacheName == task.env.end()) return;
  if (cacheName->second.empty()) {
    findings.warning(fmt::format(
        "{}: KRB5CCNAME is empty, so the child's Kerberos library does not use the user's "
        "ticket cache; set it to the ticket cache kinit wrote for the user",
        where));
    return;
  }
  if (cacheName->second.starts_with("MEMORY:")) {
    // A memory cache belongs to the process that filled it: the child starts with none.
    findings.error(fmt::format(
        "{}: KRB5CCNAME \"{}\" is a memory cache, which tav-req's child starts without a "
        "ticket in; set it to the ticket cache kinit wrote for the user",
        where, cacheName->second));
    return;
  }
  const std::optional<std::string> file = fileCache(cacheName->second);
  if (!file) return;
  if (file->empty()) {
    findings.error(fmt::format(
        "{}: KRB5CCNAME \"{}\" names no file; set it to the ticket cache kinit wrote for the user",
        where, cacheName->second));
    return;
  }
  struct stat info {};
  const bool found = stat(file->c_str(), &info) == 0;
  if (found && !S_ISREG(info.st_mode)) {
    // A folder or a FIFO holds no ticket; a FIFO would even hold the child up.
    findings.error(fmt::format(
        "{}: KRB5CCNAME file cache {} is not a regular file ({}); set it to the ticket cache "
        "kinit wrote for the user",
        where, *file, S_ISDIR(info.st_mode) ? "a folder" : "a device, FIFO or socket"));
  } else if (!found && errno == ENOENT) {
    findings.error(fmt::format(
        "{}: KRB5CCNAME file cache {} is missing; get a ticket with kinit -c {} as that user",
        where, *file, *file));
  } else if (found && info.st_size == 0) {
    findings.error(fmt::format(
        "{}: KRB5CCNAME file cache {} is empty; get a ticket with kinit -c {} as that user", where,
        *file, *file));
  } else {
    const std::optional<bool> readable = probe.canRead(id, *file);
    root.count(readable);
    if (readable == false) {
      findings.error(fmt::format(
          "{}: the user cannot read its KRB5CCNAME file cache {}; make the user its owner "
          "(chown)",
          where, *file));
    }
  }
}

// Why the user cannot write into the folder, and what to do: a folder above it that the user
// cannot pass through is the cause whatever the folder's own mode.
std::string writeHint(const std::string& dir, const TaskUserId& id, AccessProbe& probe) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(dir, error).lexically_normal();
  std::filesystem::path above;
  for (const std::filesystem::path& part : full.parent_path()) {
    above /= part;
    if (probe.canSearch(id, above.string()) == false) {
      return fmt::format(": the user cannot pass through {}; chmod o+x {} or pick another folder",
                         above.string(), above.string());
    }
  }
  struct stat info {};
  if (probe.canSearch(id, dir) != false && stat(dir.c_str(), &info) == 0 &&
      (info.st_mode & 0777) == 0777) {
    return ", although its mode lets everyone write: an ACL, a read-only file system or its "
           "label refuses it; pick another folder";
  }
  return ", and tav-req's child writes its answers there as that user; chmod 1777 it (the "
         "sticky bit keeps one user from replacing another's files) or pick another folder";
}

}  // namespace

void checkTaskUsers(const std::string& path, const std::vector<tav_req::Task>& tasks,
                    const CheckOptions& options, AccessProbe& probe, Findings& findings) {
  std::map<std::tuple<std::string, unsigned, std::uint32_t>, std::size_t> seen;
  std::map<std::string, std::optional<TaskUserId>> users;
  std::map<std::string, FirstFew> unknown;  // user -> its tasks
  std::vector<std::string> unknownOrder;
  std::set<std::string> outputChecked;
  const bool outputFolder = !options.outputDir.empty() && isFolder(options.outputDir);
  RootChecks root;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const tav_req::Task& task = tasks[t];
    const tav_req::TaskUser& user = task.user;
    const std::string where = fmt::format("{}: {}", path, taskWhere(tasks, t));
    const auto key = std::make_tuple(user.name, unsigned{user.macLevel}, user.macCategories);
    if (const auto [found, fresh] = seen.emplace(key, t); !fresh) {
      findings.warning(fmt::format(
          "{}: mac_label {} is also that of tasks[{}]; both children run the same identity; "
          "join them unless intended",
          where, tav::macLabelMeaning({user.macLevel, user.macCategories}), found->second));
    }
    auto known = users.find(user.name);
    if (known == users.end()) known = users.emplace(user.name, findUser(user.name)).first;
    if (!known->second) {
      if (!unknown.contains(user.name)) unknownOrder.push_back(user.name);
      unknown[user.name].add([&] { return fmt::format("tasks[{}]", t); });
      continue;
    }
    const TaskUserId& id = *known->second;
    checkCache(where, task, id, probe, root, findings);
    if (outputFolder && outputChecked.insert(user.name).second) {
      // The children write their responses files as the task user.
      const std::optional<bool> writable = probe.canWriteInto(id, options.outputDir);
      root.count(writable);
      if (writable == false) {
        findings.error(fmt::format("{}: user \"{}\" of tasks[{}] cannot write into it{}",
                                   options.outputDir, user.name, t,
                                   writeHint(options.outputDir, id, probe)));
      }
    }
  }
  for (const std::string& name : unknownOrder) {
    findings.error(fmt::format(
        "{}: user \"{}\" of {} does not exist on this machine; create the account or fix the name",
        path, name, unknown[name].text()));
  }
  if (root.skipped > 0) {
    findings.warning(fmt::format("{}: {} of what task users may read and write skipped: needs root",
                                 path, tav::counted(root.skipped, "check", "checks")));
  }
}

}  // namespace tav_suite
