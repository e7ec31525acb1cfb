// The built tav-view on real files: its explanations, the failed set against tav-rep's
// report.json, JUnit read by python3's XML parser, the page rendered by headless Chromium, and
// bad inputs that leave no output file.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/view/view_test_support.h"

namespace {

using nlohmann::json;

constexpr const char* kHostile = "<script>alert(1)</script><img src=x onerror=alert(2)>";

// Nine requests: three passes, a wrongful grant with a hostile body, a lost answer with the
// empty-identifier entry of a failed transfer, a code in neither set, a body with characters
// XML forbids, and a user whose every answer is 401 although one was predicted granted; the
// daemon's answers are denied only in part, so its refusals count.
void writeSuite(const tav_test::TempDir& dir) {
  const auto meta = [](const std::string& uuid, const std::string& subject,
                       const std::string& object) {
    return json{{"uuid", uuid},           {"subject_label", subject},
                {"object_label", object}, {"min_mac_label", "0:0"},
                {"max_mac_label", "3:7"}, {"expect_ignore_mac_label", false}};
  };
  const auto answer = [](const std::string& uuid, int code, const std::string& body) {
    return json{{"uuid", uuid}, {"code", code}, {"body", body}};
  };
  const json metadata = {meta("granted-ok", "3:7", "1:1"),     meta("refused-ok", "1:1", "3:7"),
                         meta("daemon-bad_3_7", "1:1", "3:7"), meta("lost", "3:7", "1:1"),
                         meta("server-error", "3:7", "1:1"),   meta("odd\x01<&>\"'", "1:1", "1:1"),
                         meta("games-a", "2:2", "0:0"),        meta("games-b", "2:2", "1:1"),
                         meta("daemon-l0_0", "1:1", "0:0")};
  const json responses = {answer("granted-ok", 200, "object label 1:1"),
                          answer("refused-ok", 403, ""),
                          answer("daemon-bad_3_7", 200, kHostile),
                          answer("", 0, ""),
                          answer("server-error", 500, "oops"),
                          answer("odd\x01<&>\"'", 200, "\x1b[31m\xef\xbf\xbe\x02 no label"),
                          answer("games-a", 401, ""),
                          answer("games-b", 401, ""),
                          answer("daemon-l0_0", 200, "object label 0:0")};
  const json tasks = {
      {{"user", {{"name", "daemon"}, {"password", "p"}, {"mac_label", "1:1"}}},
       {"requests",
        {{{"uuid", "daemon-bad_3_7"}, {"uri", "http://h/bad_3_7/"}, {"auth_type", "basic"}},
         {{"uuid", "refused-ok"}, {"uri", "http://h/l3_7/"}, {"auth_type", "basic"}},
         {{"uuid", "daemon-l0_0"}, {"uri", "http://h/l0_0/"}, {"auth_type", "basic"}}}}},
      {{"user", {{"name", "games"}, {"password", "wrong"}, {"mac_label", "2:2"}}},
       {"requests",
        {{{"uuid", "games-a"}, {"uri", "http://h/l0_0/"}, {"auth_type", "gssapi"}},
         {{"uuid", "games-b"}, {"uri", "http://h/l1_1/"}, {"auth_type", "gssapi"}}}}}};
  tav_test::writeFile(dir / "metadata.json", metadata.dump());
  tav_test::writeFile(dir / "responses.json", responses.dump());
  tav_test::writeFile(dir / "tasks.json", tasks.dump());
  tav_test::writeFile(
      dir / "config.json",
      R"({"check_body": true, "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
                          "allowed_codes": [200], "denied_codes": [401, 403]})");
}

std::vector<std::string> viewArgs(const tav_test::TempDir& dir) {
  return tav_test::viewArgs(dir.path());
}

std::set<std::string> filesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    names.insert(item.path().filename().string());
  }
  return names;
}

