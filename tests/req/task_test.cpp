// The tasks file loader: the records it builds, the label texts it accepts, and the one
// critical line of every way a tasks file can be unusable.
#include "req/task.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

namespace tav_test {
namespace {

using namespace tav_req;

class LoadTasksTest : public ::testing::Test {
 protected:
  std::vector<Task> load(const std::string& text) {
    tav_test::writeFile(dir / "tasks.json", text);
    return loadTasks((dir / "tasks.json").string());
  }

  tav_test::TempDir dir;
  LogCapture log;
};

const char* const kTwoTasks = R"([
  {"env": {"KRB5CCNAME": "/tmp/cc", "EMPTY": ""},
   "user": {"name": "alice", "password": "pw", "mac_label": "2:1f", "extra": 1},
   "requests": [
     {"uuid": "u1", "uri": "http://h/a", "auth_type": "gssapi"},
     {"uuid": "u2", "uri": "http://h/b", "auth_type": ""}]},
  {"user": {"name": "bob", "password": "", "mac_label": "0:0"}, "requests": [], "comment": "x"}
])";

TEST_F(LoadTasksTest, ConvertsEveryFieldInFileOrder) {
  const std::vector<Task> tasks = load(kTwoTasks);
  ASSERT_EQ(tasks.size(), 2u);

  const Task& first = tasks[0];
  EXPECT_EQ(first.env.size(), 2u);
  EXPECT_EQ(first.env.at("KRB5CCNAME"), "/tmp/cc");
  EXPECT_EQ(first.env.at("EMPTY"), "");
  EXPECT_EQ(first.user.name, "alice");
  EXPECT_EQ(first.user.password, "pw");
  EXPECT_EQ(first.user.macLevel, 2);
  EXPECT_EQ(first.user.macCategories, 31u);
  ASSERT_EQ(first.requests.size(), 2u);
  EXPECT_EQ(first.requests[0].uuid, "u1");
  EXPECT_EQ(first.requests[0].uri, "http://h/a");
  EXPECT_EQ(first.requests[0].authTypeName, "gssapi");
  EXPECT_EQ(first.requests[1].uuid, "u2");
  EXPECT_EQ(first.requests[1].authTypeName, "");

  EXPECT_TRUE(tasks[1].env.empty());
  EXPECT_EQ(tasks[1].user.name, "bob");
  EXPECT_TRUE(tasks[1].requests.empty());
  EXPECT_TRUE(log.records().empty());
}

TEST_F(LoadTasksTest, EmptyArrayAndEmptyEnvLoadSilently) {
  EXPECT_TRUE(load("[]").empty());
  const auto tasks = load(
      R"([{"env": {}, "user": {"name": "a", "password": "", "mac_label": "1:0"}, "requests": []}])");
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_TRUE(tasks[0].env.empty());
  EXPECT_TRUE(log.records().empty());
}

// Every library failure of a tasks file: an empty list and exactly one critical line.
TEST_F(LoadTasksTest, LibraryErrorsAreOneCriticalLineWithTheId) {
  const std::string user = R"("user": {"name": "a", "password": "p", "mac_label": "1:0"})";
  const std::string request = R"({"uuid": "u", "uri": "http://h/"})";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"tasks": []})",
       "[json.exception.type_error.302] type must be array, but is object; exception id 302"},
      {R"([{"env": {"A": 1}, )" + user + R"(, "requests": []}])",
       "[json.exception.type_error.302] type must be string, but is number; exception id 302"},
      {R"([{"env": [], )" + user + R"(, "requests": []}])",
       "[json.exception.type_error.302] type must be object, but is array; exception id 302"},
      {R"([{)" + user + R"(, "requests": {}}])",
       "[json.exception.type_error.302] type must be array, but is object; exception id 302"},
      {R"(["task"])",
       "[json.exception.type_error.304] cannot use at() with string; exception id 304"},
      {R"([{"requests": []}])",
       "[json.exception.out_of_range.403] key 'user' not found; exception id 403"},
      {R"([{)" + user + R"(, "requests": [)" + request + "]}]",
       "[json.exception.out_of_range.403] key 'auth_type' not found; exception id 403"},
      {R"([{"user": {"name": "a", "mac_label": "1:0"}, "requests": []}])",
       "[json.exception.out_of_range.403] key 'password' not found; exception id 403"},
      {R"([{"user": {"name": "a", "password": "p", "mac_label": 10}, "requests": []}])",
       "[json.exception.type_error.302] type must be string, but is number; exception id 302"},
  };
  std::size_t expectedLines = 0;
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(load(text).empty());
    ++expectedLines;
    ASSERT_EQ(log.records().size(), expectedLines);
    EXPECT_EQ(log.records().back(), (LogRecord{"critical", "Failed to parse data: " + message}));
  }
}

