// The built tav-view on a suite with writes: a write verdict in words, read and write cells in
// matrices of their own on the terminal and the page, write entries marked in JSON, and the
// failed set still tav-rep's.
#include <fmt/format.h>
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

using nlohmann::json;
using Cells = tav_test::MatrixCells;
using tav_test::matrixAfter;

class WriteViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto meta = [](const std::string& uuid, const std::string& subject,
                         const std::string& object, bool write) {
      json entry = {{"uuid", uuid},           {"subject_label", subject},
                    {"object_label", object}, {"min_mac_label", "0:0"},
                    {"max_mac_label", "3:7"}, {"expect_ignore_mac_label", false}};
      if (write) entry["access"] = "write";
      return entry;
    };
    const auto answer = [](const std::string& uuid, int code, const std::string& body) {
      return json{{"uuid", uuid}, {"code", code}, {"body", body}};
    };
    tav_test::writeFile(
        dir / "metadata.json",
        json{meta("read-down", "3:7", "0:0", false), meta("write-equal", "1:1", "1:1", true),
             meta("write-down", "3:7", "0:0", true), meta("write-up", "0:0", "1:1", true)}
            .dump());
    tav_test::writeFile(dir / "responses.json", json{answer("read-down", 200, "object label 0:0"),
                                                     answer("write-equal", 201, "<p>created</p>"),
                                                     answer("write-down", 201, "<p>created</p>"),
                                                     answer("write-up", 403, "forbidden")}
                                                    .dump());
    tav_test::writeFile(dir / "tasks.json",
                        json{{{"user", {{"name", "sys"}, {"password", "p"}, {"mac_label", "3:7"}}},
                              {"requests",
                               {{{"uuid", "write-down"},
                                 {"uri", "http://h/l0_0/tav-probe-x"},
                                 {"auth_type", "basic"},
                                 {"method", "PUT"},
                                 {"body", "probe"}}}}}}
                            .dump());
    // The body check would fail a write's "created" page; writes are not body-checked.
    tav_test::writeFile(dir / "config.json", R"({"check_body": true,
        "body_template": "object label {obj_mac_lev}:{obj_mac_cat:x}",
        "allowed_codes": [200, 201, 204], "denied_codes": [401, 403]})");
  }

  std::vector<std::string> args() const {
    return tav_test::viewArgs(
        dir.path(),
        {"-t", (dir / "tasks.json").string(), "--json", (dir / "view.json").string(), "--html",
         (dir / "report.html").string(), "--junit", (dir / "junit.xml").string()});
  }

  tav_test::TempDir dir;
};

TEST_F(WriteViewTest, AWriteDownIsExplainedAndCountedApartFromTheReads) {
  const tav_test::RunResult view = tav_test::runProgram(args());
  ASSERT_EQ(view.status, 1) << view.err;
  const std::string& out = view.out;
  EXPECT_EQ(out.substr(0, out.find('\n')), "requests 4, passed 3, failed 1");
  EXPECT_NE(out.find("FAIL write-down\n"
                     "  user sys, label 3:7, basic, PUT http://h/l0_0/tav-probe-x\n"
                     "  subject 3:7, object 0:0\n"
                     "  predicted refused: subject 3:7 may not write object 0:0: the label "
                     "library refuses write access\n"
                     "  recorded 201: 201 is an allowed code\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("FAIL write-equal"), std::string::npos) << out;
  EXPECT_EQ(out.find("\nmatrix: "), std::string::npos) << out;
  EXPECT_EQ(matrixAfter(out, "read matrix: "), (Cells{{{"3:7", "0:0"}, "1/1"}})) << out;
  EXPECT_EQ(matrixAfter(out, "write matrix: "),
            (Cells{{{"0:0", "1:1"}, "1/1"}, {{"1:1", "1:1"}, "1/1"}, {{"3:7", "0:0"}, "0/1"}}))
      << out;

  const json verdicts = json::parse(tav_test::readFile(dir / "view.json")).at("verdicts");
  ASSERT_EQ(verdicts.size(), 4u);
  EXPECT_FALSE(verdicts[0].contains("access")) << verdicts[0];  // read-down
  EXPECT_EQ(verdicts[1], json::parse(R"({"uuid": "write-down", "passed": false,
      "predicted": "refused", "reason": "not_permitted",
      "why": "subject 3:7 may not write object 0:0: the label library refuses write access",
      "code": 201, "code_verdict": "201 is an allowed code", "subject_label": "3:7",
      "object_label": "0:0", "access": "write", "user": "sys",
      "url": "http://h/l0_0/tav-probe-x", "auth_type": "basic", "method": "PUT"})"));
  EXPECT_EQ(verdicts[2]["why"],
            "subject 1:1 may write object 1:1: the label library grants write access");

  const std::string page = tav_test::readFile(dir / "report.html");
  const auto reads = page.find("<table class=\"matrix\" id=\"matrix\">");
  const auto writes = page.find("<table class=\"matrix\" id=\"write-matrix\">");
  ASSERT_NE(reads, std::string::npos);
  ASSERT_NE(writes, std::string::npos);
  const std::string writeTable = page.substr(writes, page.find("</table>", writes) - writes);
  EXPECT_NE(writeTable.find("<td class=\"none\">0/1</td>"), std::string::npos) << writeTable;
  EXPECT_EQ(page.substr(reads, writes - reads).find("0/1"), std::string::npos);
  EXPECT_NE(tav_test::readFile(dir / "junit.xml").find("may not write object 0:0"),
            std::string::npos);

  // tav-rep fails the same one.
  std::filesystem::create_directory(dir / "rep");
  const auto rep = tav_test::runProgram(
      {TAV_REP_PATH, "-d", (dir / "rep").string(), "-m", (dir / "metadata.json").string(), "-r",
       (dir / "responses.json").string(), "-c", (dir / "config.json").string(), "-o",
       (dir / "rep").string()});
  ASSERT_EQ(rep.status, 0) << rep.err;
  EXPECT_EQ(json::parse(tav_test::readFile(dir / "rep" / "report.json")),
            json::parse(R"({"total_count": 4, "failed_uuids": ["write-down"]})"));
}

}  // namespace
