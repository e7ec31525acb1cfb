#include "req/run_task.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "platform/zem.h"
#include "req/interruption.h"
#include "req/responses_file.h"

namespace tav_req {

namespace {

void logLabelInForce() {
  char* text = zeml_get_text(zem_get_pid(0), 0);
  if (text == nullptr) return;
  spdlog::info("ZEM label: {}", text);
  std::free(text);
}

bool taken(const HttpResponse& response) {
  return response.code >= 200 && response.code < 300;
}

// Each PUT the server took (2xx) whose file no later DELETE of the same URL removed (2xx), among
// the answers the task got: on a run cut short, or a server that refuses the removal, what it
// stored stays on the server, and only the user can remove it.
void logWritesLeft(const std::vector<HttpRequest>& requests,
                   const std::vector<HttpResponse>& responses) {
  std::unordered_map<std::string_view, std::size_t> lastRemoval;
  for (std::size_t i = 0; i < responses.size(); ++i) {
    if (requests[i].method == RequestMethod::del && taken(responses[i])) {
      lastRemoval[requests[i].url] = i;
    }
  }
  for (std::size_t i = 0; i < responses.size(); ++i) {
    // A failed transfer that reached the server (a time-out, a cut connection) may have stored
    // the body all the same; a refused connection stored nothing.
    const bool unanswered = responses[i].code == 0 && responses[i].sent;
    if (requests[i].method != RequestMethod::put || !(taken(responses[i]) || unanswered)) continue;
    const auto removal = lastRemoval.find(requests[i].url);
    if (removal != lastRemoval.end() && removal->second > i) continue;
    if (unanswered) {
      spdlog::warn(
          "PUT {} to {} got no answer and no later DELETE of it was taken: the server may have "
          "stored it; look and remove it by hand",
          requests[i].uuid, requests[i].url);
      continue;
    }
    spdlog::warn(
        "PUT {} stored {} ({}) and no later DELETE of it was taken: it may still be on the "
        "server; remove it by hand",
        requests[i].uuid, requests[i].url, responses[i].code);
  }
}

}  // namespace

bool TaskClosure::operator()() const {
  return runTask(*this);
}

std::vector<HttpRequest> toHttpRequests(const Task& task, unsigned timeoutSeconds) {
  std::vector<HttpRequest> requests;
  requests.reserve(task.requests.size());
  for (const TaskRequest& request : task.requests) {
    requests.push_back(HttpRequest{
        .uuid = request.uuid,
        .url = request.uri,
        .userName = task.user.name,
        .password = task.user.password,
        .authType = request.authTypeName == "gssapi" ? AuthType::GSSAPI : AuthType::PAM,
        .timeoutSeconds = timeoutSeconds,
        .method = request.method,
        .body = request.body,
    });
  }
  return requests;
}

bool runTask(const TaskClosure& closure) {
  spdlog::info("child begin");
  logLabelInForce();
  spdlog::info("make requests..");
  const std::vector<HttpRequest> requests =
      toHttpRequests(closure.task, closure.options.requestTimeout);
  spdlog::info("sending {} requests..", requests.size());
  checkTrustAsTaskUser(closure.options.trust, closure.task.user.name);
  std::vector<HttpResponse> responses;
  try {
    HttpEngine engine(closure.options.trust);
    // One transfer at a time keeps the task's requests in order.
    responses = engine.makeRequests(requests, 1, [] { return interruption() != 0; });
  } catch (const std::runtime_error& error) {
    spdlog::error("{}", error.what());
    return false;
  }
  const bool complete = responses.size() == requests.size();
  if (!complete) {
    spdlog::error("interrupted by signal {}: {} of {} requests answered",
                  signalText(interruption()), responses.size(), requests.size());
    // The server may have stored what it got before the answer that never came.
    const HttpRequest& cut = requests[responses.size()];
    if (cut.method == RequestMethod::put) {
      spdlog::warn(
          "PUT {} to {} was cut off before its answer: the server may have stored it; look and "
          "remove it by hand",
          cut.uuid, cut.url);
    }
  }
  logWritesLeft(requests, responses);
  spdlog::info("serialize {} responses..", responses.size());
  const bool saved =
      saveResponses(closure.options.outputDir, closure.responsesFileName, closure.task, responses);
  spdlog::info("child end");
  return saved && complete;
}

}  // namespace tav_req
