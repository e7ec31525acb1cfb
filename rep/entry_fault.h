// Where a metadata file, a responses file or a report configuration breaks what tav-rep's
// loaders take, in a person's words, so that tav-view and tav-suite can tell a user which entry
// and key to fix: `[3]: "code" is string, not a number`. The walk is the loaders' own: the same
// entries in the same order, the keys in their order, the same conversions.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace tav_rep {

// The first metadata entry loadMetadata refuses, and why; nothing when it takes them all.
std::optional<std::string> metadataFault(const nlohmann::json& document);

// Why loadMetadata refuses one entry, unplaced ("has no \"uuid\""); nothing when it takes it.
std::optional<std::string> metadataEntryFault(const nlohmann::json& entry);

// The first answer loadData refuses in a responses file, and why.
std::optional<std::string> responsesFault(const nlohmann::json& document);

// What loadConfig refuses in a configuration, up to the body template, whose check is the
// loader's alone.
std::optional<std::string> configFault(const nlohmann::json& document);

}  // namespace tav_rep
