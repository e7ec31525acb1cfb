// The description a suite is generated from: users with their labels, objects with their labels
// and places, the auth types and the report configuration. Read with strict checks, since a
// typo in it would otherwise become a suite that tests the wrong thing.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tav_suite {

struct UserSpec {
  std::string name;
  std::string password;
  std::vector<std::string> labels;      // as written: the uuids carry them
  std::vector<std::string> mac_labels;  // the same labels as the programs read them
  std::string min_label;                // as the programs read it
  std::string max_label;
  std::map<std::string, std::string> env;
};

struct ObjectSpec {
  std::string name;
  std::string label;  // as the programs read it
  bool ignore_mac_label = false;
  bool write = false;  // gen adds a PUT and a DELETE of a probe file per user, label and auth type
  std::map<std::string, std::string> urls;  // by auth type, absolute
};

struct Description {
  std::vector<std::string> auth_types;
  std::vector<UserSpec> users;
  std::vector<ObjectSpec> objects;
  nlohmann::json config;  // the report configuration as tav-rep reads it
};

// A description read from its document, or where (a JSON path such as "users[1].labels[0]",
// empty for the top level) and why it cannot be used.
struct DescriptionRead {
  std::optional<Description> description;
  std::string where;
  std::string why;
};
DescriptionRead readDescription(const nlohmann::json& document);

// The description in the file. No value when it is not usable; then one line on standard error
// names the file, the JSON path of the problem and why.
std::optional<Description> loadDescription(const std::filesystem::path& path);

// Prints "error: FILE: WHERE: WHY" on standard error.
void reportDescriptionError(const std::filesystem::path& path, const std::string& where,
                            const std::string& why);

}  // namespace tav_suite
