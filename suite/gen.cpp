#include "suite/gen.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <unordered_map>

#include "common/json_document.h"
#include "rep/report_config.h"
#include "suite/log_recorder.h"
#include "suite/suite_files.h"

namespace tav_suite {

using nlohmann::json;

std::string requestUuid(const std::string& auth, const std::string& user, const std::string& label,
                        const std::string& object) {
  std::string labelPart = label;
  std::replace(labelPart.begin(), labelPart.end(), ':', '_');
  return fmt::format("{}-{}-{}-{}", auth, user, labelPart, object);
}

std::optional<GeneratedSuite> generateSuite(const Description& description,
                                            const std::filesystem::path& descriptionPath) {
  GeneratedSuite suite{json::array(), json::array(), description.config};
  // Where each uuid came from, to name both places of a clash.
  std::unordered_map<std::string, std::string> origins;
  for (std::size_t u = 0; u < description.users.size(); ++u) {
    const UserSpec& user = description.users[u];
    for (std::size_t l = 0; l < user.labels.size(); ++l) {
      const std::string& label = user.labels[l];
      json requests = json::array();
      for (const std::string& auth : description.auth_types) {
        for (std::size_t o = 0; o < description.objects.size(); ++o) {
          const ObjectSpec& object = description.objects[o];
          std::string uuid = requestUuid(auth, user.name, label, object.name);
          std::string origin =
              fmt::format("users[{}].labels[{}] with objects[{}] by {}", u, l, o, auth);
          const auto [found, fresh] = origins.emplace(uuid, origin);
          if (!fresh) {
            reportDescriptionError(
                descriptionPath, origin,
                fmt::format("request uuid \"{}\" is also that of {}; give users, a user's labels "
                            "and objects distinct names",
                            uuid, found->second));
            return std::nullopt;
          }
          requests.push_back({{"uuid", uuid}, {"uri", object.urls.at(auth)}, {"auth_type", auth}});
          suite.metadata.push_back({{"uuid", std::move(uuid)},
                                    {"subject_label", label},
                                    {"min_mac_label", user.min_label},
                                    {"max_mac_label", user.max_label},
                                    {"object_label", object.label},
                                    {"expect_ignore_mac_label", object.ignore_mac_label}});
        }
      }
      json task = {
          {"user", {{"name", user.name}, {"password", user.password}, {"mac_label", label}}},
          {"requests", std::move(requests)}};
      if (!user.env.empty()) task["env"] = user.env;
      suite.tasks.push_back(std::move(task));
    }
  }
  return suite;
}

bool configLoads(const json& config, const std::filesystem::path& descriptionPath) {
  std::string path = (std::filesystem::temp_directory_path() / "tav-suite-config.XXXXXX").string();
  const int fd = mkstemp(path.data());
  if (fd == -1) {
    std::cerr << "error: cannot create a temporary file to try the report configuration"
              << std::endl;
    return false;
  }
  close(fd);
  LogRecorder recorder;
  const bool loads = tav::writeJsonDocument(path, config) && tav_rep::loadConfig(path);
  std::filesystem::remove(path);
  for (const std::string& line : recorder.take()) {
    reportDescriptionError(descriptionPath, "report", "tav-rep would reject it: " + line);
  }
  return loads;
}

int runGen(const std::filesystem::path& descriptionPath, const std::filesystem::path& outDir) {
  const std::optional<Description> description = loadDescription(descriptionPath);
  if (!description) return 2;
  const std::optional<GeneratedSuite> suite = generateSuite(*description, descriptionPath);
  if (!suite || !configLoads(suite->config, descriptionPath)) return 2;
  if (!makeFolder(outDir)) return 1;
  const bool written = writeDocuments(outDir, {{"tasks.json", &suite->tasks},
                                               {"metadata.json", &suite->metadata},
                                               {"config.json", &suite->config}});
  return written ? 0 : 1;
}

}  // namespace tav_suite
