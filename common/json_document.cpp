#include "common/json_document.h"

#include <spdlog/spdlog.h>

#include <array>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "common/output_set.h"

namespace tav {

std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  // Sized up front, a large file takes its own size in memory once instead of a growing
  // buffer and a copy of it; a file without a size (a pipe, /proc) just grows the text.
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error) text.reserve(static_cast<std::size_t>(size));
  std::array<char, 65536> chunk;
  while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
    text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  return text;
}

namespace {

// Deeper than any file of tav needs. The library parses any depth, but its writer recurses: a
// text nested a hundred thousand deep and written back ends the program by SIGSEGV.
constexpr std::size_t kMaxDepth = 1000;

// Where the nesting first goes past the limit, or npos; strings are passed over.
std::size_t tooDeepAt(const std::string& text) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return i;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return std::string::npos;
}

}  // namespace

nlohmann::json parseJsonText(const std::string& text,
                             const nlohmann::json::parser_callback_t& callback) {
  // The library takes a NUL byte for the end of the input and would ignore what follows it;
  // no JSON text holds one, so it is an error where it stands.
  if (const auto nul = text.find('\0'); nul != std::string::npos) {
    throw nlohmann::json::parse_error::create(
        101, nul + 1, "syntax error while parsing value - NUL byte in the input", nullptr);
  }
  return nlohmann::json::parse(text, callback, true, false);
}

nlohmann::json parseWritableJsonText(const std::string& text) {
  if (const auto deep = tooDeepAt(text); deep != std::string::npos) {
    throw nlohmann::json::parse_error::create(
        101, deep + 1,
        "syntax error while parsing value - nesting deeper than " + std::to_string(kMaxDepth) +
            " levels",
        nullptr);
  }
  return parseJsonText(text);
}

void logJsonFailure(std::string_view prefix, const nlohmann::json::exception& error) {
  if (const auto* parseError = dynamic_cast<const nlohmann::json::parse_error*>(&error)) {
    spdlog::critical("{}: {}; exception id {}; byte position of error: {}", prefix,
                     parseError->what(), parseError->id, parseError->byte);
  } else {
    spdlog::critical("{}: {}; exception id {}", prefix, error.what(), error.id);
  }
}

bool writeJsonDocument(const std::filesystem::path& path, const nlohmann::json& value) {
  const std::string pathText = path.string();
  std::string text;
  try {
    text = value.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception& error) {
    spdlog::error("could not serialize json to {}: {}", pathText, error.what());
    return false;
  }
  // The outputs' one way: a link another user planted is not followed, another user's FIFO
  // is not waited on, and a failed write leaves the old file, not a partial one.
  OutputSet outputs([](const std::string& name, const std::string& reason) {
    spdlog::error("failed to save file {}: {}", name, reason);
  });
  outputs.add(pathText, std::move(text));
  if (!outputs.commit()) return false;
  spdlog::info("saved result to {}", pathText);
  return true;
}

}  // namespace tav
