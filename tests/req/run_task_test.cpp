// The task's requests as the HTTP engine takes them.
#include "req/run_task.h"

#include <gtest/gtest.h>

#include <vector>

namespace tav_test {
namespace {

using namespace tav_req;

TEST(ToHttpRequests, TakesTheUserAndSelectsNegotiateOnlyForExactGssapi) {
  Task task;
  task.user = {"alice", "secret", 1, 2};
  task.requests = {{"u1", "http://h/1", "gssapi"},
                   {"u2", "http://h/2", "GSSAPI"},
                   {"u3", "http://h/3", "gssapi "},
                   {"u4", "http://h/4", "basic"}};
  const std::vector<HttpRequest> requests = toHttpRequests(task);
  ASSERT_EQ(requests.size(), 4u);
  const AuthType expected[] = {AuthType::GSSAPI, AuthType::PAM, AuthType::PAM, AuthType::PAM};
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(requests[i].uuid, task.requests[i].uuid);
    EXPECT_EQ(requests[i].url, task.requests[i].uri);
    EXPECT_EQ(requests[i].userName, "alice");
    EXPECT_EQ(requests[i].password, "secret");
    EXPECT_EQ(requests[i].authType, expected[i]);
  }
}

}  // namespace
}  // namespace tav_test