TEST(ViewE2E, ExplainsEveryFailureAndAgreesWithTavRep) {
  tav_test::TempDir dir;
  writeSuite(dir);
  std::vector<std::string> args = viewArgs(dir);
  args.insert(args.end(),
              {"-t", (dir / "tasks.json").string(), "--junit", (dir / "junit.xml").string(),
               "--html", (dir / "report.html").string(), "--json", (dir / "view.json").string()});
  const tav_test::RunResult view = tav_test::runProgram(args);
  ASSERT_EQ(view.status, 1) << view.err;
  const std::string& out = view.out;
  EXPECT_EQ(out.substr(0, out.find('\n')), "requests 10, passed 4, failed 6");
  EXPECT_NE(out.find("FAIL daemon-bad_3_7\n  user daemon, label 1:1, basic, http://h/bad_3_7/\n"
                     "  subject 1:1, object 3:7\n"
                     "  predicted refused: subject 1:1 does not dominate object 3:7\n"
                     "  recorded 200: 200 is an allowed code\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("recorded 0: code 0: no answer, the transfer failed"), std::string::npos);
  EXPECT_NE(out.find("recorded 500: 500 is in neither the allowed nor the denied codes"),
            std::string::npos);
  EXPECT_NE(out.find("FAIL odd\\x01<&>\"'\n"), std::string::npos)
      << "control bytes reach the terminal";
  EXPECT_NE(
      out.find("hint: user games (label 2:2; gssapi): all 2 requests got a denied code although "
               "1 was predicted granted: authentication probably failed, and this user's refusals "
               "prove nothing: games-a, games-b\n"),
      std::string::npos);
  EXPECT_NE(out.find("hint: responses.json holds an entry with an empty identifier: tav-req "
                     "writes one for each failed transfer; requests without an answer: lost\n"),
            std::string::npos);
  // The daemon got an allowed code too: its refusals count, so no hint casts doubt on them.
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("hint:")) {
      EXPECT_EQ(line.find("daemon"), std::string::npos) << line;
    }
  }
  const std::map<std::pair<std::string, std::string>, std::string> matrix = {
      {{"(none)", "(none)"}, "0/1"}, {{"1:1", "0:0"}, "1/1"}, {{"1:1", "1:1"}, "0/1"},
      {{"1:1", "3:7"}, "1/2"},       {{"2:2", "0:0"}, "0/1"}, {{"2:2", "1:1"}, "1/1"},
      {{"3:7", "1:1"}, "1/3"}};
  EXPECT_EQ(tav_test::matrixAfter(out), matrix) << out;

  // The failed set is tav-rep's, for the same files.
  std::filesystem::create_directory(dir / "rep");
  const auto rep = tav_test::runProgram(
      {TAV_REP_PATH, "-d", (dir / "rep").string(), "-m", (dir / "metadata.json").string(), "-r",
       (dir / "responses.json").string(), "-c", (dir / "config.json").string(), "-o",
       (dir / "rep").string()});
  ASSERT_EQ(rep.status, 0) << rep.err;
  const json report = json::parse(tav_test::readFile(dir / "rep" / "report.json"));
  const json verdicts = json::parse(tav_test::readFile(dir / "view.json"));
  std::set<std::string> failed;
  for (const json& verdict : verdicts.at("verdicts")) {
    if (!verdict.at("passed").get<bool>()) failed.insert(verdict.at("uuid").get<std::string>());
  }
  EXPECT_EQ(failed, report.at("failed_uuids").get<std::set<std::string>>());
  EXPECT_EQ(verdicts.at("total_count"), report.at("total_count"));
  const auto bad = std::ranges::find(verdicts.at("verdicts"), json("daemon-bad_3_7"),
                                     [](const json& v) { return v.at("uuid"); });
  ASSERT_NE(bad, verdicts.at("verdicts").end());
  EXPECT_EQ(*bad, json::parse(R"({"uuid": "daemon-bad_3_7", "passed": false,
      "predicted": "refused", "reason": "not_permitted",
      "why": "subject 1:1 does not dominate object 3:7", "code": 200,
      "code_verdict": "200 is an allowed code", "subject_label": "1:1", "object_label": "3:7",
      "user": "daemon", "url": "http://h/bad_3_7/", "auth_type": "basic"})"));

  // JUnit: python3's parser reads it; counts per suite, and the failures by name.
  const auto junit = tav_test::runProgram({"/usr/bin/python3", "-c", R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
for s in root.iter("testsuite"):
    cases = s.findall("testcase")
    failed = [c.get("name") for c in cases if c.find("failure") is not None]
    print(s.get("name"), s.get("tests"), s.get("failures"), len(cases), len(failed), "|".join(failed))
print(root.get("tests"), root.get("failures"))
)",
                                           (dir / "junit.xml").string()});
  ASSERT_EQ(junit.status, 0) << junit.err;
  EXPECT_EQ(junit.out,
            "user daemon, label 1:1, basic 3 1 3 1 daemon-bad_3_7\n"
            "user games, label 2:2, gssapi 2 1 2 1 games-a\n"
            "requests no task names 5 4 5 4 |lost|odd\ufffd<&>\"'|server-error\n"
            "10 6\n");
}

