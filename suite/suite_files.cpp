#include "suite/suite_files.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <system_error>

namespace tav_suite {

namespace {

// A fresh temporary file beside the target, with the mode a plain new file would get.
std::filesystem::path temporaryFile(const std::filesystem::path& target) {
  std::string pattern = target.parent_path() / ".";
  pattern += target.filename().string();
  pattern += ".XXXXXX";
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

// True when the whole text reached the file; a full disk shows only at the close.
bool writeText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
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

std::string documentText(const nlohmann::json& document) {
  return document.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
}

bool writeFiles(const std::filesystem::path& dir, const std::vector<NamedText>& files) {
  std::vector<std::filesystem::path> temporaries;
  for (const NamedText& file : files) {
    const std::filesystem::path target = dir / file.name;
    const std::filesystem::path temporary = temporaryFile(target);
    if (temporary.empty()) {
      std::cerr << fmt::format("error: {}: cannot create a file there: {}", dir.string(),
                               std::strerror(errno))
                << std::endl;
      removeAll(temporaries);
      return false;
    }
    temporaries.push_back(temporary);
    if (!writeText(temporary, file.text)) {
      std::cerr << fmt::format("error: {}: could not be written in full", target.string())
                << std::endl;
      removeAll(temporaries);
      return false;
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::filesystem::path target = dir / files[i].name;
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

void appendJsonString(std::string& out, std::string_view text) {
  const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\';
  });
  if (plain) {
    out += '"';
    out += text;
    out += '"';
  } else {
    out += nlohmann::json(std::string(text))
               .dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  }
}

}  // namespace tav_suite