TEST_F(LoadTasksTest, UnreadableTextIsAParseErrorWithItsBytePosition) {
  EXPECT_TRUE(loadTasks((dir / "missing.json").string()).empty());
  EXPECT_TRUE(load("[] []").empty());
  EXPECT_TRUE(load("// tasks\n[]").empty());
  ASSERT_EQ(log.records().size(), 3u);
  EXPECT_EQ(log.records()[0],
            (LogRecord{"critical",
                       "Failed to parse data: [json.exception.parse_error.101] parse error at line "
                       "1, column 1: syntax error while parsing value - unexpected end of input; "
                       "expected '[', '{', or a literal; exception id 101; byte position of "
                       "error: 1"}));
  EXPECT_EQ(log.records()[1],
            (LogRecord{"critical",
                       "Failed to parse data: [json.exception.parse_error.101] parse error at line "
                       "1, column 4: syntax error while parsing value - unexpected '['; expected "
                       "end of input; exception id 101; byte position of error: 4"}));
  EXPECT_EQ(log.records()[2].level, "critical");
  EXPECT_NE(log.records()[2].message.find("exception id 101; byte position of error: 1"),
            std::string::npos)
      << log.records()[2];
}

TEST_F(LoadTasksTest, BadMacLabelRejectsTheFileQuotingTheLabel) {
  const std::string good = R"({"user": {"name": "a", "password": "", "mac_label": "1:0"},
                              "requests": []})";
  EXPECT_TRUE(load("[" + good + R"(, {"user": {"name": "b", "password": "", "mac_label": "2:"},
                                     "requests": []}])")
                  .empty());
  ASSERT_EQ(log.records().size(), 1u);
  EXPECT_EQ(log.records()[0],
            (LogRecord{"critical",
                       "Failed to parse data: invalid mac_label \"2:\": the category mask is not "
                       "a number"}));
}

TEST_F(LoadTasksTest, UserNameWithASlashRejectsTheFile) {
  EXPECT_TRUE(load(R"([{"user": {"name": "../../etc/x", "password": "", "mac_label": "1:0"},
                         "requests": []}])")
                  .empty());
  ASSERT_EQ(log.records().size(), 1u);
  EXPECT_EQ(log.records()[0],
            (LogRecord{"critical",
                       "Failed to parse data: invalid user name \"../../etc/x\": it holds a '/'"}));
}

// setenv and libcurl take C strings: a NUL would silently cut the text the task runs with.
TEST_F(LoadTasksTest, NulInAPasswordOrTheEnvironmentRejectsTheFile) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"name": "daemon", "password": "se\u0000cret", "mac_label": "1:0"})",
       "the password of user \"daemon\" holds a NUL byte"},
      {R"({"name": "daemon", "password": "", "mac_label": "1:0"}, "env": {"A\u0000B": "x"})",
       "the environment variable \"A\\u0000B\" of user \"daemon\" holds a NUL byte"},
      {R"({"name": "daemon", "password": "", "mac_label": "1:0"}, "env": {"KRB5CCNAME": "FILE:/a\u0000b"})",
       "the environment variable \"KRB5CCNAME\" of user \"daemon\" holds a NUL byte"},
  };
  std::size_t expectedLines = 0;
  for (const auto& [user, message] : cases) {
    SCOPED_TRACE(user);
    EXPECT_TRUE(load(R"([{"user": )" + user + R"(, "requests": []}])").empty());
    ++expectedLines;
    ASSERT_EQ(log.records().size(), expectedLines);
    EXPECT_EQ(log.records().back(), (LogRecord{"critical", "Failed to parse data: " + message}));
  }
}

TEST(ParseTaskLabel, RejectsLabelsWithoutTwoNumbers) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "invalid mac_label \"\": it has no colon"},
      {"2", "invalid mac_label \"2\": it has no colon"},
      {"2:", "invalid mac_label \"2:\": the category mask is not a number"},
      {":1f", "invalid mac_label \":1f\": the level is not a number"},
      {"a:1", "invalid mac_label \"a:1\": the level is not a number"},
      {"2:zz", "invalid mac_label \"2:zz\": the category mask is not a number"},
      {"1::", "invalid mac_label \"1::\": the category mask is not a number"},
      {"2147483648:0", "invalid mac_label \"2147483648:0\": the level is out of range"},
      {"1:80000000", "invalid mac_label \"1:80000000\": the category mask is out of range"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    try {
      parseTaskLabel(text);
      ADD_FAILURE() << "accepted";
    } catch (const BadMacLabel& error) {
      EXPECT_EQ(error.what(), message);
      EXPECT_EQ(error.label(), text);
    }
  }
}

}  // namespace
}  // namespace tav_test
