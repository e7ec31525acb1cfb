// Reading and writing the suite's JSON documents: a whole file is read and parsed in one go,
// the JSON library's failures become one critical log line and an empty result, and a write
// reports success as a bool.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>

namespace tav {

// The whole content of the file; a file that cannot be opened reads as empty text.
std::string readWholeFile(const std::filesystem::path& path);

// One JSON document without comments; throws the library's parse error on anything else,
// a NUL byte included. The callback, when given, sees every value as the library's parser
// callback does and may drop it.
nlohmann::json parseJsonText(const std::string& text,
                             const nlohmann::json::parser_callback_t& callback = nullptr);

// As parseJsonText, for a document whose values are written back as they are (tav-suite's
// outputs): nesting deeper than a thousand levels is a parse error where it passes the limit.
nlohmann::json parseWritableJsonText(const std::string& text);

// Logs a JSON library failure at critical level with the prefix, its text, its id and, for a
// parse error, the byte position.
void logJsonFailure(std::string_view prefix, const nlohmann::json::exception& error);

// Reads, parses and converts the file inside one guarded region. Returns what `convert`
// returns, or an empty value after logging the JSON library's failure.
template <typename Convert>
auto readJsonDocument(const std::filesystem::path& path, std::string_view prefix, Convert&& convert)
    -> std::invoke_result_t<Convert, const nlohmann::json&> {
  using Result = std::invoke_result_t<Convert, const nlohmann::json&>;
  try {
    const nlohmann::json document = parseJsonText(readWholeFile(path));
    return convert(document);
  } catch (const nlohmann::json::exception& error) {
    logJsonFailure(prefix, error);
  }
  return Result{};
}

// Writes the value with an indent of 2, UTF-8 as is, no newline at the end. Returns true
// only when the whole text reached the file; otherwise logs why and returns false.
bool writeJsonDocument(const std::filesystem::path& path, const nlohmann::json& value);

}  // namespace tav
