// The output writer on what the programs' end-to-end tests do not reach: the names of the
// process's own descriptors, and a socket written through.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/output_set.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> reported;

void report(const std::string& name, const std::string& reason) {
  reported.push_back(name + ": " + reason);
}

}  // namespace

TEST(OutputTarget, TheShellsDescriptorNamesAreTheDescriptors) {
  const tav_test::Fd spare(::dup(STDERR_FILENO));
  for (const auto& [name, descriptor] : std::vector<std::pair<std::string, int>>{
           {"/dev/stdout", 1},
           {"/dev/stderr", 2},
           {"/dev/fd/" + std::to_string(spare.get()), spare.get()},
           {"/proc/self/fd/1", 1}}) {
    std::string reason;
    const std::optional<tav::OutputTarget> target = tav::resolveOutput(name, reason);
    ASSERT_TRUE(target) << name << ": " << reason;
    EXPECT_EQ(target->kind, tav::OutputKind::descriptor) << name;
    EXPECT_EQ(target->descriptor, descriptor) << name;
  }
  std::string reason;
  EXPECT_FALSE(tav::resolveOutput("/dev/fd/999", reason));
  EXPECT_EQ(reason, "cannot write: Bad file descriptor");
  EXPECT_FALSE(tav::resolveOutput("", reason));
  EXPECT_EQ(reason, "an empty text names no file");
}

TEST(OutputSet, ASocketIsConnectedToAndWrittenThrough) {
  tav_test::TempDir dir;
  const std::string path = (dir / "report.sock").string();
  const tav_test::Fd listener(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener.get(), 1), 0);
  std::string received;
  std::thread reader([&] {
    const tav_test::Fd peer(::accept(listener.get(), nullptr, nullptr));
    char buffer[256];
    for (ssize_t n; (n = ::read(peer.get(), buffer, sizeof buffer)) > 0;)
      received.append(buffer, n);
  });
  reported.clear();
  tav::OutputSet outputs(report);
  outputs.add(path, std::string("<testsuites/>\n"));
  outputs.add((dir / "page.html").string(), std::string("<html/>\n"));
  const bool committed = outputs.commit();
  reader.join();
  EXPECT_TRUE(committed) << ::testing::PrintToString(reported);
  EXPECT_EQ(received, "<testsuites/>\n");
  EXPECT_EQ(tav_test::readFile(dir / "page.html"), "<html/>\n");
}
