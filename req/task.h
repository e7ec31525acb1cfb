// The records of the tasks file and its loader: each task names a user with the mandatory
// label its child takes on, optional environment variables, and the requests to send.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/mac_label_text.h"

namespace tav_req {

struct TaskUser {
  std::string name;
  std::string password;
  std::uint8_t macLevel = 0;
  std::uint32_t macCategories = 0;
};

// The methods a request may name; GET when it names none.
enum class RequestMethod : std::uint8_t { get, head, put, del };

struct TaskRequest {
  std::string uuid;
  std::string uri;
  std::string authTypeName;  // "auth_type" as written
  RequestMethod method = RequestMethod::get;
  std::string body = {};  // what a PUT sends; empty for the other methods
};

struct Task {
  std::unordered_map<std::string, std::string> env;
  TaskUser user;
  std::vector<TaskRequest> requests;
};

// A "mac_label" that is not a level and a category mask; a fault of the tasks file, not of the
// JSON library.
class BadMacLabel : public std::runtime_error {
 public:
  BadMacLabel(const std::string& label, const std::string& reason);
  const std::string& label() const { return label_; }

 private:
  std::string label_;
};

// A user name that cannot be a login name: empty, or holding a '/' (which would lead the child's
// log file out of the log directory) or a NUL byte (where getpwnam and every file name stop).
class BadUserName : public std::runtime_error {
 public:
  BadUserName(const std::string& name, const std::string& reason);
};

// A password, environment name or value with a NUL byte: the C interfaces it is handed to would
// take only what comes before it, so the task would run with another text than the file's.
class BadTaskText : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A request whose "method" is none of GET, HEAD, PUT and DELETE, or that gives a "body" with a
// method that sends none.
class BadRequestMethod : public std::runtime_error {
 public:
  BadRequestMethod(const std::string& uuid, const std::string& reason);
};

// "GET", "HEAD", "PUT" or "DELETE".
const char* methodName(RequestMethod method);

// The method of the name, exactly as HTTP writes it; no value for any other text.
std::optional<RequestMethod> methodOfName(const std::string& name);

// Why the text cannot be a task user's name ("it is empty", "it holds a '/'", "it holds a NUL
// byte"); empty when it can.
std::string userNameProblem(const std::string& name);

// The schemes tav-req sends requests and follows redirects with, in libcurl's list form.
inline constexpr const char* kRequestProtocols = "http,https";

// Whether the URL names its scheme and that scheme is http or https (in any case).
bool isHttpUrl(const std::string& url);

// Whether the text holds a blank or a control character: libcurl refuses such a URL ("URL
// using bad/illegal format"), so every request to it is a failed transfer.
bool hasUrlBlank(const std::string& url);

// The label of a task user's "mac_label". Throws BadMacLabel when a part is missing, holds no
// number or exceeds int.
tav::MacLabel parseTaskLabel(const std::string& text);

// Conversions from the tasks file; mismatches raise the JSON library's exceptions.
void from_json(const nlohmann::json& json, TaskUser& user);
void from_json(const nlohmann::json& json, TaskRequest& request);
void from_json(const nlohmann::json& json, Task& task);

// The tasks of the file in file order. Empty after a logged failure, and for a file holding [].
std::vector<Task> loadTasks(const std::string& path);

}  // namespace tav_req
