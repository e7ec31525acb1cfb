#include "common/output_set.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <system_error>
#include <utility>

namespace tav {

namespace {

// While a set is written, a reader that goes away gives the write an error to report
// instead of ending the process with SIGPIPE halfway through the set.
class IgnoredSigpipe {
 public:
  IgnoredSigpipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &saved_);
  }
  ~IgnoredSigpipe() { ::sigaction(SIGPIPE, &saved_, nullptr); }
  IgnoredSigpipe(const IgnoredSigpipe&) = delete;
  IgnoredSigpipe& operator=(const IgnoredSigpipe&) = delete;

 private:
  struct sigaction saved_ {};
};

// The signals that end a program midway; their handler removes the set's temporary files first.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Blocks the ending signals for its lifetime: the names the handler reads change only then, and
// a set being renamed into place is never left half done.
class EndingSignalsBlocked {
 public:
  EndingSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kEndingSignals) sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~EndingSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
  EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;

 private:
  sigset_t saved_{};
};

std::string errorText(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

// Two new files are the same when their names lead to the same place.
std::string placeOf(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path.lexically_normal().string();
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal().string() : canonical.string();
}

int connectTo(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = path.string();
  if (name.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

const std::vector<OutputSet::Output>* OutputSet::writing_ = nullptr;

void OutputSet::endWithoutTemporaries(int signal) {
  if (writing_ != nullptr) {
    for (const Output& output : *writing_) {
      if (!output.temporary.empty()) ::unlink(output.temporary.c_str());
    }
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
}

// While a set is written, SIGINT, SIGTERM and SIGHUP remove its temporary files before they end
// the program; a signal the caller ignored (nohup) stays ignored.
class OutputSet::EndingSignals {
 public:
  explicit EndingSignals(const std::vector<Output>& outputs) {
    const EndingSignalsBlocked blocked;
    writing_ = &outputs;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      ::sigaction(kEndingSignals[i], nullptr, &saved_[i]);
      if (saved_[i].sa_handler == SIG_IGN) continue;
      struct sigaction handler {};
      handler.sa_handler = &OutputSet::endWithoutTemporaries;
      sigfillset(&handler.sa_mask);
      ::sigaction(kEndingSignals[i], &handler, nullptr);
    }
  }
  ~EndingSignals() {
    const EndingSignalsBlocked blocked;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
      ::sigaction(kEndingSignals[i], &saved_[i], nullptr);
    }
    writing_ = nullptr;
  }
  EndingSignals(const EndingSignals&) = delete;
  EndingSignals& operator=(const EndingSignals&) = delete;

 private:
  struct sigaction saved_[std::size(kEndingSignals)]{};
};

OutputSet::~OutputSet() {
  discard();
}

void OutputSet::addInput(const std::string& name) {
  inputs_.push_back(name);
}

void OutputSet::add(const std::string& name, Write write) {
  Output output;
  output.name = name;
  output.write = std::move(write);
  outputs_.push_back(std::move(output));
}

void OutputSet::add(const std::string& name, std::string text) {
  add(name,
      [text = std::move(text)](std::FILE* out) { std::fwrite(text.data(), 1, text.size(), out); });
}

void OutputSet::addRemoval(const std::string& name) {
  Output output;
  output.name = name;
  output.removal = true;
  outputs_.push_back(std::move(output));
}

bool OutputSet::commit() {
  const IgnoredSigpipe ignored;
  if (!plan() || !checkIdentities()) return false;
  const EndingSignals ending(outputs_);
  // Files first: a device that refuses its content then still leaves every file as it was.
  for (Output& output : outputs_) {
    if (!output.removal && output.target.kind == OutputKind::file && !writeTemporary(output)) {
      discard();
      return false;
    }
  }
  for (Output& output : outputs_) {
    if (!output.removal && output.target.kind != OutputKind::file && !writeThrough(output)) {
      discard();
      return false;
    }
  }
  // Renames only, and quick: a signal waits until the set is whole again.
  const EndingSignalsBlocked renaming;
  if (!place()) {
    restore();
    discard();
    return false;
  }
  for (Output& output : outputs_) {
    // A backup that stays behind is a hidden copy of the old content, never a loss.
    if (!output.backup.empty()) ::unlink(output.backup.c_str());
    output.backup.clear();
  }
  return true;
}

bool OutputSet::plan() {
  std::erase_if(outputs_, [](const Output& output) {
    struct stat entry {};
    return output.removal && (::lstat(output.name.c_str(), &entry) != 0 || !S_ISREG(entry.st_mode));
  });
  for (Output& output : outputs_) {
    if (output.removal) {
      struct stat entry {};
      ::lstat(output.name.c_str(), &entry);
      output.target = {OutputKind::file, -1, output.name, true, entry.st_dev, entry.st_ino};
      continue;
    }
    std::string reason;
    std::optional<OutputTarget> target = resolveOutput(output.name, reason);
    if (!target) {
      report_(output.name, reason);
      return false;
    }
    output.target = std::move(*target);
  }
  return true;
}

bool OutputSet::checkIdentities() {
  std::map<std::pair<dev_t, ino_t>, const std::string*> files;
  for (const std::string& input : inputs_) {
    struct stat status {};
    if (::stat(input.c_str(), &status) == 0)
      files.try_emplace({status.st_dev, status.st_ino}, &input);
  }
  for (const Output& output : outputs_) {
    if (output.target.kind != OutputKind::file || !output.target.exists) continue;
    const auto found = files.find({output.target.device, output.target.inode});
    if (found != files.end()) {
      report_(output.name, "is the same file as the input " + *found->second +
                               (output.removal ? "; it would be removed" : "; name another file"));
      return false;
    }
  }
  // Devices and FIFOs may take several outputs, one after the other; a file holds only one.
  std::map<std::string, const std::string*> newFiles;
  for (const Output& output : outputs_) {
    if (output.removal || output.target.kind != OutputKind::file) continue;
    const std::string* other = nullptr;
    if (output.target.exists) {
      const auto [found, fresh] =
          files.try_emplace({output.target.device, output.target.inode}, &output.name);
      if (!fresh) other = found->second;
    } else {
      const auto [found, fresh] = newFiles.try_emplace(placeOf(output.target.path), &output.name);
      if (!fresh) other = found->second;
    }
    if (other != nullptr) {
      report_(output.name, "is the same file as the output " + *other + "; name each output once");
      return false;
    }
  }
  return true;
}

bool OutputSet::writeTemporary(Output& output) {
  int fd = -1;
  int error = 0;
  {
    // The name is known to the signal handler from the moment the file exists.
    const EndingSignalsBlocked naming;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
      output.temporary = hiddenNameBeside(output.target.path).string();
      // The mode of a new file follows the umask, as for any file the user creates.
      fd = ::open(output.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
      if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
      error = errno;
      output.temporary.clear();
    }
  }
  if (fd < 0) {
    report_(output.name, errorText("cannot write", error));
    return false;
  }
  return writeStream(fd, output);
}

bool OutputSet::writeThrough(Output& output) {
  const OutputTarget& target = output.target;
  int fd = -1;
  if (target.kind == OutputKind::descriptor) {
    fd = ::fcntl(target.descriptor, F_DUPFD_CLOEXEC, 3);
  } else if (target.kind == OutputKind::socket) {
    fd = connectTo(target.path);
  } else {
    // The path holds no link any more: one put there since is refused.
    fd = ::open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    // A name swapped for a link to a regular file between the look and the open is refused:
    // writing through it would overwrite that file in place.
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != target.device ||
                    opened.st_ino != target.inode)) {
      ::close(fd);
      report_(output.name, "changed while it was looked at; try again");
      return false;
    }
  }
  if (fd < 0) {
    report_(output.name, errorText("cannot write", errno));
    return false;
  }
  return writeStream(fd, output);
}

