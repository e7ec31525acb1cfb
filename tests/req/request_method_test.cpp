// The "method" and "body" of a request: what the loader makes of them, and what the built
// tav-req sends for each method, as the test server received it.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "req/task.h"
#include "req/task_fault.h"
#include "tests/req/http_test_server.h"
#include "tests/support/log_capture.h"
#include "tests/support/run_folders.h"
#include "tests/support/test_support.h"

namespace tav_test {
namespace {

using tav_req::RequestMethod;

class RequestMethodTest : public ::testing::Test {
 protected:
  std::vector<tav_req::Task> load(const std::string& requests) {
    writeFile(dir / "tasks.json",
              R"([{"user": {"name": "a", "password": "p", "mac_label": "1:0"}, "requests": [)" +
                  requests + "]}]");
    return tav_req::loadTasks((dir / "tasks.json").string());
  }

  TempDir dir;
  LogCapture log;
};

TEST_F(RequestMethodTest, MethodDefaultsToGetAndABodyIsKeptOnlyForPut) {
  const auto tasks = load(R"({"uuid": "g", "uri": "http://h/", "auth_type": "basic"},
      {"uuid": "h", "uri": "http://h/", "auth_type": "basic", "method": "HEAD"},
      {"uuid": "p", "uri": "http://h/p", "auth_type": "basic", "method": "PUT", "body": "text\n"},
      {"uuid": "e", "uri": "http://h/p", "auth_type": "basic", "method": "PUT"},
      {"uuid": "d", "uri": "http://h/p", "auth_type": "gssapi", "method": "DELETE"},
      {"uuid": "G", "uri": "http://h/", "auth_type": "basic", "method": "GET"})");
  ASSERT_EQ(tasks.size(), 1u);
  const auto& r = tasks[0].requests;
  ASSERT_EQ(r.size(), 6u);
  const RequestMethod expected[] = {RequestMethod::get, RequestMethod::head, RequestMethod::put,
                                    RequestMethod::put, RequestMethod::del,  RequestMethod::get};
  for (std::size_t i = 0; i < r.size(); ++i) EXPECT_EQ(r[i].method, expected[i]) << i;
  EXPECT_EQ(r[2].body, "text\n");
  EXPECT_EQ(r[3].body, "");
  EXPECT_EQ(r[4].authTypeName, "gssapi");
  EXPECT_TRUE(log.records().empty());
}

TEST_F(RequestMethodTest, AnUnknownMethodOrAStrayBodyMakesTheFileUnusable) {
  const std::string head = R"({"uuid": "x1", "uri": "http://h/", "auth_type": "basic", )";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {head + R"("method": "PATCH"})",
       "request \"x1\": unknown method \"PATCH\": the methods are GET, HEAD, PUT and DELETE"},
      // HTTP's method names are case-sensitive: "put" would be another method.
      {head + R"("method": "put", "body": "b"})",
       "request \"x1\": unknown method \"put\": the methods are GET, HEAD, PUT and DELETE"},
      {head + R"("method": "DELETE", "body": "b"})",
       "request \"x1\": a DELETE request sends no \"body\"; only PUT does"},
      {head + R"("body": "b"})", "request \"x1\": a GET request sends no \"body\"; only PUT does"},
      {head + R"("method": 1})",
       "[json.exception.type_error.302] type must be string, but is number; exception id 302"},
      {head + R"("method": "PUT", "body": null})",
       "[json.exception.type_error.302] type must be string, but is null; exception id 302"},
  };
  std::size_t lines = 0;
  for (const auto& [request, message] : cases) {
    SCOPED_TRACE(request);
    EXPECT_TRUE(load(request).empty());
    ASSERT_EQ(log.records().size(), ++lines);
    EXPECT_EQ(log.records().back(), (LogRecord{"critical", "Failed to parse data: " + message}));
  }
}

// tav-view and tav-suite name the task and say what is wrong, as the loader does.
TEST(RequestMethodFault, TheStrictReaderNamesTheTaskAndTheRequest) {
  const auto tasks = [](const json& request) {
    return json::array({task("bin", "0:0", {request})});
  };
  json put = request("p", "http://h/");
  put["method"] = "PUT";
  EXPECT_EQ(tav_req::tasksFault(tasks(put)), std::nullopt);
  put["body"] = json::array();
  EXPECT_EQ(tav_req::tasksFault(tasks(put)),
            "tasks[0] (user bin): requests[0] \"body\" is array, not a string");
  put["method"] = "OPTIONS";
  put["body"] = "b";
  EXPECT_EQ(tav_req::tasksFault(tasks(put)),
            "tasks[0] (user bin): request \"p\": unknown method \"OPTIONS\": the methods are GET, "
            "HEAD, PUT and DELETE");
  put["method"] = "HEAD";
  EXPECT_EQ(tav_req::tasksFault(tasks(put)),
            "tasks[0] (user bin): request \"p\": a HEAD request sends no \"body\"; only PUT does");
}

