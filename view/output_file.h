// An output file written under a temporary name in its target's folder and renamed into place
// only when every output was written, so that a failed run leaves no file half written.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace tav_view {

class OutputFile {
 public:
  explicit OutputFile(std::filesystem::path target);
  ~OutputFile();  // removes the temporary file unless it was renamed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file; false after writing why to standard error.
  bool open();
  std::FILE* stream() { return stream_; }
  // Flushes and closes the temporary file; false after writing why to standard error.
  bool close();
  // Renames the closed temporary file to the target; false after writing why.
  bool commit();

 private:
  std::filesystem::path target_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
};

}  // namespace tav_view
