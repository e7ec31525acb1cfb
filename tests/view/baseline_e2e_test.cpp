// The built tav-view against an earlier run (--baseline): every kind of change in every output
// (the terminal, JUnit read by python3's parser, the page rendered by headless Chromium, JSON),
// the statuses of --fail-on, a report.json as the baseline, and baselines it must refuse.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/view/view_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// One request: its labels and its code; code -1 leaves it out of responses.json (no answer).
struct Request {
  std::string uuid;
  std::string subject;
  std::string object;
  int code;
};

// Config: 200 allowed, 403 denied. Subject 1:0 or 2:0 reads object 0:0; 0:0 does not read 1:0.
void writeRun(const fs::path& dir, const std::vector<Request>& requests) {
  fs::create_directories(dir);
  json metadata = json::array();
  json responses = json::array();
  for (const Request& r : requests) {
    metadata.push_back({{"uuid", r.uuid},
                        {"subject_label", r.subject},
                        {"object_label", r.object},
                        {"min_mac_label", "0:0"},
                        {"max_mac_label", "2:0"},
                        {"expect_ignore_mac_label", false}});
    if (r.code >= 0) responses.push_back({{"uuid", r.uuid}, {"code", r.code}, {"body", ""}});
  }
  tav_test::writeFile(dir / "metadata.json", metadata.dump());
  tav_test::writeFile(dir / "responses.json", responses.dump());
  tav_test::writeFile(dir / "config.json", R"({"check_body": false, "body_template": "",
      "allowed_codes": [200], "denied_codes": [403]})");
}

// The first run: a, e and f pass; b, c, d, g and j fail (d with an answer, j without one).
const std::vector<Request> kFirst = {
    {"a-newfail", "1:0", "0:0", 200},     {"b-fixed", "0:0", "1:0", 200},
    {"c-still", "0:0", "1:0", 200},       {"d-lost", "1:0", "0:0", 500},
    {"e-passed", "1:0", "0:0", 200},      {"f-gone", "1:0", "0:0", 200},
    {"g-gone-failed", "0:0", "1:0", 200}, {"j-still-noanswer", "0:0", "0:0", -1}};

// The second: a fails anew, b is fixed, c still fails, d lost its answer, e passes again, f and
// g are gone, h is new and passes, i is new and fails, j still has no answer.
const std::vector<Request> kSecond = {
    {"a-newfail", "1:0", "0:0", 403}, {"b-fixed", "0:0", "1:0", 403},
    {"c-still", "0:0", "1:0", 200},   {"d-lost", "1:0", "0:0", -1},
    {"e-passed", "1:0", "0:0", 200},  {"h-new", "2:0", "1:0", 200},
    {"i-newfail", "2:0", "0:0", 403}, {"j-still-noanswer", "0:0", "0:0", -1}};

using tav_test::viewArgs;

// The earlier run's --json file.
fs::path firstRunJson(const tav_test::TempDir& dir) {
  writeRun(dir / "first", kFirst);
  const auto first = tav_test::runProgram(
      viewArgs(dir / "first", {"-q", "--json", (dir / "first.json").string()}));
  EXPECT_EQ(first.status, 1) << first.err;
  return dir / "first.json";
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(prefix)) found.push_back(line);
  }
  return found;
}

std::set<std::string> filesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.insert(item.path().filename());
  return names;
}

