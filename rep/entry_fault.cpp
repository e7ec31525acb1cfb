#include "rep/entry_fault.h"

#include <fmt/format.h>

#include <initializer_list>
#include <string_view>
#include <utility>

#include "rep/json_fields.h"

namespace tav_rep {

namespace {

using nlohmann::json;

enum class Kind { text, boolean, code, codes, access };

// Why the member `key` of an object cannot be converted as the loaders convert it.
std::optional<std::string> memberFault(const json& object, const char* key, Kind kind) {
  if (!object.contains(key)) return fmt::format("has no \"{}\"", key);
  const json& value = object[key];
  switch (kind) {
    case Kind::text:
      if (value.is_string()) return std::nullopt;
      return fmt::format("\"{}\" is {}, not a string", key, value.type_name());
    case Kind::boolean:
      if (value.is_boolean()) return std::nullopt;
      return fmt::format("\"{}\" is {}, not true or false", key, value.type_name());
    case Kind::code:
      break;
    case Kind::access:
      if (!value.is_string()) {
        return fmt::format("\"{}\" is {}, not a string", key, value.type_name());
      }
      if (value == "read" || value == "write") return std::nullopt;
      return fmt::format("\"{}\" is {}, not \"read\" or \"write\"", key, value.dump());
    case Kind::codes:
      if (!value.is_array()) {
        return fmt::format("\"{}\" is {}, not an array", key, value.type_name());
      }
      for (std::size_t i = 0; i < value.size(); ++i) {
        try {
          toCode(value[i]);
        } catch (const json::type_error&) {
          return fmt::format("\"{}\"[{}] is {}, not a number", key, i, value[i].type_name());
        } catch (const json::out_of_range&) {
          return fmt::format("\"{}\"[{}] {} does not fit a signed 64-bit integer", key, i,
                             value[i].dump());
        }
      }
      return std::nullopt;
  }
  try {
    toCode(value);
  } catch (const json::type_error&) {
    return fmt::format("\"{}\" is {}, not a number", key, value.type_name());
  } catch (const json::out_of_range&) {
    return fmt::format("\"{}\" {} does not fit a signed 64-bit integer", key, value.dump());
  }
  return std::nullopt;
}

using Keys = std::initializer_list<std::pair<const char*, Kind>>;

// Keys an entry may leave out; checked only where present.
constexpr const char* kOptionalKey = "access";

std::optional<std::string> entryFault(const json& entry, Keys keys) {
  if (!entry.is_object()) return fmt::format("is {}, not an object", entry.type_name());
  for (const auto& [key, kind] : keys) {
    if (key == std::string_view(kOptionalKey) && !entry.contains(key)) continue;
    if (std::optional<std::string> fault = memberFault(entry, key, kind)) return fault;
  }
  return std::nullopt;
}

// The entries as the loaders walk them: an array's elements, an object's member values, none
// for null, the value itself otherwise.
std::optional<std::string> firstFault(const json& document, Keys keys) {
  if (document.is_array()) {
    for (std::size_t k = 0; k < document.size(); ++k) {
      if (std::optional<std::string> fault = entryFault(document[k], keys)) {
        return fmt::format("[{}]: {}", k, *fault);
      }
    }
  } else if (document.is_object()) {
    for (const auto& [name, entry] : document.items()) {
      if (std::optional<std::string> fault = entryFault(entry, keys)) {
        return fmt::format("[\"{}\"]: {}", name, *fault);
      }
    }
  } else if (!document.is_null()) {
    if (std::optional<std::string> fault = entryFault(document, keys)) {
      return fmt::format("the top level {}", *fault);
    }
  }
  return std::nullopt;
}

}  // namespace

constexpr Keys kMetadataKeys = {
    {"uuid", Kind::text},          {"object_label", Kind::text},
    {"subject_label", Kind::text}, {"min_mac_label", Kind::text},
    {"max_mac_label", Kind::text}, {"expect_ignore_mac_label", Kind::boolean},
    {"access", Kind::access}};

std::optional<std::string> metadataFault(const json& document) {
  return firstFault(document, kMetadataKeys);
}

std::optional<std::string> metadataEntryFault(const json& entry) {
  return entryFault(entry, kMetadataKeys);
}

std::optional<std::string> responsesFault(const json& document) {
  return firstFault(document, {{"uuid", Kind::text}, {"code", Kind::code}, {"body", Kind::text}});
}

std::optional<std::string> configFault(const json& document) {
  if (!document.is_object()) {
    return fmt::format("the top level is {}, not an object", document.type_name());
  }
  for (const auto& [key, kind] : Keys{{"check_body", Kind::boolean},
                                      {"body_template", Kind::text},
                                      {"allowed_codes", Kind::codes},
                                      {"denied_codes", Kind::codes}}) {
    if (std::optional<std::string> fault = memberFault(document, key, kind)) return fault;
  }
  return std::nullopt;
}

}  // namespace tav_rep
