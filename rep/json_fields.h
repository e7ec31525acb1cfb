// Conversions of single JSON values shared by the configuration and data loaders. Every
// mismatch raises one of the JSON library's exceptions, so the loaders report it like any other.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <set>
#include <string>

namespace tav_rep {

// The member `key` of an entry. A missing key raises the library's out-of-range error 403; an
// entry that is not an object raises its type error 305 naming the entry's type.
nlohmann::json& entryMember(nlohmann::json& entry, const char* key);

// Moves the text out of a string value; any other type raises the library's type error 302.
std::string takeString(nlohmann::json& value);

// A status code from any JSON number, a fractional one truncated toward zero. Other types
// raise type error 302; a number beyond the signed 64-bit range raises out-of-range error 406.
std::int64_t toCode(const nlohmann::json& value);

// Whether an entry's "access" asks for write checks: false for "read", true for "write". Any
// other text raises the library's other error 501, any other type its type error 302.
bool toWriteAccess(const nlohmann::json& value);

// An array of status codes; duplicates collapse.
std::set<std::int64_t> toCodeSet(const nlohmann::json& value);

}  // namespace tav_rep
