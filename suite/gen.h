// `tav-suite gen`: the tasks file, metadata and report configuration of one description.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

#include "suite/description.h"

namespace tav_suite {

// The three files' texts. The tasks file holds one request, the metadata one entry per line,
// written directly: a suite of a million requests never exists as a JSON tree.
struct GeneratedSuite {
  std::string tasks;
  std::string metadata;
  nlohmann::json config;
};

// "{auth}-{user}-{label}-{object}", the label's ':' written as '_': "basic-daemon-1_1-l2_3".
std::string requestUuid(const std::string& auth, const std::string& user, const std::string& label,
                        const std::string& object);

// The uuids of an object's write requests: the read request's uuid and these.
inline constexpr const char* kPutSuffix = "-put";
inline constexpr const char* kDeleteSuffix = "-delete";

// Where a write request's probe goes: "tav-probe-{uuid}" (bytes outside [A-Za-z0-9._~-] as %XX)
// in the folder of the object's URL (the URL itself when it ends in '/').
std::string probeUrl(const std::string& objectUrl, const std::string& putUuid);

// The text a probe's PUT sends.
std::string probeBody(const std::string& putUuid);

// One task per user label in description order, each with a request per auth type and object,
// followed, for an object with "write", by the PUT and the DELETE of its probe.
// No value after printing the description's error when two requests would share a uuid.
std::optional<GeneratedSuite> generateSuite(const Description& description,
                                            const std::filesystem::path& descriptionPath);

// Whether tav-rep's configuration loader takes the configuration; prints its reason when not.
bool configLoads(const nlohmann::json& config, const std::filesystem::path& descriptionPath);

// The whole subcommand; its exit status: 0 written, 2 description not usable, 1 not written.
int runGen(const std::filesystem::path& descriptionPath, const std::filesystem::path& outDir);

}  // namespace tav_suite