TEST(ViewBaseline, EveryKindOfChangeInEveryOutput) {
  tav_test::TempDir dir;
  const fs::path baseline = firstRunJson(dir);
  writeRun(dir / "second", kSecond);
  const auto result = tav_test::runProgram(viewArgs(
      dir / "second", {"--baseline", baseline.string(), "--json", (dir / "second.json").string(),
                       "--junit", (dir / "junit.xml").string()}));
  ASSERT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string& out = result.out;
  EXPECT_EQ(out.rfind("requests 8, passed 3, failed 5\nagainst baseline " + baseline.string() +
                          ": new failures 2, fixed 1, still failing 3 (1 lost its answer), new "
                          "1, gone 2\n",
                      0),
            0u)
      << out;
  // The regressions first, then the rest, each part in uuid order.
  EXPECT_EQ(linesStartingWith(out, "FAIL "),
            (std::vector<std::string>{
                "FAIL a-newfail (new failure)", "FAIL d-lost (still failing, lost its answer)",
                "FAIL i-newfail (new failure)", "FAIL c-still (still failing)",
                "FAIL j-still-noanswer (still failing)"}));
  // Each failure is explained as without a baseline.
  EXPECT_NE(out.find("FAIL a-newfail (new failure)\n  subject 1:0, object 0:0\n  predicted "
                     "granted: subject 1:0 dominates object 0:0\n  recorded 403: 403 is a denied "
                     "code\n"),
            std::string::npos)
      << out;
  // Worse: the cells of a, d and i; not the one of c, which failed before too, nor j's.
  const std::map<std::pair<std::string, std::string>, std::string> matrix = {
      {{"0:0", "0:0"}, "0/1"},
      {{"0:0", "1:0"}, "1/2"},
      {{"1:0", "0:0"}, "1/3*"},
      {{"2:0", "0:0"}, "0/1*"},
      {{"2:0", "1:0"}, "1/1"}};
  EXPECT_EQ(tav_test::matrixAfter(out), matrix) << out;

  const json second = json::parse(tav_test::readFile(dir / "second.json"));
  std::map<std::string, std::string> changes;
  for (const json& verdict : second.at("verdicts")) {
    // A lost answer is marked on the request itself, not only counted.
    changes[verdict.at("uuid")] = verdict.at("baseline").get<std::string>() +
                                  (verdict.value("lost_answer", false) ? ", lost its answer" : "");
  }
  EXPECT_EQ(changes,
            (std::map<std::string, std::string>{{"a-newfail", "new failure"},
                                                {"b-fixed", "fixed"},
                                                {"c-still", "still failing"},
                                                {"d-lost", "still failing, lost its answer"},
                                                {"e-passed", "passed"},
                                                {"h-new", "new"},
                                                {"i-newfail", "new failure"},
                                                {"j-still-noanswer", "still failing"}}));
  EXPECT_EQ(second.at("baseline"), json::parse(R"({"file": ")" + baseline.string() + R"(",
      "every_request": true, "counts": {"new_failures": 2, "fixed": 1, "still_failing": 3,
      "new": 1, "gone": 2, "lost_answers": 1}, "gone": ["f-gone", "g-gone-failed"]})"));
  EXPECT_EQ(second.at("failed_count"), 5);

  // JUnit: every failure stays one, its message saying what changed.
  const auto junit = tav_test::runProgram({"/usr/bin/python3", "-c", R"(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.get("tests"), root.get("failures"))
for c in root.iter("testcase"):
    f = c.find("failure")
    if f is not None:
        print(c.get("name"), f.get("message").split(": predicted")[0])
)",
                                           (dir / "junit.xml").string()});
  ASSERT_EQ(junit.status, 0) << junit.err;
  std::vector<std::string> junitLines;
  std::istringstream lines(junit.out);
  for (std::string line; std::getline(lines, line);) junitLines.push_back(line);
  std::sort(junitLines.begin() + 1, junitLines.end());
  EXPECT_EQ(junitLines,
            (std::vector<std::string>{"8 5", "a-newfail new failure", "c-still still failing",
                                      "d-lost still failing, lost its answer",
                                      "i-newfail new failure", "j-still-noanswer still failing"}));
}