class MethodRunTest : public ::testing::Test, protected RunFolders {
 protected:
  HttpTestServer server{dir / "server.log", {"daemon:pw-daemon"}};
};

json withMethod(json request, const std::string& method, const char* body = nullptr) {
  request["method"] = method;
  if (body != nullptr) request["body"] = body;
  return request;
}

// One task stores, reads, probes, replaces and removes a document in order, with its user's
// Basic credentials; each answer is recorded as a GET's is.
TEST_F(MethodRunTest, EachMethodReachesTheServerWithItsBodyAndInTaskOrder) {
  SKIP_UNLESS_ROOT();
  const std::string doc = server.url("/store/doc");
  const std::vector<json> tasks = {task(
      "daemon", "1:1",
      {withMethod(request("put", doc), "PUT", "first text\n"), request("get", doc),
       withMethod(request("head", doc), "HEAD"), withMethod(request("again", doc), "PUT", "second"),
       request("get2", doc), withMethod(request("empty", server.url("/store/empty")), "PUT"),
       request("get-empty", server.url("/store/empty")),
       withMethod(request("delete", doc), "DELETE"), request("gone", doc),
       withMethod(request("delete2", doc), "DELETE"),
       withMethod(request("echo", server.url("/echo-request?x=1")), "PUT", "line 1\nline 2"),
       withMethod(request("not-here", server.url("/ok")), "PUT", "x")})};
  const auto result = runReq(tasks);
  ASSERT_EQ(result.status, 0) << result.err;

  // "daemon:pw-daemon" in Basic's base64.
  const std::string auth = "Basic ZGFlbW9uOnB3LWRhZW1vbg==";
  EXPECT_EQ(merged(), json::parse(fmt::format(R"([
    {{"uuid": "put", "code": 201, "body": "stored"}},
    {{"uuid": "get", "code": 200, "body": "first text\n"}},
    {{"uuid": "head", "code": 200, "body": ""}},
    {{"uuid": "again", "code": 204, "body": ""}},
    {{"uuid": "get2", "code": 200, "body": "second"}},
    {{"uuid": "empty", "code": 201, "body": "stored"}},
    {{"uuid": "get-empty", "code": 200, "body": ""}},
    {{"uuid": "delete", "code": 204, "body": ""}},
    {{"uuid": "gone", "code": 404, "body": "not found"}},
    {{"uuid": "delete2", "code": 404, "body": "not found"}},
    {{"uuid": "echo", "code": 200, "body": "PUT /echo-request?x=1 auth {}\nline 1\nline 2"}},
    {{"uuid": "not-here", "code": 405, "body": "method not allowed"}}])",
                                              auth)));
  // What the server received, in order; a GET or HEAD logs only its path.
  EXPECT_EQ(readFile(dir / "server.log"),
            "PUT /store/doc b'first text\\n'\n"
            "start /store/doc\nend /store/doc\n"
            "start /store/doc\nend /store/doc\n"
            "PUT /store/doc b'second'\n"
            "start /store/doc\nend /store/doc\n"
            "PUT /store/empty b''\n"
            "start /store/empty\nend /store/empty\n"
            "DELETE /store/doc b''\n"
            "start /store/doc\nend /store/doc\n"
            "DELETE /store/doc b''\n"
            "PUT /echo-request?x=1 b'line 1\\nline 2'\n"
            "PUT /ok b'x'\n");
  const auto logs = childLogs(logDir);
  ASSERT_EQ(logs.size(), 1u);
  const Lines lines = messages(logs.begin()->second);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      fmt::format("info PUT request to {} (put) is done with code: 201", doc)),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      fmt::format("info Request to {} (get) is done with code: 200", doc)),
            lines.end());
}

