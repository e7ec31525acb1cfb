#include "common/output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <system_error>

namespace tav {

namespace {

// As many as the kernel follows in one path.
constexpr int kMaxLinks = 40;

// The descriptor a name such as /dev/stdout stands for, as the shell reads these names; -1 for
// any other name. Opening them anew would start a regular file from its beginning, and a socket
// cannot be opened at all.
int descriptorOf(const std::string& name) {
  if (name == "/dev/stdout") return STDOUT_FILENO;
  if (name == "/dev/stderr") return STDERR_FILENO;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!name.starts_with(prefix)) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9) return -1;
    if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(digits);
  }
  return -1;
}

// A link in a sticky folder that others may write into is followed only when its owner is this
// user or the folder's owner, as the kernel's protected_symlinks rule has it: anyone could
// have planted any other.
bool mayFollow(const struct stat& link, const std::filesystem::path& folder, std::string& reason) {
  struct stat shared {};
  if (::stat(folder.c_str(), &shared) != 0) {
    reason = std::string("cannot follow the symbolic link: ") + std::strerror(errno);
    return false;
  }
  const bool open = (shared.st_mode & S_ISVTX) != 0 && (shared.st_mode & S_IWOTH) != 0;
  if (!open || link.st_uid == ::geteuid() || link.st_uid == shared.st_uid) return true;
  reason = "is a symbolic link that another user made in the shared folder " + folder.string() +
           "; it is not followed";
  return false;
}

// A FIFO, socket or device in a sticky folder that others may write into is written to only
// when its owner is this user or the folder's owner: another user's FIFO there would hold the
// program until that user reads, and what is written goes to that user.
bool mayWriteThrough(const struct stat& entry, const std::filesystem::path& folder,
                     std::string& reason) {
  struct stat shared {};
  if (::stat(folder.c_str(), &shared) != 0) {
    reason = std::string("cannot look at its folder: ") + std::strerror(errno);
    return false;
  }
  const bool open = (shared.st_mode & S_ISVTX) != 0 && (shared.st_mode & S_IWOTH) != 0;
  if (!open || entry.st_uid == ::geteuid() || entry.st_uid == shared.st_uid) return true;
  const char* what = S_ISFIFO(entry.st_mode)   ? "a FIFO"
                     : S_ISSOCK(entry.st_mode) ? "a socket"
                                               : "a device";
  reason = std::string("is ") + what + " that another user made in the shared folder " +
           folder.string() + "; it is not written to";
  return false;
}

// The name after following every symbolic link; the name itself when it is none or does not
// exist yet.
std::optional<std::filesystem::path> followLinks(std::filesystem::path path, std::string& reason) {
  for (int hops = 0;; ++hops) {
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
      if (errno == ENOENT) return path;
      reason = std::strerror(errno);
      return std::nullopt;
    }
    if (!S_ISLNK(entry.st_mode)) return path;
    if (hops == kMaxLinks) {
      reason = std::strerror(ELOOP);
      return std::nullopt;
    }
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    if (!mayFollow(entry, folder, reason)) return std::nullopt;
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) {
      reason = "cannot read the symbolic link: " + error.message();
      return std::nullopt;
    }
    path = target.is_absolute() ? target : folder / target;
  }
}

bool namesAFolder(const std::filesystem::path& path) {
  const std::string last = path.filename().string();
  return last.empty() || last == "." || last == "..";
}

}  // namespace

std::optional<OutputTarget> resolveOutput(const std::string& name, std::string& reason) {
  OutputTarget target;
  if (name.empty()) {
    reason = "an empty text names no file";
    return std::nullopt;
  }
  if (const int descriptor = descriptorOf(name); descriptor >= 0) {
    if (::fcntl(descriptor, F_GETFL) == -1) {
      reason = std::string("cannot write: ") + std::strerror(errno);
      return std::nullopt;
    }
    target.kind = OutputKind::descriptor;
    target.descriptor = descriptor;
    return target;
  }
  // Links first, so that one another user planted is refused whatever it points to.
  std::optional<std::filesystem::path> final = followLinks(name, reason);
  if (!final) return std::nullopt;
  struct stat status {};
  if (::stat(final->c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      reason = "is a folder; name a file";
      return std::nullopt;
    }
    if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
      const std::filesystem::path folder = final->has_parent_path() ? final->parent_path() : ".";
      if (!mayWriteThrough(status, folder, reason)) return std::nullopt;
      target.kind = S_ISSOCK(status.st_mode) ? OutputKind::socket : OutputKind::stream;
      target.path = name;
      target.device = status.st_dev;
      target.inode = status.st_ino;
      return target;
    }
    if (!S_ISREG(status.st_mode)) {
      reason = "is neither a regular file nor a character device, FIFO or socket";
      return std::nullopt;
    }
  } else if (errno != ENOENT) {
    reason = std::strerror(errno);
    return std::nullopt;
  }
  if (namesAFolder(*final)) {
    reason = "is a folder; name a file";
    return std::nullopt;
  }
  target.path = std::move(*final);
  if (::stat(target.path.c_str(), &status) == 0) {
    // Another process may have put something else there since the first look.
    if (!S_ISREG(status.st_mode)) {
      reason = "changed while it was looked at; try again";
      return std::nullopt;
    }
    target.exists = true;
    target.device = status.st_dev;
    target.inode = status.st_ino;
  }
  return target;
}

std::filesystem::path hiddenNameBeside(const std::filesystem::path& target) {
  static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
  // The kernel's random source: a name another user cannot guess ahead.
  std::random_device random;
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  // Keeps the name within NAME_MAX whatever the target's name.
  std::string name = "." + target.filename().string().substr(0, 200) + ".";
  for (int i = 0; i < 12; ++i) name += kLetters[pick(random)];
  return target.has_parent_path() ? target.parent_path() / name : std::filesystem::path(name);
}

}  // namespace tav