TEST(ViewBaseline, FailOnNewFailsOnlyForNewFailuresAndLostAnswers) {
  tav_test::TempDir dir;
  const fs::path baseline = firstRunJson(dir);
  struct Case {
    std::string name;
    std::vector<Request> run;
    int any;  // the status with --fail-on any (and without --fail-on)
    int onNew;
  };
  std::vector<Request> lostOnly = kFirst;
  lostOnly[3].code = -1;  // d-lost had 500 and now has no answer
  std::vector<Request> fixedOnly = kFirst;
  fixedOnly[1].code = 403;  // b-fixed
  std::vector<Request> allPass;
  for (const Request& r : {kFirst[0], kFirst[4], kFirst[5]}) allPass.push_back(r);
  const std::vector<Case> cases = {
      {"the same run", kFirst, 1, 0},
      {"a lost answer only", lostOnly, 1, 1},
      {"one fixed, the rest still failing", fixedOnly, 1, 0},
      {"new failures", kSecond, 1, 1},
      {"every request passes", allPass, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeRun(dir / c.name, c.run);
    const std::vector<std::string> base = {"-q", "--baseline", baseline.string()};
    auto args = base;
    EXPECT_EQ(tav_test::runProgram(viewArgs(dir / c.name, args)).status, c.any);
    args.insert(args.end(), {"--fail-on", "any"});
    EXPECT_EQ(tav_test::runProgram(viewArgs(dir / c.name, args)).status, c.any);
    args = base;
    args.insert(args.end(), {"--fail-on", "new"});
    const auto onNew = tav_test::runProgram(viewArgs(dir / c.name, args));
    EXPECT_EQ(onNew.status, c.onNew) << onNew.out << onNew.err;
  }
  // Without a baseline every failure is new; a word other than new and any is a usage error.
  EXPECT_EQ(tav_test::runProgram(viewArgs(dir / "the same run", {"-q", "--fail-on", "new"})).status,
            1);
  const auto bad = tav_test::runProgram(viewArgs(dir / "the same run", {"--fail-on", "old"}));
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("PARSE ERROR"), std::string::npos) << bad.err;
}

// report.json names only failures: a request it does not name passed, and nothing is new.
TEST(ViewBaseline, AReportJsonAsTheBaseline) {
  tav_test::TempDir dir;
  writeRun(dir / "first", kFirst);
  fs::create_directory(dir / "rep");
  const auto rep = tav_test::runProgram(
      {TAV_REP_PATH, "-d", (dir / "rep").string(), "-m", (dir / "first/metadata.json").string(),
       "-r", (dir / "first/responses.json").string(), "-c", (dir / "first/config.json").string(),
       "-o", (dir / "rep").string()});
  ASSERT_EQ(rep.status, 0) << rep.err;
  const fs::path report = dir / "rep" / "report.json";
  writeRun(dir / "second", kSecond);
  const auto result = tav_test::runProgram(viewArgs(
      dir / "second", {"--baseline", report.string(), "--json", (dir / "second.json").string()}));
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(linesStartingWith(result.out, "against baseline"),
            std::vector<std::string>{
                "against baseline " + report.string() +
                ": new failures 2, fixed 1, still failing 3 (2 lost their answer), new 0, gone 1; "
                "a report.json names only failures, so a request it does not name counts as "
                "passed there"});
  const json second = json::parse(tav_test::readFile(dir / "second.json"));
  EXPECT_EQ(second.at("baseline").at("gone"), json::parse(R"(["g-gone-failed"])"));
  EXPECT_EQ(second.at("baseline").at("every_request"), false);
  // h is not named, so it passed there; j still fails without an answer, and a report.json
  // cannot say it had none then, so it counts as lost.
  std::map<std::string, std::string> changes;
  for (const json& verdict : second.at("verdicts")) {
    // A lost answer is marked on the request itself, not only counted.
    changes[verdict.at("uuid")] = verdict.at("baseline").get<std::string>() +
                                  (verdict.value("lost_answer", false) ? ", lost its answer" : "");
  }
  EXPECT_EQ(changes, (std::map<std::string, std::string>{
                         {"a-newfail", "new failure"},
                         {"b-fixed", "fixed"},
                         {"c-still", "still failing"},
                         {"d-lost", "still failing, lost its answer"},
                         {"e-passed", "passed"},
                         {"h-new", "passed"},
                         {"i-newfail", "new failure"},
                         {"j-still-noanswer", "still failing, lost its answer"}}));
  EXPECT_EQ(second.at("baseline").at("counts").at("lost_answers"), 2);
  auto args = viewArgs(dir / "second", {"-q", "--baseline", report.string(), "--fail-on", "new"});
  EXPECT_EQ(tav_test::runProgram(args).status, 1);

  // A report in which nothing failed names no request to tell its suite by: every failure now
  // is a new one.
  tav_test::writeFile(dir / "clean.json", R"({"failed_uuids": [], "total_count": 3})");
  const auto clean = tav_test::runProgram(
      viewArgs(dir / "second", {"-q", "--baseline", (dir / "clean.json").string()}));
  EXPECT_EQ(clean.status, 1) << clean.err;
  EXPECT_NE(clean.out.find(": new failures 5, fixed 0, still failing 0, new 0, gone 0"),
            std::string::npos)
      << clean.out;
}

