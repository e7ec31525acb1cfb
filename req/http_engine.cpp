// Sends a task's requests over libcurl's multi interface and collects every answer in memory,
// in request order.
#include "req/http_engine.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "common/version.h"
#include "req/task.h"

namespace tav_req {

namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

const char* authTypeName(AuthType type) {
  return type == AuthType::GSSAPI ? "GSSAPI" : "PAM";
}

}  // namespace

std::size_t writeBody(char* data, std::size_t size, std::size_t count, std::string* body) {
  const std::size_t length = size * count;
  body->append(data, length);
  return length;
}

std::size_t readUpload(char* buffer, std::size_t size, std::size_t count, UploadSource* source) {
  const std::size_t left = source->body->size() - source->offset;
  const std::size_t length = std::min(left, size * count);
  std::memcpy(buffer, source->body->data() + source->offset, length);
  source->offset += length;
  return length;
}

int seekUpload(UploadSource* source, curl_off_t offset, int origin) {
  if (origin != SEEK_SET || offset < 0 || static_cast<std::size_t>(offset) > source->body->size()) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  source->offset = static_cast<std::size_t>(offset);
  return CURL_SEEKFUNC_OK;
}

HttpEngine::HttpEngine(TlsTrust trust) : trust_(std::move(trust)) {
  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
    throw std::runtime_error("Failed to initialize curl");
  }
  multi_ = curl_multi_init();
  if (multi_ == nullptr) {
    curl_global_cleanup();
    throw std::runtime_error("Failed to initialize curl multi handler");
  }
}

HttpEngine::~HttpEngine() {
  releaseAllTransfers();
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
  curl_global_cleanup();
}

void HttpEngine::releaseTransfer(CURL* easy) {
  curl_multi_remove_handle(multi_, easy);
  curl_easy_cleanup(easy);
  std::erase(transfers_, easy);
  errorTexts_.erase(easy);
  uploads_.erase(easy);
}

void HttpEngine::releaseAllTransfers() {
  while (!transfers_.empty()) releaseTransfer(transfers_.back());
}

void HttpEngine::addRequest(std::size_t index, const HttpRequest& request, HttpResponse& response) {
  EasyHandle easy(curl_easy_init());
  if (!easy) throw std::runtime_error(fmt::format("Failed to create request ({})", request.uuid));
  CURL* handle = easy.get();

  if (spdlog::get_level() == spdlog::level::trace) {
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(handle, CURLOPT_HEADER, 1L);
  }
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  // tav tests web servers: a file://, ftp:// or any other URL, given or redirected to, is a
  // failed transfer instead of something the task user's child reads.
  CURLcode limited = curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, kRequestProtocols);
  if (limited == CURLE_OK) {
    limited = curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, kRequestProtocols);
  }
  if (limited != CURLE_OK) {
    throw std::runtime_error(fmt::format("Failed to limit request ({}) to {}: {}", request.uuid,
                                         kRequestProtocols, curl_easy_strerror(limited)));
  }
  // The index travels with the transfer, so its answer lands in the right response.
  curl_easy_setopt(handle, CURLOPT_PRIVATE, reinterpret_cast<void*>(index));
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
  const std::string userAgent = fmt::format("tav_req/{} (libcurl)", tav::kVersion);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, userAgent.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response.body);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
  if (request.timeoutSeconds > 0) {
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(request.timeoutSeconds));
  }
  if (request.authType == AuthType::PAM) {
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(handle, CURLOPT_USERNAME, request.userName.c_str());
    curl_easy_setopt(handle, CURLOPT_PASSWORD, request.password.c_str());
  } else {
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NEGOTIATE));
    // No credentials of our own: Negotiate takes them from the process's environment.
    curl_easy_setopt(handle, CURLOPT_USERPWD, ":");
    curl_easy_setopt(handle, CURLOPT_GSSAPI_DELEGATION,
                     static_cast<long>(CURLGSSAPI_DELEGATION_FLAG));
  }
  // A request without a method is a GET, set up exactly as before methods existed.
  switch (request.method) {
    case RequestMethod::get:
      break;
    case RequestMethod::head:
      curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
      break;
    case RequestMethod::put: {
      UploadSource& source = uploads_[handle];
      source.body = &request.body;
      curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
      curl_easy_setopt(handle, CURLOPT_READFUNCTION, readUpload);
      curl_easy_setopt(handle, CURLOPT_READDATA, &source);
      curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, seekUpload);
      curl_easy_setopt(handle, CURLOPT_SEEKDATA, &source);
      break;
    }
    case RequestMethod::del:
      curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "DELETE");
      break;
  }
  applyTlsTrust(handle, trust_);
  // libcurl's detailed reason for a failure, read when the transfer ends.
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorTexts_[handle].data());

  transfers_.push_back(handle);
  const CURLMcode added = curl_multi_add_handle(multi_, handle);
  if (added != CURLM_OK) {
    transfers_.pop_back();
    errorTexts_.erase(handle);
    uploads_.erase(handle);
    throw std::runtime_error(
        fmt::format("Failed to add curl handle to multi stack: {}", curl_multi_strerror(added)));
  }
  easy.release();
  if (request.method == RequestMethod::get) {
    spdlog::debug("Make {} request to {} ({})", authTypeName(request.authType), request.url,
                  request.uuid);
  } else {
    spdlog::debug("Make {} {} request to {} ({})", authTypeName(request.authType),
                  methodName(request.method), request.url, request.uuid);
  }
}

