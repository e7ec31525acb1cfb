#include "rep/json_fields.h"

#include <fmt/format.h>

#include <limits>
#include <utility>

namespace tav_rep {

using nlohmann::json;

json& entryMember(json& entry, const char* key) {
  // A keyed read of anything but an object raises the library's own "cannot use operator[]".
  if (!entry.is_object()) static_cast<void>(std::as_const(entry)[key]);
  return entry.at(key);
}

std::string takeString(json& value) {
  if (!value.is_string()) return value.get<std::string>();
  return std::move(value.get_ref<std::string&>());
}

std::int64_t toCode(const json& value) {
  // 2^63 is exact as a double; every double below it and at or above -2^63 truncates safely.
  constexpr double kLimit = 9223372036854775808.0;
  switch (value.type()) {
    case json::value_t::number_integer:
      return value.get<std::int64_t>();
    case json::value_t::number_unsigned: {
      const auto number = value.get<std::uint64_t>();
      if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(number);
      }
      break;
    }
    case json::value_t::number_float: {
      const auto number = value.get<double>();
      if (number >= -kLimit && number < kLimit) return static_cast<std::int64_t>(number);
      break;
    }
    default:
      // The library would turn a boolean into a number; the file formats do not.
      throw json::type_error::create(
          302, fmt::format("type must be number, but is {}", value.type_name()), &value);
  }
  throw json::out_of_range::create(
      406, fmt::format("number overflow: {} does not fit a signed 64-bit integer", value.dump()),
      &value);
}

bool toWriteAccess(const json& value) {
  const auto text = value.get<std::string>();
  if (text == "read") return false;
  if (text == "write") return true;
  throw json::other_error::create(
      501, fmt::format("access must be \"read\" or \"write\", but is {}", value.dump()), &value);
}

std::set<std::int64_t> toCodeSet(const json& value) {
  if (!value.is_array()) {
    throw json::type_error::create(
        302, fmt::format("type must be array, but is {}", value.type_name()), &value);
  }
  std::set<std::int64_t> codes;
  for (const json& element : value) codes.insert(toCode(element));
  return codes;
}

}  // namespace tav_rep
