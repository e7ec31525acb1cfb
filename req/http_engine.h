// The HTTP request engine: sends a task's requests through libcurl's multi interface with a
// limit of transfers in flight, and returns one response per request, in request order.
#pragma once

#include <curl/curl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "req/task.h"
#include "req/tls_trust.h"

namespace tav_req {

enum class AuthType : std::uint8_t {
  PAM = 0,     // HTTP Basic with the user's name and password
  GSSAPI = 1,  // Negotiate with the credentials of the process's environment, delegated
};

struct HttpRequest {
  std::string uuid;
  std::string url;
  std::string userName;
  std::string password;
  AuthType authType = AuthType::PAM;
  unsigned timeoutSeconds = 0;  // limit of the whole transfer; 0: none
  RequestMethod method = RequestMethod::get;
  std::string body = {};  // sent by a PUT
};

struct HttpResponse {
  std::int32_t code = 0;  // 0 until the transfer completes
  std::string body;
  std::string uuid;   // empty until the transfer completes
  bool sent = false;  // a failed transfer: whether any of the request reached the server
};

// What a PUT sends, read by libcurl from `offset` on; it may rewind to resend the body after an
// authentication round.
struct UploadSource {
  const std::string* body = nullptr;
  std::size_t offset = 0;
};

// Owns libcurl's global state and one multi handle for its lifetime.
class HttpEngine {
 public:
  // Every transfer trusts what `trust` says. Throws std::runtime_error when libcurl cannot be
  // set up.
  explicit HttpEngine(TlsTrust trust = {});
  ~HttpEngine();
  HttpEngine(const HttpEngine&) = delete;
  HttpEngine& operator=(const HttpEngine&) = delete;

  // Sends the requests with at most maxParallel (>= 1) transfers in flight; entry i of the
  // result answers request i. A failed or timed-out transfer keeps code 0 and an empty uuid.
  // `stop`, when given, is asked before every pass (at most 100 ms apart, sooner after a
  // signal); once it says true the transfers in flight are abandoned and only the answers of
  // the requests before the first unfinished one are returned. Throws std::runtime_error when
  // a transfer cannot be created or added.
  std::vector<HttpResponse> makeRequests(const std::vector<HttpRequest>& requests,
                                         std::size_t maxParallel,
                                         const std::function<bool()>& stop = nullptr);

 private:
  void addRequest(std::size_t index, const HttpRequest& request, HttpResponse& response);
  // Takes a finished or abandoned transfer out of the multi handle and frees it.
  void releaseTransfer(CURL* easy);
  void releaseAllTransfers();
  // The error line of a failed transfer; a TLS failure also names libcurl's detailed reason and
  // the request.
  void logFailure(CURLcode result, CURL* easy, const HttpRequest* request) const;

  CURLM* multi_ = nullptr;
  std::vector<CURL*> transfers_;  // easy handles in multi_, so none outlives a batch
  TlsTrust trust_;
  std::map<CURL*, std::array<char, CURL_ERROR_SIZE>> errorTexts_;  // per transfer in multi_
  std::map<CURL*, UploadSource> uploads_;                          // per PUT in multi_
};

// libcurl's read and seek callbacks of an upload: copy the next bytes of the body, and move to
// an offset within it.
std::size_t readUpload(char* buffer, std::size_t size, std::size_t count, UploadSource* source);
int seekUpload(UploadSource* source, curl_off_t offset, int origin);

// libcurl's write callback: appends size * count bytes to the body and never stops a transfer.
std::size_t writeBody(char* data, std::size_t size, std::size_t count, std::string* body);

}  // namespace tav_req
