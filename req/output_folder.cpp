#include "req/output_folder.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tav_req {

namespace {

// Closes the descriptor at the end of the scope unless it was closed on purpose before.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
  // close's own result: on some file systems a failed write shows only here.
  bool closeNow() { return close(std::exchange(fd, -1)) == 0; }
};

bool writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Why a file met in the shared folder is not one to trust; empty when it is a regular file of
// the owner's with a single name.
std::string problemOf(const struct stat& info, uid_t owner) {
  if (!S_ISREG(info.st_mode)) return "it is not a regular file";
  if (info.st_uid != owner) return fmt::format("it belongs to uid {}", info.st_uid);
  if (info.st_nlink != 1) return fmt::format("it has {} names (hard links)", info.st_nlink);
  return {};
}

// O_NOFOLLOW: a link is refused (ELOOP); O_NONBLOCK: a FIFO never holds the open up.
constexpr int kSharedFolderFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

std::string openProblem(int error) {
  if (error == ELOOP) return "it is a symbolic link";
  if (error == EISDIR || error == ENXIO) return "it is not a regular file";
  return {};
}

mode_t currentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

bool writeOwnFile(const std::filesystem::path& path, const std::string& text) {
  const std::string name = path.string();
  const auto fail = [&](const std::string& why) {
    spdlog::error("failed to save file {}: {}", name, why);
    return false;
  };
  // No O_TRUNC: a file that turns out not to be ours is left as it was.
  FdCloser fd{open(name.c_str(), O_WRONLY | O_CREAT | kSharedFolderFlags, 0666)};
  if (fd.fd < 0) {
    const int error = errno;
    const std::string problem = openProblem(error);
    return fail(problem.empty() ? fmt::format("could not open file: {}.", std::strerror(error))
                                : problem + ".");
  }
  struct stat info {};
  if (fstat(fd.fd, &info) != 0) return fail("could not open file.");
  if (const std::string problem = problemOf(info, geteuid()); !problem.empty()) {
    return fail(problem + ".");
  }
  if (ftruncate(fd.fd, 0) != 0 || !writeAll(fd.fd, text) || !fd.closeNow()) {
    const int error = errno;
    // A cut-off file is no answer: it goes, while its name is still this very file.
    struct stat now {};
    if (lstat(name.c_str(), &now) == 0 && now.st_dev == info.st_dev && now.st_ino == info.st_ino) {
      unlink(name.c_str());
    }
    return fail(fmt::format("could not write file: {}.", std::strerror(error)));
  }
  return true;
}

OwnedFileText readOwnedFile(const std::filesystem::path& path, uid_t owner) {
  OwnedFileText result;
  FdCloser fd{open(path.c_str(), O_RDONLY | kSharedFolderFlags)};
  if (fd.fd < 0) {
    const int error = errno;
    result.problem = openProblem(error);
    if (result.problem.empty()) result.problem = fmt::format("open: {}", std::strerror(error));
    return result;
  }
  struct stat info {};
  if (fstat(fd.fd, &info) != 0) {
    result.problem = fmt::format("fstat: {}", std::strerror(errno));
    return result;
  }
  result.problem = problemOf(info, owner);
  if (!result.problem.empty()) return result;
  std::string text;
  text.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (ssize_t n; (n = read(fd.fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.problem = fmt::format("read: {}", std::strerror(errno));
      return result;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  result.text = std::move(text);
  return result;
}

bool replaceFile(const std::filesystem::path& path, const std::string& text) {
  const std::string name = path.string();
  // A hidden name, so that nothing that lists the folder takes it for a result meanwhile.
  std::string temporary =
      (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  // mkostemp creates with O_EXCL under a random name: nothing planted can be in the way.
  FdCloser fd{mkostemp(temporary.data(), O_CLOEXEC)};
  if (fd.fd < 0) {
    spdlog::error("failed to save file {}: could not open file: {}.", name, std::strerror(errno));
    return false;
  }
  const auto fail = [&](const std::string& why) {
    spdlog::error("failed to save file {}: {}", name, why);
    unlink(temporary.c_str());
    return false;
  };
  // mkostemp's 0600 would keep the result from tav-rep running as another user.
  if (fchmod(fd.fd, 0666 & ~currentUmask()) != 0 || !writeAll(fd.fd, text) || !fd.closeNow()) {
    return fail(fmt::format("could not write file: {}.", std::strerror(errno)));
  }
  if (rename(temporary.c_str(), name.c_str()) != 0) {
    return fail(fmt::format("could not rename {} to it: {}", temporary, std::strerror(errno)));
  }
  return true;
}

}  // namespace tav_req