// A file edited by hand or by another tool: out of order, a uuid twice (the later counts, as
// everywhere in tav), and through the JSON library's way (an escape) as well as the fast one.
TEST(ViewBaseline, AnEarlierFileOutOfOrderOrWithAUuidTwice) {
  tav_test::TempDir dir;
  writeRun(dir / "second", kSecond);
  for (const std::string& escape : {std::string("c-still"), std::string("c\\u002dstill")}) {
    SCOPED_TRACE(escape);
    tav_test::writeFile(dir / "earlier.json", R"({"verdicts": [
        {"uuid": "j-still-noanswer", "passed": false, "code": 0},
        {"uuid": "e-passed", "passed": true}, {"uuid": "b-fixed", "passed": false},
        {"uuid": "a-newfail", "passed": false}, {"uuid": ")" +
                                                  escape + R"(", "passed": false},
        {"uuid": "zz-gone", "passed": true}, {"uuid": "a-newfail", "passed": true}]})");
    const auto result = tav_test::runProgram(
        viewArgs(dir / "second", {"-q", "--baseline", (dir / "earlier.json").string()}));
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(
        linesStartingWith(result.out, "against"),
        std::vector<std::string>{"against baseline " + (dir / "earlier.json").string() +
                                 ": new failures 3, fixed 1, still failing 2, new 1, gone 1"});
  }
}

TEST(ViewBaseline, ABaselineItCannotUseIsStatusTwoAndNoOutput) {
  struct Case {
    std::string content;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {R"({"total_count": 2, "failed_count": 1, "verdicts": [
          {"uuid": "x", "passed": true}, {"uuid": "y", "passed": false}]})",
       "has no request id in common with this run (8 here, 2 there): it is the report of another "
       "suite"},
      {R"({"failed_uuids": ["", "zz"], "total_count": 9})",
       "has no request id in common with this run (8 here, 1 there): it is the report of another "
       "suite"},
      {"{\"verdicts\": [\n {\"uuid\": \"a\", \"passed\": tru}]}",
       "not JSON at line 2 column 29: syntax error while parsing value - invalid literal; last "
       "read: '\"passed\": tru}'"},
      {R"([{"user": {"name": "a", "password": "", "mac_label": "1:1"}, "requests": []}])",
       "this looks like a tasks file; give tav-rep's report.json or the file of tav-view --json"},
      {R"({"verdicts": [{"uuid": "a-newfail", "passed": true}, {"uuid": "b-fixed"}]})",
       "verdicts[1] has no true or false \"passed\""},
      {R"({"verdicts": [{"uuid": "a-newfail", "passed": "yes"}]})",
       "verdicts[0]: \"passed\" is a string"},
      {R"({"failed_uuids": ["a-newfail", 7]})", "failed_uuids[1] is a number, not a string"},
      {R"({"verdicts": {"uuid": "a-newfail", "passed": true}})",
       "\"verdicts\" is an object, not an array"},
      {R"({"failed_uuids": ["a-newfail"], "verdicts": [{"uuid": "a-newfail", "passed": true}]})",
       "holds both \"verdicts\" (tav-view --json) and \"failed_uuids\" (report.json); give one of "
       "them"},
      {R"({"passed": 3})",
       "holds neither \"verdicts\" (tav-view --json) nor \"failed_uuids\" (report.json)"},
      // The library would stop at the NUL and take what comes before it.
      {std::string(R"({"failed_uuids": ["a-newfail"], "total_count": 9})") + '\0',
       "not JSON at line 1 column 50: syntax error while parsing value - NUL byte in the input"},
  };
  tav_test::TempDir dir;
  writeRun(dir / "run", kSecond);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    tav_test::writeFile(dir / "baseline.json", c.content);
    const std::set<std::string> before = filesIn(dir.path());
    const auto result = tav_test::runProgram(viewArgs(
        dir / "run", {"--baseline", (dir / "baseline.json").string(), "--json",
                      (dir / "view.json").string(), "--html", (dir / "page.html").string()}));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "tav-view: " + (dir / "baseline.json").string() + ": " + c.reason + "\n");
    EXPECT_EQ(filesIn(dir.path()), before);
  }
  // Named as an output too, it would be lost.
  tav_test::writeFile(dir / "baseline.json", tav_test::readFile(firstRunJson(dir)));
  const auto same =
      tav_test::runProgram(viewArgs(dir / "run", {"--baseline", (dir / "baseline.json").string(),
                                                  "--json", (dir / "baseline.json").string()}));
  EXPECT_EQ(same.status, 2);
  EXPECT_NE(same.err.find("is the same file as the input"), std::string::npos) << same.err;
}

