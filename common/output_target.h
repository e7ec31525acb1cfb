// Where an output named on a command line goes, decided before anything is written: a
// descriptor the program already holds (/dev/stdout), a device, FIFO or socket written as it
// stands, or a regular file that a new one replaces by rename. Symbolic links are followed to
// their final target, so the link stays and what it points to gets the new content; only links
// of this user or of root, in the folders on the way as in the last name.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace tav {

enum class OutputKind {
  descriptor,  // a descriptor of the process itself
  stream,      // a character device or FIFO, opened and written through
  socket,      // a Unix stream socket, connected to and written through
  file,        // a regular file, new or replaced
};

struct OutputTarget {
  OutputKind kind = OutputKind::file;
  int descriptor = -1;         // descriptor: which one
  std::filesystem::path path;  // stream, socket, file: the final target, links followed
  bool exists = false;         // file: the final target exists now
  dev_t device = 0;            // stream, socket, an existing file: what the name is now
  ino_t inode = 0;
};

// The target of the name; no value after setting `reason`, in words ("is a folder; ...").
std::optional<OutputTarget> resolveOutput(const std::string& name, std::string& reason);

// The name with every symbolic link on its way followed; no value after setting `reason` when
// one of them is another user's (or cannot be read), for a program that writes by other means.
std::optional<std::filesystem::path> followOutputLinks(const std::string& name,
                                                       std::string& reason);

// A name for a new file beside `target`, hidden and random: ".{name}.{12 random letters}".
std::filesystem::path hiddenNameBeside(const std::filesystem::path& target);

}  // namespace tav