bool OutputSet::writeStream(int fd, Output& output) {
  std::FILE* stream = ::fdopen(fd, "w");
  if (stream == nullptr) {
    const int error = errno;
    ::close(fd);
    report_(output.name, errorText("cannot write", error));
    return false;
  }
  int error = 0;
  errno = 0;
  try {
    output.write(stream);
  } catch (const std::system_error& failure) {
    error = failure.code().value();
  }
  if (error == 0 && std::ferror(stream) != 0) error = errno != 0 ? errno : EIO;
  // A full disk or device shows at the latest when the buffer is written out.
  if (std::fclose(stream) != 0 && error == 0) error = errno;
  if (error != 0) {
    report_(output.name, errorText("cannot write", error));
    return false;
  }
  return true;
}

bool OutputSet::makeBackup(Output& output) {
  const std::string& target = output.target.path.string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    output.backup = hiddenNameBeside(output.target.path).string();
    // A second name keeps the old file in place until the new one replaces it; a removal, or
    // a file system without hard links, moves it aside instead.
    if (!output.removal && ::link(target.c_str(), output.backup.c_str()) == 0) {
      output.backupIsLink = true;
      return true;
    }
    if (!output.removal && errno == EEXIST) continue;
    // rename() would replace a file of that name: link() above found it free.
    if (::rename(target.c_str(), output.backup.c_str()) == 0) return true;
    if (errno != EEXIST) break;
  }
  const int error = errno;
  output.backup.clear();
  report_(output.name,
          errorText(output.removal ? "cannot be removed" : "cannot be replaced", error));
  return false;
}

bool OutputSet::place() {
  for (Output& output : outputs_) {
    if (output.target.kind != OutputKind::file) continue;
    if (output.target.exists && !makeBackup(output)) return false;
    if (output.removal) {
      output.placed = true;
      continue;
    }
    if (::rename(output.temporary.c_str(), output.target.path.c_str()) != 0) {
      report_(output.name, errorText("cannot be replaced", errno));
      return false;
    }
    output.temporary.clear();
    output.placed = true;
  }
  return true;
}

void OutputSet::restore() {
  for (auto output = outputs_.rbegin(); output != outputs_.rend(); ++output) {
    const std::string target = output->target.path.string();
    if (!output->backup.empty() && (output->placed || !output->backupIsLink)) {
      if (::rename(output->backup.c_str(), target.c_str()) != 0) {
        report_(output->name, errorText("could not be put back", errno) +
                                  "; its old content is in " + output->backup);
      }
    } else if (!output->backup.empty()) {
      ::unlink(output->backup.c_str());
    } else if (output->placed) {
      // It did not exist before the set.
      ::unlink(target.c_str());
    }
    output->backup.clear();
    output->placed = false;
  }
}

void OutputSet::discard() {
  const EndingSignalsBlocked removing;
  for (Output& output : outputs_) {
    if (!output.temporary.empty()) ::unlink(output.temporary.c_str());
    output.temporary.clear();
  }
}

}  // namespace tav
