// The probe page as the server receives it from the built program.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "pcaps/probe_page.h"
#include "tests/support/test_support.h"

namespace {

std::string page(const std::string& remoteUser, const std::string& caps) {
  return "\n<!DOCTYPE html>\n<html>\n<head>\n    <title>tav pcaps</title>\n"
         "    <meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
         "</head>\n<body>\n<pre>\nRemote user: " +
         remoteUser + "\nKORVAL caps: " + caps + "\n</pre>\n</body>\n</html>\n";
}

tav_test::RunResult probe(const std::map<std::string, std::string>& env) {
  return tav_test::runProgram({TAV_PCAPS_PATH}, env);
}

}  // namespace

TEST(ProbePage, ShowsTheRemoteUserAndTheCapabilities) {
  const auto result = probe({{"REMOTE_USER", "alice"}, {"KORVAL_STANDIN_CAPS", "43c 1 ffffffff"}});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, page("alice", "0000043c 00000001 ffffffff"));
  EXPECT_EQ(result.err, "");
}

TEST(ProbePage, UnsetAndEmptyRemoteUserGiveTheSamePage) {
  const auto unset = probe({});
  const auto empty = probe({{"REMOTE_USER", ""}});
  EXPECT_EQ(unset.status, 0);
  EXPECT_EQ(unset.out, page("", "00000000 00000000 00000000"));
  EXPECT_EQ(empty.out, unset.out);
}

TEST(ProbePage, FailedQueryShowsUnknownAndExitsWithItsResult) {
  const auto result = probe({{"REMOTE_USER", "bob"}, {"KORVAL_STANDIN_FAIL", "korval_capget"}});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.out, page("bob", "UNKNOWN"));
  EXPECT_EQ(result.out.front(), '\n');
}

TEST(ProbePage, EscapesMarkupInTheRemoteUser) {
  const auto result = probe({{"REMOTE_USER", "<b>O'Neil & \"co\"</b>"}});
  EXPECT_EQ(result.out, page("&lt;b&gt;O&#39;Neil &amp; &quot;co&quot;&lt;/b&gt;",
                             "00000000 00000000 00000000"));
  EXPECT_EQ(tav_pcaps::escapeHtml("daemon@TAV.LAB-1_x"), "daemon@TAV.LAB-1_x");
  EXPECT_EQ(tav_pcaps::escapeHtml(""), "");
}
