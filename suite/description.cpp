#include "suite/description.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <tuple>

#include "common/input_file.h"
#include "common/mac_label_text.h"
#include "rep/label_cache.h"
#include "req/task.h"
#include "suite/report_line.h"

namespace tav_suite {

namespace {

using nlohmann::json;

const std::vector<std::string> kAuthTypes = {"basic", "gssapi"};

// A problem at a JSON path; the loader turns it into the one line it prints.
struct DescriptionError : std::runtime_error {
  DescriptionError(std::string where, const std::string& why)
      : std::runtime_error(why), where(std::move(where)) {}
  std::string where;
};

[[noreturn]] void fail(const std::string& where, const std::string& why) {
  throw DescriptionError(where, why);
}

std::string child(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

std::string item(const std::string& where, std::size_t index) {
  return fmt::format("{}[{}]", where, index);
}

void requireObject(const json& value, const std::string& where) {
  if (!value.is_object()) fail(where, fmt::format("is {}, not an object", value.type_name()));
}

void onlyKeys(const json& value, const std::string& where, const std::set<std::string>& keys) {
  for (const auto& [key, member] : value.items()) {
    if (!keys.contains(key)) {
      fail(child(where, key),
           fmt::format("unknown key; the keys here are {}", fmt::join(keys, ", ")));
    }
  }
}

std::string text(const json& value, const std::string& where) {
  if (!value.is_string()) fail(where, fmt::format("is {}, not a string", value.type_name()));
  return value.get<std::string>();
}

std::string nonEmptyText(const json& value, const std::string& where) {
  std::string result = text(value, where);
  if (result.empty()) fail(where, "is empty");
  return result;
}

// A blank or control character makes libcurl refuse the URL: every request a failed transfer.
void requireNoBlank(const std::string& text, const std::string& where) {
  if (tav_req::hasUrlBlank(text)) {
    fail(where, fmt::format("\"{}\" holds a blank or control character, which no URL may; write "
                            "a blank as %20",
                            text));
  }
}

// tav-req sends only http and https; any other URL would be a failed transfer in every run.
std::string httpUrl(const json& value, const std::string& where) {
  std::string result = nonEmptyText(value, where);
  if (!tav_req::isHttpUrl(result)) {
    fail(where, fmt::format("\"{}\" is not an http:// or https:// URL", result));
  }
  requireNoBlank(result, where);
  return result;
}

// A label in its plain form only: a text the programs would read as something else is a
// typo that would test the wrong label.
tav::MacLabel plainLabel(const std::string& text, const std::string& where) {
  const tav::MacLabelText parsed = tav::parsePlainMacLabel(text);
  if (!parsed.label) fail(where, fmt::format("\"{}\" is not a label: {}", text, parsed.error));
  return *parsed.label;
}

// The label as written, and as the programs read it: the text itself where they read it so.
std::pair<std::string, std::string> label(const json& value, const std::string& where) {
  std::string written = text(value, where);
  const tav::MacLabel meant = plainLabel(written, where);
  const tav::MacLabelText read = tav::parseMacLabelText(written);
  const bool same =
      read.label && read.label->level == meant.level && read.label->categories == meant.categories;
  std::string programText = same ? written : tav::programMacLabelText(meant);
  return {std::move(written), std::move(programText)};
}

const json& nonEmptyArray(const json& value, const std::string& where) {
  if (!value.is_array()) fail(where, fmt::format("is {}, not an array", value.type_name()));
  if (value.empty()) fail(where, "is empty");
  return value;
}

// The lowest label every label of the user dominates and the highest that dominates them all.
std::pair<std::string, std::string> defaultRange(const std::vector<std::string>& labels) {
  tav::MacLabel low = *tav::parsePlainMacLabel(labels.front()).label;
  tav::MacLabel high = low;
  for (const std::string& text : labels) {
    const tav::MacLabel l = *tav::parsePlainMacLabel(text).label;
    low.level = std::min(low.level, l.level);
    low.categories &= l.categories;
    high.level = std::max(high.level, l.level);
    high.categories |= l.categories;
  }
  return {tav::programMacLabelText(low), tav::programMacLabelText(high)};
}

UserSpec readUser(const json& value, const std::string& where) {
  requireObject(value, where);
  onlyKeys(value, where, {"name", "password", "labels", "min_label", "max_label", "env"});
  UserSpec user;
  if (!value.contains("name")) fail(where, "has no \"name\"");
  user.name = nonEmptyText(value["name"], child(where, "name"));
  // The name goes into the child log's path in tav-req.
  if (user.name.find('/') != std::string::npos) fail(child(where, "name"), "holds a '/'");
  // getpwnam and file names stop at a NUL: two names that differ after one would be one user.
  if (user.name.find('\0') != std::string::npos) fail(child(where, "name"), "holds a NUL byte");
  if (value.contains("password")) user.password = text(value["password"], child(where, "password"));
  if (!value.contains("labels")) fail(where, "has no \"labels\"");
  const std::string labelsAt = child(where, "labels");
  const json& labels = nonEmptyArray(value["labels"], labelsAt);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    auto [written, programText] = label(labels[i], item(labelsAt, i));
    user.labels.push_back(std::move(written));
    user.mac_labels.push_back(std::move(programText));
  }
  const auto [low, high] = defaultRange(user.labels);
  user.min_label = low;
  user.max_label = high;
  std::string minWritten = low;
  std::string maxWritten = high;
  if (value.contains("min_label")) {
    std::tie(minWritten, user.min_label) = label(value["min_label"], child(where, "min_label"));
  }
  if (value.contains("max_label")) {
    std::tie(maxWritten, user.max_label) = label(value["max_label"], child(where, "max_label"));
  }
  // Decided by the platform label library, as tav-rep decides ranges.
  tav_rep::LabelCache cache;
  if (cache.validate(user.min_label, user.min_label, user.max_label) != true) {
    if (value.contains("min_label")) {
      fail(child(where, "min_label"),
           fmt::format("\"{}\" is not within max_label \"{}\": the range is empty", minWritten,
                       maxWritten));
    }
    fail(child(where, "max_label"),
         fmt::format("\"{}\" does not hold min_label {} (the lowest of the labels): the range "
                     "is empty",
                     maxWritten, minWritten));
  }
  if (value.contains("env")) {
    const std::string envAt = child(where, "env");
    requireObject(value["env"], envAt);
    for (const auto& [key, member] : value["env"].items()) {
      if (key.empty() || key.find('=') != std::string::npos) {
        fail(child(envAt, key), "is not a variable name");
      }
      user.env[key] = text(member, child(envAt, key));
    }
  }
  return user;
}

std::string joinUrl(const std::string& base, const std::string& path) {
  std::string url = base;
  while (!url.empty() && url.back() == '/') url.pop_back();
  if (path.empty() || path.front() != '/') url += '/';
  return url + path;
}

ObjectSpec readObject(const json& value, const std::string& where,
                      const std::optional<std::string>& baseUrl,
                      const std::vector<std::string>& authTypes) {
  requireObject(value, where);
  onlyKeys(value, where, {"name", "label", "ignore_mac_label", "write", "path", "url", "paths"});
  ObjectSpec object;
  if (!value.contains("name")) fail(where, "has no \"name\"");
  object.name = nonEmptyText(value["name"], child(where, "name"));
  if (!value.contains("label")) fail(where, "has no \"label\"");
  object.label = label(value["label"], child(where, "label")).second;
  if (value.contains("ignore_mac_label")) {
    const json& ignore = value["ignore_mac_label"];
    if (!ignore.is_boolean()) {
      fail(child(where, "ignore_mac_label"),
           fmt::format("is {}, not true or false", ignore.type_name()));
    }
    object.ignore_mac_label = ignore.get<bool>();
  }
  if (value.contains("write")) {
    const json& write = value["write"];
    if (!write.is_boolean()) {
      fail(child(where, "write"), fmt::format("is {}, not true or false", write.type_name()));
    }
    object.write = write.get<bool>();
  }
  const int places = static_cast<int>(value.contains("path")) +
                     static_cast<int>(value.contains("url")) +
                     static_cast<int>(value.contains("paths"));
  if (places != 1) fail(where, "needs exactly one of \"path\", \"url\" and \"paths\"");
  const auto fromPath = [&](const json& path, const std::string& at) {
    if (!baseUrl) fail(at, "is a path, but the description has no \"base_url\"");
    const std::string text = nonEmptyText(path, at);
    requireNoBlank(text, at);
    return joinUrl(*baseUrl, text);
  };
  if (value.contains("paths")) {
    const std::string pathsAt = child(where, "paths");
    requireObject(value["paths"], pathsAt);
    for (const auto& [auth, path] : value["paths"].items()) {
      if (std::find(authTypes.begin(), authTypes.end(), auth) == authTypes.end()) {
        fail(child(pathsAt, auth), "is not one of the description's auth_types");
      }
      object.urls[auth] = fromPath(path, child(pathsAt, auth));
    }
    for (const std::string& auth : authTypes) {
      if (!object.urls.contains(auth)) fail(pathsAt, fmt::format("has no path for {}", auth));
    }
  } else {
    const std::string url = value.contains("url") ? httpUrl(value["url"], child(where, "url"))
                                                  : fromPath(value["path"], child(where, "path"));
    for (const std::string& auth : authTypes) object.urls[auth] = url;
  }
  return object;
}

std::vector<std::int64_t> codes(const json& value, const std::string& where) {
  if (!value.is_array()) fail(where, fmt::format("is {}, not an array", value.type_name()));
  std::vector<std::int64_t> result;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const json& code = value[i];
    if (!code.is_number_integer()) fail(item(where, i), "is not a whole number");
    // Read unsigned first: a huge number must not wrap into a small or negative one.
    const bool http = code.is_number_unsigned()
                          ? code.get<std::uint64_t>() >= 100 && code.get<std::uint64_t>() <= 599
                          : code.get<std::int64_t>() >= 100 && code.get<std::int64_t>() <= 599;
    if (!http) {
      fail(item(where, i), fmt::format("{} is not an HTTP status code (100 to 599)", code.dump()));
    }
    result.push_back(code.get<std::int64_t>());
  }
  return result;
}

json readReport(const json& description) {
  json config = {{"check_body", false},
                 {"body_template", ""},
                 {"allowed_codes", {200}},
                 {"denied_codes", {401, 403}}};
  if (!description.contains("report")) return config;
  const json& report = description["report"];
  requireObject(report, "report");
  onlyKeys(report, "report", {"check_body", "body_template", "allowed_codes", "denied_codes"});
  if (report.contains("check_body")) {
    if (!report["check_body"].is_boolean()) fail("report.check_body", "is not true or false");
    config["check_body"] = report["check_body"];
  }
  if (report.contains("body_template")) {
    config["body_template"] = text(report["body_template"], "report.body_template");
  }
  for (const char* key : {"allowed_codes", "denied_codes"}) {
    if (report.contains(key)) config[key] = codes(report[key], child("report", key));
  }
  return config;
}

Description describe(const json& document) {
  requireObject(document, "");
  // "$schema" points an editor at the description's schema; gen has no use for it.
  onlyKeys(document, "", {"$schema", "base_url", "auth_types", "users", "objects", "report"});
  if (document.contains("$schema")) text(document["$schema"], "$schema");
  Description description;
  std::optional<std::string> baseUrl;
  if (document.contains("base_url")) baseUrl = httpUrl(document["base_url"], "base_url");
  if (document.contains("auth_types")) {
    const json& types = nonEmptyArray(document["auth_types"], "auth_types");
    for (std::size_t i = 0; i < types.size(); ++i) {
      const std::string auth = text(types[i], item("auth_types", i));
      if (std::find(kAuthTypes.begin(), kAuthTypes.end(), auth) == kAuthTypes.end()) {
        fail(item("auth_types", i), fmt::format("\"{}\" is not basic or gssapi", auth));
      }
      if (std::find(description.auth_types.begin(), description.auth_types.end(), auth) !=
          description.auth_types.end()) {
        fail(item("auth_types", i), fmt::format("\"{}\" is named twice", auth));
      }
      description.auth_types.push_back(auth);
    }
  } else {
    description.auth_types = {"basic"};
  }
  if (!document.contains("users")) fail("", "has no \"users\"");
  const json& users = nonEmptyArray(document["users"], "users");
  for (std::size_t i = 0; i < users.size(); ++i) {
    description.users.push_back(readUser(users[i], item("users", i)));
  }
  if (!document.contains("objects")) fail("", "has no \"objects\"");
  const json& objects = nonEmptyArray(document["objects"], "objects");
  for (std::size_t i = 0; i < objects.size(); ++i) {
    description.objects.push_back(
        readObject(objects[i], item("objects", i), baseUrl, description.auth_types));
  }
  description.config = readReport(document);
  return description;
}

}  // namespace

void reportDescriptionError(const std::filesystem::path& path, const std::string& where,
                            const std::string& why) {
  reportFileError(path, fmt::format("{}: {}", where.empty() ? "top level" : where, why));
}

DescriptionRead readDescription(const json& document) {
  DescriptionRead read;
  try {
    read.description = describe(document);
  } catch (const DescriptionError& error) {
    read.where = error.where;
    read.why = error.what();
  }
  return read;
}

std::optional<Description> loadDescription(const std::filesystem::path& path) {
  const tav::InputDocument input = tav::readInputDocument(path);
  if (!input.document) {
    reportFileError(path, input.problem);
    return std::nullopt;
  }
  DescriptionRead read = readDescription(*input.document);
  if (read.description) return std::move(read.description);
  // Another file of a suite given by mistake fails somewhere; saying which file it is helps more.
  const std::string lookalike = tav::lookalikeReason(*input.document, tav::SuiteFile::description);
  if (!lookalike.empty()) {
    reportFileError(path, lookalike);
  } else {
    reportDescriptionError(path, read.where, read.why);
  }
  return std::nullopt;
}

}  // namespace tav_suite
