#include "req/run_task.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <stdexcept>

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
  }
  spdlog::info("serialize {} responses..", responses.size());
  const bool saved =
      saveResponses(closure.options.outputDir, closure.responsesFileName, closure.task, responses);
  spdlog::info("child end");
  return saved && complete;
}

}  // namespace tav_req
