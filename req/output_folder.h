// Files in the run's output folder, which every task user can write into: each child writes its
// own responses file there, and root reads those files back and writes responses.json. No step
// follows a symbolic link there, blocks on a FIFO, or takes a file another user planted.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace tav_req {

// In a child, as the task user: writes the text to the path. The file is created or opened
// without following a link and must be a regular file of the caller's own with no other name;
// only then is it truncated and written. Otherwise, and when a write fails, logs "failed to save
// file {}: {}" at error level and returns false.
bool writeOwnFile(const std::filesystem::path& path, const std::string& text);

// What reading a file written by another user gave: its content, or why it was not taken.
struct OwnedFileText {
  std::optional<std::string> text;
  std::string problem;  // "it is a symbolic link", "it belongs to uid 0", ...
};

// As root: the whole content of the file when it is a regular file, not a link, with one name,
// owned by `owner`; the checks look at the opened file itself, so it cannot be swapped between
// a check and the read.
OwnedFileText readOwnedFile(const std::filesystem::path& path, uid_t owner);

// As root: writes the text under a fresh temporary name in the path's folder and renames it
// over the path, so a link there is replaced, never followed, and a failed write leaves the
// path as it was. The file's mode follows the umask. Logs at error level and returns false on
// failure; the temporary file is gone then.
bool replaceFile(const std::filesystem::path& path, const std::string& text);

}  // namespace tav_req
