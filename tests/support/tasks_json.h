// Entries of a tav-req tasks file, built as JSON.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tav_test {

using nlohmann::json;

json request(const std::string& uuid, const std::string& url, const std::string& auth = "basic");
// A task of the user (password "pw-" + user) at the label; env, when not null, is its
// environment object.
json task(const std::string& user, const std::string& label, const std::vector<json>& requests,
          const json& env = nullptr);

}  // namespace tav_test
