#include "view/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "view/inputs.h"

namespace tav_view {

OutputFile::OutputFile(std::filesystem::path target) : target_(std::move(target)) {}

OutputFile::~OutputFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!temporary_.empty() && !committed_) ::unlink(temporary_.c_str());
}

bool OutputFile::open() {
  std::filesystem::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  std::string name = (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    reportInputError(target_.string(), std::string("cannot write: ") + std::strerror(errno));
    return false;
  }
  temporary_ = name;
  // mkstemp gives 0600; an output is an ordinary file for whoever reads the run.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  stream_ = ::fdopen(fd, "w");
  if (stream_ == nullptr) {
    ::close(fd);
    reportInputError(target_.string(), std::string("cannot write: ") + std::strerror(errno));
    return false;
  }
  return true;
}

bool OutputFile::close() {
  std::FILE* stream = stream_;
  stream_ = nullptr;
  const bool failed = std::ferror(stream) != 0;
  // A full disk shows at the latest when the buffer is written out.
  if (std::fclose(stream) != 0 || failed) {
    reportInputError(target_.string(), std::string("cannot write: ") + std::strerror(errno));
    return false;
  }
  return true;
}

bool OutputFile::commit() {
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    reportInputError(target_.string(), std::string("cannot write: ") + std::strerror(errno));
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace tav_view