void HttpEngine::logFailure(CURLcode result, CURL* easy, const HttpRequest* request) const {
  const char* reason = curl_easy_strerror(result);
  const auto text = errorTexts_.find(easy);
  if (!isTlsFailure(result) || request == nullptr || text == errorTexts_.end()) {
    spdlog::error(reason);
    return;
  }
  const std::string_view detail(text->second.data(), strnlen(text->second.data(), CURL_ERROR_SIZE));
  spdlog::error("{}{}{} (request {} to {})", reason, detail.empty() ? "" : ": ", detail,
                request->uuid, request->url);
}

std::vector<HttpResponse> HttpEngine::makeRequests(const std::vector<HttpRequest>& requests,
                                                   std::size_t maxParallel,
                                                   const std::function<bool()>& stop) {
  const std::size_t size = requests.size();
  if (size > 0 && maxParallel == 0) {
    throw std::invalid_argument("makeRequests needs maxParallel of at least 1");
  }
  // Whatever way the batch ends, no transfer stays behind in the multi handle.
  struct TransferGuard {
    HttpEngine& engine;
    ~TransferGuard() { engine.releaseAllTransfers(); }
  } guard{*this};

  std::vector<HttpResponse> responses(size);
  const std::size_t firstBatch = std::min(maxParallel, size);
  transfers_.reserve(firstBatch);
  for (std::size_t i = 0; i < firstBatch; ++i) addRequest(i, requests[i], responses[i]);
  std::size_t nextRequestIdx = firstBatch;
  std::size_t finished = 0;
  std::vector<bool> done(size, false);

  for (;;) {
    if (stop && stop()) {
      const auto unfinished = std::find(done.begin(), done.end(), false);
      responses.resize(static_cast<std::size_t>(unfinished - done.begin()));
      return responses;
    }
    int running = 0;
    const CURLMcode performed = curl_multi_perform(multi_, &running);
    if (performed != CURLM_OK) {
      spdlog::error("Multi perform failed: {}", curl_multi_strerror(performed));
      return responses;
    }
    // A transfer that has just finished is the activity the poll waits for: do not sleep on it.
    const bool anyFinished = static_cast<std::size_t>(running) < transfers_.size();
    const CURLMcode polled = curl_multi_poll(multi_, nullptr, 0, anyFinished ? 0 : 100, nullptr);
    if (polled != CURLM_OK) {
      spdlog::error("Failed to poll all curl fds: {}", curl_multi_strerror(polled));
      return responses;
    }
    spdlog::debug("nextRequestIdx = {}, size = {}", nextRequestIdx, size);

    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg == CURLMSG_DONE) {
        ++finished;
        spdlog::debug("message done");
        CURL* easy = message->easy_handle;
        if (easy == nullptr) {
          spdlog::error("curl handle is null!");
          break;
        }
        // The message lives in the multi handle: read it before the handle goes.
        const CURLcode result = message->data.result;
        char* priv = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &priv);
        const auto index = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(priv));
        if (index < size) done[index] = true;
        if (result != CURLE_OK) {
          logFailure(result, easy, index < size ? &requests[index] : nullptr);
          long requestBytes = 0;
          curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &requestBytes);
          if (index < size) responses[index].sent = requestBytes > 0;
          releaseTransfer(easy);
        } else {
          long code = 0;
          curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
          if (index >= size) {
            spdlog::error("something went wrong, job id = {}", index);
            releaseTransfer(easy);
            break;
          }
          const HttpRequest& request = requests[index];
          HttpResponse& response = responses[index];
          if (request.method == RequestMethod::get) {
            spdlog::info("Request to {} ({}) is done with code: {}", request.url, request.uuid,
                         code);
          } else {
            spdlog::info("{} request to {} ({}) is done with code: {}", methodName(request.method),
                         request.url, request.uuid, code);
          }
          spdlog::debug("Request body:\n {}", response.body);
          response.uuid = request.uuid;
          response.code = static_cast<std::int32_t>(code);
          releaseTransfer(easy);
        }
      }
      if (nextRequestIdx < size) {
        addRequest(nextRequestIdx, requests[nextRequestIdx], responses[nextRequestIdx]);
        ++nextRequestIdx;
      }
    }
    if (finished >= size) return responses;
  }
}

}  // namespace tav_req