TEST(ViewBaseline, PageShowsTheChangesInHeadlessChromium) {
  const fs::path browser = "/usr/bin/chromium-headless-shell";
  if (!fs::exists(browser)) GTEST_SKIP() << "no " << browser << " (chromium-headless-shell)";
  tav_test::TempDir dir;
  const fs::path baseline = firstRunJson(dir);
  writeRun(dir / "second", kSecond);
  ASSERT_EQ(tav_test::runProgram(viewArgs(dir / "second", {"-q", "--baseline", baseline.string(),
                                                           "--html", (dir / "page.html").string()}))
                .status,
            1);
  std::vector<std::string> chromium = {browser.string(), "--headless", "--disable-gpu",
                                       "--dump-dom", "file://" + (dir / "page.html").string()};
  if (tav_test::isRoot()) chromium.insert(chromium.begin() + 1, "--no-sandbox");
  const auto dom = tav_test::runProgram(chromium, {{"HOME", dir.path().string()}});
  ASSERT_EQ(dom.status, 0) << dom.err;
  const std::string& page = dom.out;
  for (const auto& [id, count] :
       std::vector<std::pair<std::string, std::string>>{{"new-failures\" class=\"failed", "2"},
                                                        {"fixed", "1"},
                                                        {"still-failing", "3"},
                                                        {"lost-answers", "1"},
                                                        {"new", "1"},
                                                        {"gone", "2"}}) {
    EXPECT_NE(page.find("<span id=\"" + id + "\">" + count + "</span>"), std::string::npos)
        << id << "\n"
        << page;
  }
  // The cells that got worse are outlined, the others not.
  EXPECT_NE(page.find("<td class=\"some worse\">1/3</td>"), std::string::npos) << page;
  EXPECT_NE(page.find("<td class=\"none worse\">0/1</td>"), std::string::npos);
  EXPECT_NE(page.find("<td class=\"some\">1/2</td>"), std::string::npos);
  EXPECT_NE(page.find("<td class=\"none\">0/1</td>"), std::string::npos);
  // A column with each failure's change, the regressions first.
  const std::size_t a = page.find("<td>a-newfail</td><td class=\"change regression\">new failure");
  const std::size_t d =
      page.find("<td>d-lost</td><td class=\"change regression\">still failing, lost its answer");
  const std::size_t c = page.find("<td>c-still</td><td class=\"change\">still failing");
  EXPECT_NE(a, std::string::npos) << page;
  EXPECT_NE(d, std::string::npos);
  EXPECT_NE(c, std::string::npos);
  EXPECT_LT(a, d);
  EXPECT_LT(d, c);
}

}  // namespace
