// Shared by the fuzz targets: the loaders take paths, so each input goes into an in-memory file
// reached through /proc; and every log line goes to a null sink, formatted but never written
// (fuzz_support.cpp sets that up before the first input).
#pragma once

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace tav_test {

// A memory-backed file that each input replaces; opening path() reads it from the start.
class MemFile {
 public:
  explicit MemFile(const char* name) : fd_(memfd_create(name, 0)) {
    if (fd_ < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemFile() { close(fd_); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  void write(const void* data, std::size_t size) {
    if (ftruncate(fd_, 0) != 0) std::abort();
    const auto* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
      const ssize_t n = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
  }
  void write(const std::string& text) { write(text.data(), text.size()); }

  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Trace level keeps every message's formatting in the run; the sink drops the text.
inline void silenceLogging() {
  auto logger =
      std::make_shared<spdlog::logger>("fuzz", std::make_shared<spdlog::sinks::null_sink_mt>());
  logger->set_level(spdlog::level::trace);
  spdlog::set_default_logger(std::move(logger));
}

// A broken property: print it and abort, so libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace tav_test