TEST(ViewE2E, PageRendersInHeadlessChromiumWithTheHostileBodyAsText) {
  const std::filesystem::path browser = "/usr/bin/chromium-headless-shell";
  if (!std::filesystem::exists(browser))
    GTEST_SKIP() << "no " << browser << " (chromium-headless-shell)";
  tav_test::TempDir dir;
  writeSuite(dir);
  std::vector<std::string> args = viewArgs(dir);
  args.insert(args.end(), {"--quiet", "--html", (dir / "report.html").string()});
  ASSERT_EQ(tav_test::runProgram(args).status, 1);
  const std::string page = tav_test::readFile(dir / "report.html");
  EXPECT_EQ(page.find("<script"), std::string::npos);

  std::vector<std::string> chromium = {browser.string(), "--headless", "--disable-gpu",
                                       "--dump-dom", "file://" + (dir / "report.html").string()};
  if (tav_test::isRoot()) chromium.insert(chromium.begin() + 1, "--no-sandbox");
  const auto dom = tav_test::runProgram(chromium, {{"HOME", dir.path().string()}});
  ASSERT_EQ(dom.status, 0) << dom.err;
  EXPECT_NE(dom.out.find("<span id=\"total\">10</span>"), std::string::npos) << dom.out;
  EXPECT_NE(dom.out.find("<span id=\"failed\" class=\"failed\">6</span>"), std::string::npos);
  // Subject 1:1 against object 3:7: the pass and the wrongful grant.
  EXPECT_NE(dom.out.find("<td class=\"some\">1/2</td>"), std::string::npos);
  EXPECT_NE(dom.out.find("&lt;script&gt;alert(1)&lt;/script&gt;&lt;img src=x onerror=alert(2)&gt;"),
            std::string::npos);
  EXPECT_EQ(dom.out.find("<img"), std::string::npos);
  EXPECT_EQ(dom.out.find("<script"), std::string::npos);
}

TEST(ViewE2E, AllPassedIsStatusZeroAndQuietPrintsOnlyTheTotals) {
  tav_test::TempDir dir;
  writeSuite(dir);
  tav_test::writeFile(
      dir / "metadata.json",
      R"([{"uuid": "a", "subject_label": "1:1", "object_label": "3:7", "min_mac_label": "0:0",
                           "max_mac_label": "3:7", "expect_ignore_mac_label": false}])");
  tav_test::writeFile(dir / "responses.json", R"([{"uuid": "a", "code": 403, "body": ""}])");
  std::vector<std::string> args = viewArgs(dir);
  args.push_back("--quiet");
  const auto result = tav_test::runProgram(args);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "requests 1, passed 1, failed 0\n");
}

