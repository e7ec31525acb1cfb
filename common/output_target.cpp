#include "common/output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <system_error>
#include <vector>

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

// Only a link of this user or of root is followed. Another user's link may point at anything
// this process can write, and that user may make one wherever they can write: in a folder of
// their own as well as in a shared sticky one.
bool mayFollow(const struct stat& link, const std::filesystem::path& folder, std::string& reason) {
  if (link.st_uid == ::geteuid() || link.st_uid == 0) return true;
  struct stat shared {};
  const bool open = ::stat(folder.c_str(), &shared) == 0 && (shared.st_mode & S_ISVTX) != 0 &&
                    (shared.st_mode & S_IWOTH) != 0;
  reason = open ? "is a symbolic link that another user made in the shared folder " +
                      folder.string() + "; it is not followed"
                : "is a symbolic link that another user (uid " + std::to_string(link.st_uid) +
                      ") made; it is not followed";
  return false;
}

// The name after following every symbolic link in it, in the folders on the way as well as at
// its end; what does not exist yet stays as written.
std::optional<std::filesystem::path> followLinks(const std::filesystem::path& name,
                                                 std::string& reason) {
  // Components still to walk, the next one last.
  const std::filesystem::path relative = name.relative_path();
  std::vector<std::filesystem::path> rest(relative.begin(), relative.end());
  std::reverse(rest.begin(), rest.end());
  std::filesystem::path done = name.root_path();  // holds no link
  for (int hops = 0; !rest.empty();) {
    const std::filesystem::path part = std::move(rest.back());
    rest.pop_back();
    if (part.empty() || part == ".") continue;
    if (part == ".." && !done.empty() && done.filename() != ".." && done != done.root_path()) {
      done = done.parent_path();
      continue;
    }
    const std::filesystem::path next = done / part;
    struct stat entry {};
    if (::lstat(next.c_str(), &entry) != 0) {
      if (errno != ENOENT) {
        reason = std::strerror(errno);
        return std::nullopt;
      }
      done = next;
      while (!rest.empty()) {
        done /= rest.back();
        rest.pop_back();
      }
      break;
    }
    if (!S_ISLNK(entry.st_mode)) {
      done = next;
      continue;
    }
    if (++hops > kMaxLinks) {
      reason = std::strerror(ELOOP);
      return std::nullopt;
    }
    if (!mayFollow(entry, done.empty() ? "." : done, reason)) return std::nullopt;
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(next, error);
    if (error) {
      reason = "cannot read the symbolic link: " + error.message();
      return std::nullopt;
    }
    if (target.is_absolute()) done = target.root_path();
    const std::filesystem::path inside = target.relative_path();
    std::vector<std::filesystem::path> parts(inside.begin(), inside.end());
    rest.insert(rest.end(), parts.rbegin(), parts.rend());
  }
  if (done.empty()) done = ".";
  return done;
}

// A FIFO or socket in a sticky folder that others may write into is written only when its owner
// is this user or the folder's owner, as the kernel's protected_fifos rule has it: anyone could
// have made any other one to read what is written or to hold the program up.
bool mayWriteThrough(const struct stat& entry, const std::filesystem::path& path,
                     std::string& reason) {
  if (!S_ISFIFO(entry.st_mode) && !S_ISSOCK(entry.st_mode)) return true;
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  struct stat shared {};
  if (::stat(folder.c_str(), &shared) != 0) return true;
  const bool open = (shared.st_mode & S_ISVTX) != 0 && (shared.st_mode & S_IWOTH) != 0;
  if (!open || entry.st_uid == ::geteuid() || entry.st_uid == shared.st_uid) return true;
  reason = std::string("is a ") + (S_ISFIFO(entry.st_mode) ? "FIFO" : "socket") +
           " that another user made in the shared folder " + folder.string() +
           "; it is not written to";
  return false;
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
  // Every link on the way is judged before anything it leads to is looked at.
  std::optional<std::filesystem::path> final = followLinks(name, reason);
  if (!final) return std::nullopt;
  if (namesAFolder(name) || namesAFolder(*final)) {
    reason = "is a folder; name a file";
    return std::nullopt;
  }
  struct stat status {};
  if (::lstat(final->c_str(), &status) != 0) {
    if (errno != ENOENT) {
      reason = std::strerror(errno);
      return std::nullopt;
    }
    target.path = std::move(*final);
    return target;
  }
  if (S_ISDIR(status.st_mode)) {
    reason = "is a folder; name a file";
    return std::nullopt;
  }
  if (S_ISLNK(status.st_mode)) {
    // Another process put a link there since the first look.
    reason = "changed while it was looked at; try again";
    return std::nullopt;
  }
  if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    if (!mayWriteThrough(status, *final, reason)) return std::nullopt;
    target.kind = S_ISSOCK(status.st_mode) ? OutputKind::socket : OutputKind::stream;
    target.path = std::move(*final);
    target.device = status.st_dev;
    target.inode = status.st_ino;
    return target;
  }
  if (!S_ISREG(status.st_mode)) {
    reason = "is neither a regular file nor a character device, FIFO or socket";
    return std::nullopt;
  }
  target.path = std::move(*final);
  target.exists = true;
  target.device = status.st_dev;
  target.inode = status.st_ino;
  return target;
}

std::optional<std::filesystem::path> followOutputLinks(const std::string& name,
                                                       std::string& reason) {
  return followLinks(name, reason);
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
