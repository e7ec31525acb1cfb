// The one-line errors and warnings of gen, split and merge on standard error, "error: FILE: why",
// with text from the files escaped for the terminal.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace tav_suite {

// "error: {file}: {why}"
void reportFileError(const std::filesystem::path& file, const std::string& why);

// "warning: {file}: {why}"
void reportFileWarning(const std::filesystem::path& file, const std::string& why);

// The items a line names: how many there are and the first few, so that a suite of a million
// requests never keeps a list of them all. Each item's text is made only when it is kept.
class FirstFew {
 public:
  static constexpr std::size_t kFew = 5;

  template <typename Make>
  void add(Make&& make) {
    if (first_.size() < kFew) first_.push_back(make());
    ++count_;
  }
  std::size_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // "a, b, c, d, e and 7 more"
  std::string text() const;

 private:
  std::size_t count_ = 0;
  std::vector<std::string> first_;
};

}  // namespace tav_suite