// A user whose logins fail under several labels and auth types gets one hint, and every hint
// names its requests, passing ones included; its labels go by level, then categories.
TEST(ViewE2E, HintsNameTheirRequestsOneLinePerUser) {
  tav_test::TempDir dir;
  const auto meta = [](const std::string& uuid, const std::string& subject,
                       const std::string& object, const std::string& max, bool ignore) {
    return json{{"uuid", uuid},           {"subject_label", subject},
                {"object_label", object}, {"min_mac_label", "0:0"},
                {"max_mac_label", max},   {"expect_ignore_mac_label", ignore}};
  };
  const auto answer = [](const std::string& uuid, int code) {
    return json{{"uuid", uuid}, {"code", code}, {"body", ""}};
  };
  const auto request = [](const std::string& uuid, const std::string& auth) {
    return json{{"uuid", uuid}, {"uri", "http://h/" + uuid}, {"auth_type", auth}};
  };
  json metadata = {
      meta("g-a", "2:2", "0:0", "3:7", false),        meta("g-b", "2:2", "3:7", "3:7", false),
      meta("g-c", "2:2", "0:0", "3:7", false),        meta("g-d", "0:0", "0:0", "3:7", false),
      meta("ignored-302", "3:7", "1:1", "1:1", true), meta("odd-302", "3:7", "1:1", "3:7", false)};
  json responses = {answer("g-a", 401), answer("g-b", 401),         answer("g-c", 401),
                    answer("g-d", 401), answer("ignored-302", 302), answer("odd-302", 302)};
  for (int i = 1; i <= 5; ++i) {
    metadata.push_back(meta(fmt::format("odd-302-{}", i), "3:7", "1:1", "3:7", false));
    responses.push_back(answer(fmt::format("odd-302-{}", i), 302));
  }
  tav_test::writeFile(dir / "metadata.json", metadata.dump());
  tav_test::writeFile(dir / "responses.json", responses.dump());
  const json user22 = {{"name", "games"}, {"password", "p"}, {"mac_label", "2:2"}};
  const json user00 = {{"name", "games"}, {"password", "p"}, {"mac_label", "0:0"}};
  tav_test::writeFile(
      dir / "tasks.json",
      json({{{"user", user22},
             {"requests",
              {request("g-a", "basic"), request("g-b", "basic"), request("g-c", "gssapi")}}},
            {{"user", user00}, {"requests", {request("g-d", "basic")}}}})
          .dump());
  tav_test::writeFile(dir / "config.json", R"({"check_body": false, "body_template": "",
                          "allowed_codes": [200], "denied_codes": [401, 403]})");
  std::vector<std::string> args = viewArgs(dir);
  args.insert(args.end(), {"-t", (dir / "tasks.json").string()});
  const auto result = tav_test::runProgram(args);
  EXPECT_EQ(result.status, 1) << result.err;
  const std::string hints = result.out.substr(result.out.find("\nhint: ") + 1);
  EXPECT_EQ(hints,
            "hint: user games (labels 0:0, 2:2; basic, gssapi): all 4 requests got a denied code "
            "although 3 were predicted granted: authentication probably failed, and this "
            "user's refusals prove nothing: g-a, g-b, g-c, g-d\n"
            "hint: 7 requests got a code in neither the allowed nor the denied set: 302 (7x: "
            "ignored-302, odd-302, odd-302-1, odd-302-2, odd-302-3 and 2 more)\n");
}

