// The per-task responses files and their merge: names, exact text, mended bodies, and every
// way a merge can fail without touching responses.json.
#include "req/responses_file.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

namespace tav_test {
namespace {

using namespace tav_req;

Task taskOf(const std::string& name, std::uint8_t level, std::uint32_t categories) {
  Task task;
  task.user = {name, "pw", level, categories};
  return task;
}

TEST(ResponsesFileNames, DecimalLabelAndASuffixForEveryRepeat) {
  const std::vector<Task> tasks = {taskOf("tester", 2, 31), taskOf("tester", 2, 31),
                                   taskOf("tester", 2, 30), taskOf("other", 2, 31),
                                   taskOf("tester", 2, 31), taskOf("max", 255, 0xffffffffu)};
  EXPECT_EQ(responsesFileNames(tasks),
            (std::vector<std::string>{"responses_tester_2_31.json", "responses_tester_2_31-2.json",
                                      "responses_tester_2_30.json", "responses_other_2_31.json",
                                      "responses_tester_2_31-3.json",
                                      "responses_max_255_4294967295.json"}));
}

class ResponsesFileTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir / name).string(); }
  // The files as written by this test's own user, whom the merge takes as their task user.
  static std::vector<TaskFile> own(const std::vector<std::string>& names) {
    std::vector<TaskFile> files;
    for (const std::string& name : names) files.push_back({name, getpwuid(geteuid())->pw_name});
    return files;
  }

  tav_test::TempDir dir;
  LogCapture log;
};

TEST_F(ResponsesFileTest, SavesEntriesUnderTasksWithTwoSpaceIndent) {
  Task task = taskOf("tester", 2, 31);
  task.requests = {{"u1", "http://h/1", ""}, {"u2", "http://h/2", ""}};
  const std::vector<HttpResponse> responses = {{200, "ok", "u1"}, {0, "", ""}};

  ASSERT_TRUE(saveResponses(dir.path(), "responses_tester_2_31.json", task, responses));
  EXPECT_EQ(readFile(dir / "responses_tester_2_31.json"),
            "{\n  \"tasks\": [\n    {\n      \"body\": \"ok\",\n      \"code\": 200,\n      "
            "\"uuid\": \"u1\"\n    },\n    {\n      \"body\": \"\",\n      \"code\": 0,\n      "
            "\"uuid\": \"\"\n    }\n  ]\n}");
  EXPECT_EQ(log.records(), (std::vector<LogRecord>{
                               {"info", "u1: 200 -- ok"},
                               {"info", ": 0 -- "},
                               {"info", "saved result to " + path("responses_tester_2_31.json")}}));
}

// The server under test chooses the body: in the log it can neither drive the terminal of whoever
// reads the log nor forge a log line; the log and the file keep every byte.
TEST_F(ResponsesFileTest, TheLogShowsABodyEscaped) {
  Task task = taskOf("tester", 1, 1);
  task.requests = {{"u1", "http://h/1", ""}, {"u2", "http://h/2", ""}};
  const std::string hostile = "\x1b]0;owned\x07\n[error] forged\xe2\x80\xae";
  const std::string large = std::string(199, 'a') + "\xc3\xa9" + std::string(1000, 'b');
  ASSERT_TRUE(
      saveResponses(dir.path(), "r.json", task, {{200, hostile, "u1"}, {200, large, "u2"}}));
  const std::vector<LogRecord> records = log.records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].message, "u1: 200 -- \\x1b]0;owned\\x07\\x0a[error] forged\\u202e");
  EXPECT_EQ(records[1].message, "u2: 200 -- " + large);
  const nlohmann::json saved = nlohmann::json::parse(readFile(dir / "r.json"));
  EXPECT_EQ(saved["tasks"][0]["body"], hostile);
  EXPECT_EQ(saved["tasks"][1]["body"], large);
}

TEST_F(ResponsesFileTest, EmptyTaskSavesAnEmptyArray) {
  ASSERT_TRUE(saveResponses(dir.path(), "r.json", taskOf("a", 0, 0), {}));
  EXPECT_EQ(readFile(dir / "r.json"), "{\n  \"tasks\": []\n}");
}

