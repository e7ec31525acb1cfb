#include "suite/gen.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <iostream>
#include <unordered_set>

#include "common/json_document.h"
#include "common/log_capture.h"
#include "common/output_set.h"
#include "common/progress_line.h"
#include "rep/report_config.h"
#include "suite/report_line.h"
#include "suite/suite_files.h"

namespace tav_suite {

namespace {

using nlohmann::json;

std::string uuidLabel(std::string label) {
  std::replace(label.begin(), label.end(), ':', '_');
  return label;
}

std::string jsonString(std::string_view text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

// Calls `visit` with every request's place in generation order: user, label, auth type and
// object indexes; stops when it returns false.
void forEachRequest(
    const Description& description,
    const std::function<bool(std::size_t, std::size_t, std::size_t, std::size_t)>& visit) {
  for (std::size_t u = 0; u < description.users.size(); ++u) {
    for (std::size_t l = 0; l < description.users[u].labels.size(); ++l) {
      for (std::size_t a = 0; a < description.auth_types.size(); ++a) {
        for (std::size_t o = 0; o < description.objects.size(); ++o) {
          if (!visit(u, l, a, o)) return;
        }
      }
    }
  }
}

std::string origin(const Description& description, std::size_t u, std::size_t l, std::size_t a,
                   std::size_t o) {
  return fmt::format("users[{}].labels[{}] with objects[{}] by {}", u, l, o,
                     description.auth_types[a]);
}

std::string uuidOf(const Description& description, std::size_t u, std::size_t l, std::size_t a,
                   std::size_t o) {
  const UserSpec& user = description.users[u];
  return requestUuid(description.auth_types[a], user.name, user.labels[l],
                     description.objects[o].name);
}

// The first request with the uuid, found again only when a clash is reported.
std::string firstOrigin(const Description& description, const std::string& uuid) {
  std::string found;
  forEachRequest(description, [&](std::size_t u, std::size_t l, std::size_t a, std::size_t o) {
    const std::string read = uuidOf(description, u, l, a, o);
    const bool write = description.objects[o].write;
    const char* what = "";
    if (write && read + kPutSuffix == uuid) {
      what = " (its PUT)";
    } else if (write && read + kDeleteSuffix == uuid) {
      what = " (its DELETE)";
    } else if (read != uuid) {
      return true;
    }
    found = origin(description, u, l, a, o) + what;
    return false;
  });
  return found;
}

// Bytes a URL path segment keeps as they are; every other byte is written %XX.
bool unreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

// The folder of an object's URL: the URL itself when it ends in '/', else up to its last '/'
// after the host (a query or fragment dropped).
std::string areaOf(const std::string& url) {
  std::string area = url.substr(0, url.find_first_of("?#"));
  const std::size_t host = area.find("://");
  const std::size_t path = host == std::string::npos ? 0 : area.find('/', host + 3);
  if (path == std::string::npos) return area + '/';
  return area.substr(0, area.rfind('/') + 1);
}

// Adds the code to a configuration's code list unless it is there.
void addCode(json& codes, int code) {
  for (const json& present : codes) {
    if (present == code) return;
  }
  codes.push_back(code);
}

}  // namespace

std::string requestUuid(const std::string& auth, const std::string& user, const std::string& label,
                        const std::string& object) {
  return fmt::format("{}-{}-{}-{}", auth, user, uuidLabel(label), object);
}

std::string probeUrl(const std::string& objectUrl, const std::string& putUuid) {
  std::string url = areaOf(objectUrl) + "tav-probe-";
  for (const char c : putUuid) {
    const auto byte = static_cast<unsigned char>(c);
    if (unreserved(byte)) {
      url += c;
    } else {
      url += fmt::format("%{:02X}", byte);
    }
  }
  return url;
}

std::string probeBody(const std::string& putUuid) {
  return fmt::format("tav write probe {}\n", putUuid);
}

std::optional<GeneratedSuite> generateSuite(const Description& description,
                                            const std::filesystem::path& descriptionPath) {
  GeneratedSuite suite{"[", "[", description.config};
  // The texts' sizes are known closely enough up front, so they grow without copies.
  std::size_t requests = 0;
  std::size_t tasksSize = 0;
  std::size_t metadataSize = 0;
  for (const UserSpec& user : description.users) {
    for (const std::string& label : user.labels) {
      for (const std::string& auth : description.auth_types) {
        for (const ObjectSpec& object : description.objects) {
          const std::size_t uuid =
              auth.size() + user.name.size() + label.size() + object.name.size() + 3;
          tasksSize += uuid + object.urls.at(auth).size() + auth.size() + 48;
          metadataSize += uuid + 3 * label.size() + user.min_label.size() + user.max_label.size() +
                          object.label.size() + 160;
          ++requests;
        }
      }
      tasksSize += 256 + user.name.size() + user.password.size();
      for (const auto& [key, value] : user.env) tasksSize += key.size() + value.size() + 8;
    }
  }
  suite.tasks.reserve(tasksSize);
  suite.metadata.reserve(metadataSize);
  std::unordered_set<std::string> uuids;
  uuids.reserve(requests);
  // The parts every request of an object or user shares, written once.
  std::vector<std::vector<std::string>> uris(description.objects.size());
  std::vector<std::string> objectLabels;
  std::vector<std::string> writeLabels;
  for (std::size_t o = 0; o < description.objects.size(); ++o) {
    const ObjectSpec& object = description.objects[o];
    for (const std::string& auth : description.auth_types) {
      uris[o].push_back(jsonString(object.urls.at(auth)));
    }
    objectLabels.push_back(fmt::format(R"(, "object_label": {}, "expect_ignore_mac_label": {}}})",
                                       jsonString(object.label),
                                       object.ignore_mac_label ? "true" : "false"));
    writeLabels.push_back(
        fmt::format(R"(, "object_label": {}, "expect_ignore_mac_label": {}, "access": "write"}})",
                    jsonString(object.label), object.ignore_mac_label ? "true" : "false"));
    if (object.write) {
      // A granted write answers 201 (created) or 204 (replaced, deleted).
      addCode(suite.config["allowed_codes"], 201);
      addCode(suite.config["allowed_codes"], 204);
    }
  }
  std::vector<std::string> authTypes;
  for (const std::string& auth : description.auth_types) authTypes.push_back(jsonString(auth));

  bool firstTask = true;
  bool firstEntry = true;
  for (std::size_t u = 0; u < description.users.size(); ++u) {
    const UserSpec& user = description.users[u];
    std::string env;
    if (!user.env.empty()) {
      env = "    \"env\": {";
      bool first = true;
      for (const auto& [key, value] : user.env) {
        env += first ? "" : ", ";
        appendJsonString(env, key);
        env += ": ";
        appendJsonString(env, value);
        first = false;
      }
      env += "},\n";
    }
    const std::string range = fmt::format(R"(, "min_mac_label": {}, "max_mac_label": {})",
                                          jsonString(user.min_label), jsonString(user.max_label));
    for (std::size_t l = 0; l < user.labels.size(); ++l) {
      const std::string label = jsonString(user.mac_labels[l]);
      // Every uuid of the task ends in its object's name after this: "{user}-{label}-".
      const std::string userPart = fmt::format("-{}-{}-", user.name, uuidLabel(user.labels[l]));
      suite.tasks += firstTask ? "\n  {\n" : ",\n  {\n";
      firstTask = false;
      suite.tasks +=
          fmt::format("    \"user\": {{\"name\": {}, \"password\": {}, \"mac_label\": {}}},\n",
                      jsonString(user.name), jsonString(user.password), label);
      suite.tasks += env;
      suite.tasks += "    \"requests\": [";
      bool firstRequest = true;
      for (std::size_t a = 0; a < description.auth_types.size(); ++a) {
        for (std::size_t o = 0; o < description.objects.size(); ++o) {
          std::string uuid;
          uuid.reserve(description.auth_types[a].size() + userPart.size() +
                       description.objects[o].name.size());
          uuid += description.auth_types[a];
          uuid += userPart;
          uuid += description.objects[o].name;
          if (!uuids.insert(uuid).second) {
            reportDescriptionError(
                descriptionPath, origin(description, u, l, a, o),
                fmt::format("request uuid \"{}\" is also that of {}; give users, a user's labels "
                            "and objects distinct names",
                            uuid, firstOrigin(description, uuid)));
            return std::nullopt;
          }
          const std::string uuidText = jsonString(uuid);
          suite.tasks += firstRequest ? "\n      {\"uuid\": " : ",\n      {\"uuid\": ";
          firstRequest = false;
          suite.tasks += uuidText;
          suite.tasks += ", \"uri\": ";
          suite.tasks += uris[o][a];
          suite.tasks += ", \"auth_type\": ";
          suite.tasks += authTypes[a];
          suite.tasks += '}';
          suite.metadata += firstEntry ? "\n  {\"uuid\": " : ",\n  {\"uuid\": ";
          firstEntry = false;
          suite.metadata += uuidText;
          suite.metadata += ", \"subject_label\": ";
          suite.metadata += label;
          suite.metadata += range;
          suite.metadata += objectLabels[o];
          if (!description.objects[o].write) continue;
          // The probe's DELETE follows its PUT in the same task, so a granted PUT leaves nothing.
          const std::string putUuid = uuid + kPutSuffix;
          const std::string probe = jsonString(
              probeUrl(description.objects[o].urls.at(description.auth_types[a]), putUuid));
          for (const std::string& writeUuid : {putUuid, uuid + kDeleteSuffix}) {
            const bool put = writeUuid == putUuid;
            if (!uuids.insert(writeUuid).second) {
              reportDescriptionError(
                  descriptionPath,
                  origin(description, u, l, a, o) + (put ? " (its PUT)" : " (its DELETE)"),
                  fmt::format("request uuid \"{}\" is also that of {}; give users, a user's "
                              "labels and objects distinct names",
                              writeUuid, firstOrigin(description, writeUuid)));
              return std::nullopt;
            }
            const std::string writeText = jsonString(writeUuid);
            suite.tasks += ",\n      {\"uuid\": ";
            suite.tasks += writeText;
            suite.tasks += ", \"uri\": ";
            suite.tasks += probe;
            suite.tasks += ", \"auth_type\": ";
            suite.tasks += authTypes[a];
            suite.tasks +=
                put ? ", \"method\": \"PUT\", \"body\": " + jsonString(probeBody(putUuid))
                    : std::string(", \"method\": \"DELETE\"");
            suite.tasks += '}';
            suite.metadata += ",\n  {\"uuid\": ";
            suite.metadata += writeText;
            suite.metadata += ", \"subject_label\": ";
            suite.metadata += label;
            suite.metadata += range;
            suite.metadata += writeLabels[o];
          }
        }
      }
      suite.tasks += "\n    ]\n  }";
    }
  }
  suite.tasks += "\n]\n";
  suite.metadata += "\n]\n";
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
  tav::LogCapture recorder;
  const bool loads = tav::writeJsonDocument(path, config) && tav_rep::loadConfig(path);
  std::filesystem::remove(path);
  for (const std::string& line : recorder.take()) {
    reportDescriptionError(descriptionPath, "report", "tav-rep would reject it: " + line);
  }
  return loads;
}

int runGen(const std::filesystem::path& descriptionPath, const std::filesystem::path& outDir) {
  tav::progressPhase("reading " + descriptionPath.string());
  const std::optional<Description> description = loadDescription(descriptionPath);
  if (!description) return 2;
  tav::progressPhase("generating");
  std::optional<GeneratedSuite> suite = generateSuite(*description, descriptionPath);
  if (!suite || !configLoads(suite->config, descriptionPath)) return 2;
  if (!makeFolder(outDir)) return 1;
  tav::progressPhase("writing " + (outDir / "").string());
  tav::OutputSet files(reportFileError);
  files.addInput(descriptionPath.string());
  files.add((outDir / "tasks.json").string(), std::move(suite->tasks));
  files.add((outDir / "metadata.json").string(), std::move(suite->metadata));
  files.add((outDir / "config.json").string(), documentText(suite->config));
  return files.commit() ? 0 : 1;
}

}  // namespace tav_suite
