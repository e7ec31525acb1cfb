#include "tests/support/tasks_json.h"

namespace tav_test {

json request(const std::string& uuid, const std::string& url, const std::string& auth) {
  return {{"uuid", uuid}, {"uri", url}, {"auth_type", auth}};
}

json task(const std::string& user, const std::string& label, const std::vector<json>& requests,
          const json& env) {
  json value = {{"user", {{"name", user}, {"password", "pw-" + user}, {"mac_label", label}}},
                {"requests", json(requests)}};
  if (!env.is_null()) value["env"] = env;
  return value;
}

}  // namespace tav_test