// Each input fault is told in a person's words, naming the file, the entry and the key.
TEST(ViewE2E, UnusableInputIsStatusTwoWithOneLineAndNoOutputFile) {
  struct Case {
    std::string file;
    std::string content;  // "-": the file is removed; "/": a folder; "@NAME": a link to NAME
    std::string reason;   // the whole rest of the line, or its start when it ends in "..."
  };
  const std::string perTask = R"({"tasks": [{"uuid": "a", "code": 200, "body": ""}]})";
  const std::string tasks =
      R"([{"user": {"name": "a", "password": "", "mac_label": "1:1"}, "requests": []}])";
  const std::vector<Case> cases = {
      {"metadata.json", "-", "no such file"},
      {"config.json", "/", "is a folder, not a file"},
      {"responses.json", "[\n  {\"uuid\": \"a\",\n   \"code\": 2x}\n]",
       "not JSON at line 3 column 13: syntax error while parsing object - invalid literal..."},
      {"responses.json", " \n", "is empty, not JSON"},
      {"responses.json", perTask,
       "this looks like a per-task responses file ({\"tasks\": [...]}); give the merged "
       "responses.json"},
      {"responses.json", tasks, "this looks like a tasks file; give the merged responses.json"},
      {"metadata.json", R"([{"uuid": "a", "code": 200, "body": ""}])",
       "this looks like a responses file; give the metadata file"},
      {"responses.json",
       R"([{"uuid": "a", "code": 200, "body": ""}, {"uuid": "b", "code": "200"}])",
       "[1]: \"code\" is string, not a number"},
      {"metadata.json", "[{\"uuid\": \"a\"}]", "[0]: has no \"object_label\""},
      {"config.json", R"({"check_body": true, "body_template": "", "allowed_codes": [200]})",
       "has no \"denied_codes\""},
      {"config.json",
       R"({"check_body": true, "body_template": "{nope}", "allowed_codes": [], "denied_codes": []})",
       "body_template \"{nope}\" cannot be formatted..."},
      {"tasks.json",
       R"([{"user": {"name": "a", "password": "", "mac_label": "1:1"}, "requests": []},
           {"user": {"name": "b", "password": "", "mac_label": "x"}, "requests": []}])",
       "tasks[1] (user b): invalid mac_label \"x\": it has no colon"},
      {"tasks.json",
       R"([{"user": {"name": "a", "password": "", "mac_label": "1:1"},
            "requests": [{"uuid": "u", "auth_type": "basic"}]}])",
       "tasks[0] (user a): requests[0] has no \"uri\""},
      {"junit-folder", "", "cannot write: No such file or directory"},
      {"responses.json", "@metadata.json",
       "is the metadata file (-m) as well; give the merged responses.json of the run"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + c.content);
    tav_test::TempDir dir;
    writeSuite(dir);
    std::filesystem::path named = dir / c.file;
    if (c.content == "-") {
      std::filesystem::remove(named);
    } else if (c.content == "/") {
      std::filesystem::remove(named);
      std::filesystem::create_directory(named);
    } else if (c.content.starts_with("@")) {
      std::filesystem::remove(named);
      std::filesystem::create_symlink(c.content.substr(1), named);
    } else if (c.file != "junit-folder") {
      tav_test::writeFile(named, c.content);
    }
    std::filesystem::path junit = dir / "junit.xml";
    if (c.file == "junit-folder") named = junit = dir / "missing" / "junit.xml";
    const std::set<std::string> before = filesIn(dir.path());
    std::vector<std::string> args = viewArgs(dir);
    args.insert(args.end(),
                {"-t", (dir / "tasks.json").string(), "--html", (dir / "report.html").string(),
                 "--json", (dir / "view.json").string(), "--junit", junit.string()});
    const auto result = tav_test::runProgram(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    const std::string line = "tav-view: " + named.string() + ": " + c.reason;
    if (c.reason.ends_with("...")) {
      EXPECT_EQ(result.err.rfind(line.substr(0, line.size() - 3), 0), 0u) << result.err;
    } else {
      EXPECT_EQ(result.err, line + "\n");
    }
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(filesIn(dir.path()), before);
  }
}

// The metadata named again as the responses: said as such, not as a key the loader missed.
TEST(ViewE2E, TheSameFileAsMetadataAndResponsesIsSaidAsSuch) {
  tav_test::TempDir dir;
  writeSuite(dir);
  const std::string metadata = (dir / "metadata.json").string();
  const auto result = tav_test::runProgram(
      {TAV_VIEW_PATH, "-m", metadata, "-r", metadata, "-c", (dir / "config.json").string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "tav-view: " + metadata +
                            ": is the metadata file (-m) as well; give the merged responses.json "
                            "of the run\n");
}

TEST(ViewE2E, UnreadableInputIsPermissionDenied) {
  if (!tav_test::isRoot()) GTEST_SKIP() << "runs tav-view as nobody: needs root";
  const std::vector<std::string> asNobody = {"/usr/bin/setpriv", "--reuid=nobody",
                                             "--regid=nogroup", "--clear-groups"};
  std::vector<std::string> version = asNobody;
  version.insert(version.end(), {TAV_VIEW_PATH, "--version"});
  if (tav_test::runProgram(version).status != 0) {
    // A checkout under /root, say: the loader cannot reach the build's libraries as nobody.
    GTEST_SKIP() << "nobody cannot run " << TAV_VIEW_PATH << " from this build tree";
  }
  tav_test::TempDir dir;
  writeSuite(dir);
  std::filesystem::permissions(dir / "responses.json", std::filesystem::perms::none);
  std::vector<std::string> args = viewArgs(dir);
  args.insert(args.begin(), asNobody.begin(), asNobody.end());
  const auto result = tav_test::runProgram(args);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "tav-view: " + (dir / "responses.json").string() + ": permission denied\n");
}

}  // namespace