// A PUT the server took whose file no later DELETE removed is named by tav-view, with its URL,
// so that the user can remove it; the server's own answers afterwards show which stayed.
TEST_F(MethodRunTest, TavViewNamesTheProbesARunLeftOnTheServer) {
  SKIP_UNLESS_ROOT();
  const auto url = [&](const std::string& name) { return server.url("/store/" + name); };
  const std::vector<json> tasks = {task(
      "daemon", "1:1",
      {withMethod(request("kept-put", url("kept")), "PUT", "k"),
       withMethod(request("kept-delete", url("other")), "DELETE"),
       withMethod(request("gone-put", url("gone")), "PUT", "g"),
       withMethod(request("gone-delete", url("gone")), "DELETE"),
       withMethod(request("early-delete", url("early")), "DELETE"),
       withMethod(request("early-put", url("early")), "PUT", "e"),
       withMethod(request("refused-put", server.url("/ok")), "PUT", "r"),
       withMethod(request("timed-put", server.url("/store-hang/timed")), "PUT", "t"),
       withMethod(
           request("unreachable-put", fmt::format("http://127.0.0.1:{}/store/x", closedPort())),
           "PUT", "u"),
       request("kept-get", url("kept")), request("gone-get", url("gone")),
       request("early-get", url("early")), request("timed-get", url("timed"))})};
  ASSERT_EQ(runReqText(json(tasks).dump(), {}, "info", {"--request-timeout", "1"}).status, 0);
  json metadata = json::array();
  for (const json& r : tasks[0]["requests"]) {
    metadata.push_back({{"uuid", r["uuid"]},
                        {"subject_label", "1:1"},
                        {"object_label", "1:1"},
                        {"min_mac_label", "0:0"},
                        {"max_mac_label", "3:7"},
                        {"expect_ignore_mac_label", false},
                        {"access", r.contains("method") ? "write" : "read"}});
  }
  writeFile(dir / "metadata.json", metadata.dump());
  writeFile(dir / "config.json", R"({"check_body": false, "body_template": "",
    "allowed_codes": [200, 201, 204], "denied_codes": [403, 404, 405]})");
  const auto view =
      runProgram({TAV_VIEW_PATH, "-m", (dir / "metadata.json").string(), "-r",
                  (outDir / "responses.json").string(), "-c", (dir / "config.json").string(), "-t",
                  (dir / "tasks.json").string()});
  // The server still holds exactly what the hint names.
  const json answers = merged();
  const auto code = [&](const std::string& uuid) {
    for (const json& a : answers)
      if (a["uuid"] == uuid) return a["code"].get<int>();
    return -1;
  };
  EXPECT_EQ(code("kept-get"), 200);
  EXPECT_EQ(code("early-get"), 200);
  EXPECT_EQ(code("gone-get"), 404);
  EXPECT_EQ(code("timed-get"), 200);
  EXPECT_NE(view.out.find(fmt::format(
                "\nhint: 2 PUTs stored something that no later DELETE of the same uri in their "
                "task removed (a 2xx code): it may still be on the server; remove it by hand: "
                "early-put ({}), kept-put ({})\n",
                url("early"), url("kept"))),
            std::string::npos)
      << view.out;
  EXPECT_EQ(view.out.find("gone-put ("), std::string::npos) << view.out;
  // The child log says the same of its own task.
  const auto logs = childLogs(logDir);
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(startingWith(messages(logs.begin()->second), "warning PUT "),
            (Lines{fmt::format("warning PUT kept-put stored {} (201) and no later DELETE of it "
                               "was taken: it may still be on the server; remove it by hand",
                               url("kept")),
                   fmt::format("warning PUT early-put stored {} (201) and no later DELETE of it "
                               "was taken: it may still be on the server; remove it by hand",
                               url("early")),
                   fmt::format("warning PUT timed-put to {} got no answer and no later DELETE of "
                               "it was taken: the server may have stored it; look and remove it "
                               "by hand",
                               server.url("/store-hang/timed"))}));
}

// A body longer than libcurl's upload buffer reaches the server whole.
TEST_F(MethodRunTest, ALargeBodyIsSentWhole) {
  SKIP_UNLESS_ROOT();
  std::string body;
  for (int i = 0; body.size() < 300000; ++i) body += fmt::format("{} ", i);
  const std::string doc = server.url("/store/large");
  const auto result =
      runReq({task("daemon", "1:1",
                   {withMethod(request("put", doc), "PUT", body.c_str()), request("get", doc)})});
  ASSERT_EQ(result.status, 0) << result.err;
  const json answers = merged();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0]["code"], 201);
  EXPECT_EQ(answers[1]["body"], body);
}

TEST_F(MethodRunTest, ABadMethodStartsNoChildAndSendsNothing) {
  SKIP_UNLESS_ROOT();
  const auto result =
      runReq({task("daemon", "1:1", {request("ok", server.url("/ok"))}),
              task("daemon", "2:0", {withMethod(request("odd", server.url("/ok")), "POST")})});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(mainLog(), (Lines{"critical Failed to parse data: request \"odd\": unknown method "
                              "\"POST\": the methods are GET, HEAD, PUT and DELETE"}));
  EXPECT_TRUE(childLogs(logDir).empty());
  EXPECT_EQ(readFile(dir / "server.log"), "");
}

}  // namespace
}  // namespace tav_test
