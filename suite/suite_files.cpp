#include "suite/suite_files.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <system_error>

#include "common/json_document.h"
#include "suite/log_recorder.h"

namespace tav_suite {

namespace {

// A fresh temporary file beside the target, with the mode a plain new file would get.
std::filesystem::path temporaryFile(const std::filesystem::path& target) {
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX"));
  const int fd = mkstemp(pattern.data());
  if (fd == -1) return {};
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  return pattern;
}

void removeAll(const std::vector<std::filesystem::path>& paths) {
  std::error_code ignored;
  for (const auto& path : paths) std::filesystem::remove(path, ignored);
}

}  // namespace

bool makeFolder(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::cerr << fmt::format("error: {}: cannot create the folder: {}", dir.string(),
                             error.message())
              << std::endl;
    return false;
  }
  return true;
}

bool writeDocuments(const std::filesystem::path& dir, const std::vector<NamedDocument>& documents) {
  std::vector<std::filesystem::path> temporaries;
  for (const auto& [name, document] : documents) {
    const std::filesystem::path target = dir / name;
    const std::filesystem::path temporary = temporaryFile(target);
    if (temporary.empty()) {
      std::cerr << fmt::format("error: {}: cannot create a file there: {}", dir.string(),
                               std::strerror(errno))
                << std::endl;
      removeAll(temporaries);
      return false;
    }
    temporaries.push_back(temporary);
    LogRecorder recorder;
    if (!tav::writeJsonDocument(temporary, *document)) {
      for (const std::string& line : recorder.take()) {
        std::cerr << fmt::format("error: {}: {}", target.string(), line) << std::endl;
      }
      removeAll(temporaries);
      return false;
    }
  }
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const std::filesystem::path target = dir / documents[i].first;
    if (std::rename(temporaries[i].c_str(), target.c_str()) != 0) {
      std::cerr << fmt::format("error: {}: cannot be written: {}", target.string(),
                               std::strerror(errno))
                << std::endl;
      removeAll(std::vector<std::filesystem::path>(temporaries.begin() + i, temporaries.end()));
      return false;
    }
  }
  return true;
}

}  // namespace tav_suite
