// The built tav-req, as root, against a local server that misbehaves: refused and broken
// connections, a 50 MB body, answers without a body, redirects, and a server that drops every
// kept-alive connection after its answer. Each test records what the fault leaves in
// responses.json and shows that the requests around it and the other tasks are untouched.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/req/http_test_server.h"

namespace {

using namespace tav_test;
using tav_test::HttpTestServer;

// The first n bytes that the server's /large, /reset and /cut send.
std::string letters(std::size_t n) {
  std::string text(n, ' ');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

class ServerFaultTest : public ::testing::Test {
 protected:
  // How many requests for exactly this path and query reached the server.
  long arrivals(const std::string& path) const {
    const Lines lines = tav_test::readLines(run.dir / "server.log");
    return std::count(lines.begin(), lines.end(), "start " + path);
  }

  // The error lines of the one child log of `user`.
  Lines childErrors(const std::string& user) const {
    for (const auto& [pid, log] : childLogs(run.logDir)) {
      if (log.filename().string().find("-" + user + "_") != std::string::npos) {
        return startingWith(messages(log), "error ");
      }
    }
    ADD_FAILURE() << "no child log for " << user;
    return {};
  }

  // Every child succeeded and the merge was saved.
  void expectCleanMainLog(std::size_t children) const {
    const Lines main = run.mainLog();
    ASSERT_EQ(main.size(), children + 1) << ::testing::PrintToString(main);
    for (std::size_t i = 0; i < children; ++i) {
      EXPECT_TRUE(main[i].starts_with("info child [")) << main[i];
      EXPECT_TRUE(main[i].ends_with("] was successfully completed")) << main[i];
    }
    EXPECT_EQ(main.back(), "info saved result to " + run.out("responses.json"));
  }

  RunFolders run;
  HttpTestServer server{run.dir / "server.log"};
};

TEST_F(ServerFaultTest, BrokenConnectionsAreRecordedWithoutIdentifierAndTheRestGoesOn) {
  SKIP_UNLESS_ROOT();
  const std::string refused = fmt::format("http://127.0.0.1:{}/ok", tav_test::closedPort());
  const auto result = run.runReq(
      {task("nobody", "1:1",
            {request("before", server.url("/ok?before")), request("refused", refused),
             request("reset", server.url("/reset?n=1000")),
             request("cut", server.url("/cut?n=1000")), request("after", server.url("/ok?after"))}),
       task("daemon", "0:0", {request("other", server.url("/ok?other"))})});
  // A transfer that fails is an answer, not a failure of its task.
  ASSERT_EQ(result.status, 0) << result.err;
  expectCleanMainLog(2);

  const json merged = run.merged();
  ASSERT_EQ(merged.size(), 6u) << merged.dump();
  EXPECT_EQ(merged[0], json::parse(R"({"uuid": "before", "code": 200, "body": "ok"})"));
  // Nothing came: code 0, no identifier, no body.
  EXPECT_EQ(merged[1], json::parse(R"({"uuid": "", "code": 0, "body": ""})"));
  // Reset after 1000 of 2001 promised bytes: what arrived before the reset may be kept, but no
  // byte that was not sent.
  EXPECT_EQ(merged[2]["uuid"], "");
  EXPECT_EQ(merged[2]["code"], 0);
  const std::string resetBody = merged[2]["body"];
  EXPECT_LE(resetBody.size(), 1000u);
  EXPECT_EQ(resetBody, letters(resetBody.size()));
  // Closed in order after 1000 bytes: all 1000 are kept.
  EXPECT_EQ(merged[3], json({{"uuid", ""}, {"code", 0}, {"body", letters(1000)}}));
  EXPECT_EQ(merged[4], json::parse(R"({"uuid": "after", "code": 200, "body": "ok"})"));
  EXPECT_EQ(merged[5], json::parse(R"({"uuid": "other", "code": 200, "body": "ok"})"));

  EXPECT_EQ(childErrors("nobody"), (Lines{"error Couldn't connect to server",
                                          "error Failure when receiving data from the peer",
                                          "error Transferred a partial file"}));
  EXPECT_EQ(childErrors("daemon"), Lines{});
  // Broken transfers are not sent again.
  for (const char* path : {"/reset?n=1000", "/cut?n=1000", "/ok?before", "/ok?after"}) {
    EXPECT_EQ(arrivals(path), 1) << path;
  }
}

TEST_F(ServerFaultTest, AFiftyMegabyteBodyIsKeptWhole) {
  SKIP_UNLESS_ROOT();
  constexpr std::size_t kSize = 50u * 1024 * 1024;
  const auto result =
      run.runReq({task("nobody", "1:1",
                       {request("large", server.url(fmt::format("/large?n={}", kSize))),
                        request("after", server.url("/ok?after"))}),
                  task("daemon", "0:0", {request("other", server.url("/ok?other"))})});
  ASSERT_EQ(result.status, 0) << result.err;
  expectCleanMainLog(2);

  const json merged = run.merged();
  ASSERT_EQ(merged.size(), 3u);
  EXPECT_EQ(merged[0]["uuid"], "large");
  EXPECT_EQ(merged[0]["code"], 200);
  const std::string& body = merged[0]["body"].get_ref<const std::string&>();
  ASSERT_EQ(body.size(), kSize);
  EXPECT_TRUE(body == letters(kSize));
  EXPECT_EQ(merged[1], json::parse(R"({"uuid": "after", "code": 200, "body": "ok"})"));
  EXPECT_EQ(merged[2], json::parse(R"({"uuid": "other", "code": 200, "body": "ok"})"));
}

TEST_F(ServerFaultTest, AnswersWithoutBodyAndRedirectsAreRecordedAsTheyCome) {
  SKIP_UNLESS_ROOT();
  const auto result = run.runReq(
      {task("nobody", "1:1",
            {request("empty", server.url("/nobody")), request("none", server.url("/status/204")),
             request("found", server.url("/redirect")), request("moved", server.url("/status/301")),
             request("after", server.url("/ok?after"))}),
       task("daemon", "0:0", {request("other", server.url("/redirect"))})});
  ASSERT_EQ(result.status, 0) << result.err;
  expectCleanMainLog(2);
  EXPECT_EQ(run.merged(), json::parse(R"([
    {"uuid": "empty", "code": 200, "body": ""},
    {"uuid": "none", "code": 204, "body": ""},
    {"uuid": "found", "code": 302, "body": "redirect"},
    {"uuid": "moved", "code": 301, "body": "status 301"},
    {"uuid": "after", "code": 200, "body": "ok"},
    {"uuid": "other", "code": 302, "body": "redirect"}])"));
  // Neither redirect was followed to its target.
  EXPECT_EQ(arrivals("/redirect"), 2);
  EXPECT_EQ(arrivals("/ok"), 0);
}

TEST_F(ServerFaultTest, AServerThatDropsKeptAliveConnectionsLosesNoAnswer) {
  SKIP_UNLESS_ROOT();
  constexpr int kRequests = 20;
  std::vector<json> dropped;
  std::vector<json> kept;
  for (int i = 0; i < kRequests; ++i) {
    dropped.push_back(
        request(fmt::format("d{}", i), server.url(fmt::format("/peer?close=1&i={}", i))));
    kept.push_back(request(fmt::format("k{}", i), server.url(fmt::format("/peer?i={}", i))));
  }
  const auto result = run.runReq({task("nobody", "1:1", dropped), task("daemon", "0:0", kept)});
  ASSERT_EQ(result.status, 0) << result.err;
  expectCleanMainLog(2);

  const json merged = run.merged();
  ASSERT_EQ(merged.size(), 2u * kRequests);
  std::set<std::string> droppedPorts;
  std::set<std::string> keptPorts;
  for (int i = 0; i < kRequests; ++i) {
    const json& d = merged[static_cast<std::size_t>(i)];
    const json& k = merged[static_cast<std::size_t>(kRequests + i)];
    EXPECT_EQ(d["uuid"], fmt::format("d{}", i));
    EXPECT_EQ(d["code"], 200);
    EXPECT_EQ(k["uuid"], fmt::format("k{}", i));
    EXPECT_EQ(k["code"], 200);
    droppedPorts.insert(d["body"].get<std::string>());
    keptPorts.insert(k["body"].get<std::string>());
    EXPECT_EQ(arrivals(fmt::format("/peer?close=1&i={}", i)), 1) << i;
  }
  // Every dropped connection was replaced by a new one; the well-behaved server's was reused.
  EXPECT_EQ(droppedPorts.size(), static_cast<std::size_t>(kRequests));
  EXPECT_EQ(keptPorts.size(), 1u);
  EXPECT_EQ(childErrors("nobody"), Lines{});
}

}  // namespace