TEST_F(ResponsesFileTest, InvalidUtf8IsReplacedAndNamedByTheRequest) {
  Task task = taskOf("a", 0, 0);
  task.requests = {{"r1", "u", ""}, {"r2", "u", ""}, {"r3", "u", ""}};
  const std::vector<HttpResponse> responses = {
      {200, "caf\xe9 \xff", "r1"},
      {0, "cut \xe2\x82", ""},  // a failed transfer: the response has no uuid yet
      {200, "caf\xc3\xa9 \xe2\x82\xac", "r3"}};

  ASSERT_TRUE(saveResponses(dir.path(), "r.json", task, responses));
  const auto saved = nlohmann::json::parse(readFile(dir / "r.json"));
  EXPECT_EQ(saved["tasks"][0]["body"], "caf\xef\xbf\xbd \xef\xbf\xbd");
  EXPECT_EQ(saved["tasks"][1]["body"], "cut \xef\xbf\xbd");
  EXPECT_EQ(saved["tasks"][2]["body"], "caf\xc3\xa9 \xe2\x82\xac");

  std::vector<LogRecord> warnings;
  for (const auto& record : log.records()) {
    if (record.level == "warning") warnings.push_back(record);
  }
  EXPECT_EQ(
      warnings,
      (std::vector<LogRecord>{
          {"warning", "body of request r1 is not valid UTF-8; invalid bytes replaced by U+FFFD"},
          {"warning", "body of request r2 is not valid UTF-8; invalid bytes replaced by U+FFFD"}}));
}

const char* const kTwo =
    R"({"tasks": [{"body": "a", "code": 200, "uuid": "1"}, {"body": "b", "code": 403, "uuid": "2"}]})";
const char* const kThree =
    R"({"tasks": [{"body": "c", "code": 200, "uuid": "3"}, {"body": "d", "code": 0, "uuid": ""},
                  {"body": "e", "code": 500, "uuid": "5"}]})";

TEST_F(ResponsesFileTest, MergeJoinsExactlyTheGivenFilesInOrderAndReplacesAnOldResult) {
  writeFile(dir / "responses_a_0_0.json", kTwo);
  writeFile(dir / "responses_b_0_0.json", kThree);
  writeFile(dir / "responses_c_0_0.json", "not json: a failed child's leftover");
  writeFile(dir / "old_responses.json", "[1, 2]");
  writeFile(dir / "responses.json", "[\"stale\"]");

  ASSERT_TRUE(
      mergeResponses(dir.path(), own({"responses_b_0_0.json", "responses_a_0_0.json"})).written);
  const auto merged = nlohmann::json::parse(readFile(dir / "responses.json"));
  ASSERT_TRUE(merged.is_array());
  std::vector<std::string> uuids;
  for (const auto& entry : merged) uuids.push_back(entry["uuid"]);
  EXPECT_EQ(uuids, (std::vector<std::string>{"3", "", "5", "1", "2"}));
  EXPECT_EQ(merged[1], nlohmann::json::parse(R"({"body": "d", "code": 0, "uuid": ""})"));
  EXPECT_EQ(log.records(),
            (std::vector<LogRecord>{{"info", "saved result to " + path("responses.json")}}));
}

TEST_F(ResponsesFileTest, MergeOfNoEntriesWritesNull) {
  writeFile(dir / "responses_a_0_0.json", R"({"tasks": []})");
  writeFile(dir / "responses_b_0_0.json", R"({"tasks": null})");
  ASSERT_TRUE(
      mergeResponses(dir.path(), own({"responses_a_0_0.json", "responses_b_0_0.json"})).written);
  EXPECT_EQ(readFile(dir / "responses.json"), "null");
  ASSERT_TRUE(mergeResponses(dir.path(), {}).written);
  EXPECT_EQ(readFile(dir / "responses.json"), "null");
}

// Every unusable per-task file: one critical line, false, and responses.json left as it was.
TEST_F(ResponsesFileTest, MergeStopsAtAnUnusableFileAndWritesNothing) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"",
       "Failed to parse data: [json.exception.parse_error.101] parse error at line 1, column 1: "
       "syntax error while parsing value - unexpected end of input; expected '[', '{', or a "
       "literal; exception id 101; byte position of error: 1"},
      {R"({"task": []})", "Failed to parse data: json doesn't contain 'tasks"},
      {R"([{"tasks": []}])", "Failed to parse data: json doesn't contain 'tasks"},
      {R"({"tasks": {"body": "x"}})",
       "Failed to parse data: 'tasks' of responses_bad_0_0.json is an object, not an array"},
  };
  writeFile(dir / "responses_a_0_0.json", kTwo);
  writeFile(dir / "responses.json", "old");
  for (const auto& [content, message] : cases) {
    SCOPED_TRACE(content);
    writeFile(dir / "responses_bad_0_0.json", content);
    const std::size_t before = log.records().size();
    EXPECT_FALSE(mergeResponses(dir.path(), own({"responses_a_0_0.json", "responses_bad_0_0.json"}))
                     .written);
    ASSERT_EQ(log.records().size(), before + 1);
    EXPECT_EQ(log.records().back(), (LogRecord{"critical", message}));
    EXPECT_EQ(readFile(dir / "responses.json"), "old");
  }
}

}  // namespace
}  // namespace tav_test
