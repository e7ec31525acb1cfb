// The built tav-view's outputs and command line: devices, FIFOs and links written as the shell
// would, names that cannot be outputs refused before anything is written, the usage status,
// colour on a terminal, and labels in numeric order.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/view/view_test_support.h"

namespace fs = std::filesystem;

namespace {

// One request per subject and object label of 0:0, 1:0, 2:0, 10:0 and 100:0, each answered
// 200: those whose subject dominates the object pass, the rest fail.
void writeLadder(const tav_test::TempDir& dir) {
  const std::vector<std::string> levels = {"100", "10", "2", "1", "0"};
  std::string metadata = "[";
  std::string responses = "[";
  for (const std::string& subject : levels) {
    for (const std::string& object : levels) {
      const std::string uuid = subject + "-" + object;
      metadata += (metadata.size() > 1 ? "," : "") + std::string("{\"uuid\": \"") + uuid +
                  "\", \"subject_label\": \"" + subject + ":0\", \"object_label\": \"" + object +
                  ":0\", \"min_mac_label\": \"0:0\", \"max_mac_label\": \"100:0\", "
                  "\"expect_ignore_mac_label\": false}";
      responses += (responses.size() > 1 ? "," : "") + std::string("{\"uuid\": \"") + uuid +
                   "\", \"code\": 200, \"body\": \"\"}";
    }
  }
  tav_test::writeFile(dir / "metadata.json", metadata + "]");
  tav_test::writeFile(dir / "responses.json", responses + "]");
  tav_test::writeFile(dir / "config.json",
                      R"({"check_body": false, "body_template": "", "allowed_codes": [200],
                          "denied_codes": [403]})");
}

// Quiet: these tests are about the files written.
std::vector<std::string> viewArgs(const tav_test::TempDir& dir,
                                  const std::vector<std::string>& more) {
  std::vector<std::string> args = tav_test::viewArgs(dir.path(), {"-q"});
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// Every entry of the folder with its content (a folder's as "<folder>"), hidden ones included.
std::map<std::string, std::string> contentOf(const fs::path& folder) {
  std::map<std::string, std::string> content;
  for (const auto& item : fs::directory_iterator(folder)) {
    content[item.path().filename().string()] =
        item.is_directory() ? "<folder>" : tav_test::readFile(item.path());
  }
  return content;
}

}  // namespace

// The null and the full device: as root, nodes of their own in the test folder, so that a
// writer that replaced them would not replace the system's; others cannot replace /dev's.
std::pair<fs::path, fs::path> nullAndFull(const tav_test::TempDir& dir) {
  if (!tav_test::isRoot()) return {"/dev/null", "/dev/full"};
  EXPECT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
  EXPECT_EQ(::mknod((dir / "full").c_str(), S_IFCHR | 0666, ::makedev(1, 7)), 0);
  return {dir / "null", dir / "full"};
}

TEST(ViewOutputs, DevicesAreWrittenThroughAndNeverReplaced) {
  tav_test::TempDir dir;
  writeLadder(dir);
  const auto [null, full] = nullAndFull(dir);
  const auto toNull = tav_test::runProgram(
      viewArgs(dir, {"--junit", null.string(), "--html", (dir / "page.html").string()}));
  EXPECT_EQ(toNull.status, 1) << toNull.err;
  EXPECT_TRUE(fs::is_character_file(null));
  EXPECT_NE(tav_test::readFile(dir / "page.html").find("<table"), std::string::npos);

  // A device that refuses the content: status 2, its reason, and the file set as it was.
  const auto toFull = tav_test::runProgram(
      viewArgs(dir, {"--html", (dir / "new.html").string(), "--junit", full.string()}));
  EXPECT_EQ(toFull.status, 2);
  EXPECT_EQ(toFull.err, "tav-view: " + full.string() + ": cannot write: No space left on device\n");
  EXPECT_TRUE(fs::is_character_file(full));
  EXPECT_FALSE(fs::exists(dir / "new.html"));

  // The program's own standard output, whatever that is (here a file), as /dev/stdout is
  // read; /proc/self/fd/1 is the name of it that no faulty writer can replace.
  const auto toStdout = tav_test::runProgram(viewArgs(dir, {"--json", "/proc/self/fd/1"}));
  EXPECT_EQ(toStdout.status, 1) << toStdout.err;
  EXPECT_EQ(toStdout.out.rfind("{\n  \"total_count\": 25,", 0), 0u) << toStdout.out;
  EXPECT_NE(toStdout.out.find("]\n}\nrequests 25, passed 15, failed 10\n"), std::string::npos);
}

TEST(ViewOutputs, FifoIsWrittenToItsReader) {
  tav_test::TempDir dir;
  writeLadder(dir);
  const fs::path fifo = dir / "junit.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const tav_test::Fd readEnd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  // Our own writer holds the end of the stream off until the program is done with the FIFO,
  // or has replaced it and never opened it.
  tav_test::Fd ourWriter(::open(fifo.c_str(), O_WRONLY));
  ASSERT_TRUE(readEnd && ourWriter);
  ASSERT_EQ(::fcntl(readEnd.get(), F_SETFL, 0), 0);
  std::string read;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) read.append(buffer, n);
  });
  const auto result = tav_test::runProgram(viewArgs(dir, {"--junit", fifo.string()}));
  ourWriter.reset();
  reader.join();
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(read.rfind("<?xml", 0), 0u) << read;
  EXPECT_NE(read.find("</testsuites>\n"), std::string::npos);
}

TEST(ViewOutputs, ALinkStaysAndItsFinalTargetGetsTheOutput) {
  tav_test::TempDir dir;
  writeLadder(dir);
  fs::create_directory(dir / "pages");
  tav_test::writeFile(dir / "pages" / "old.html", "old");
  fs::create_symlink("pages/old.html", dir / "hop.html");
  fs::create_symlink("hop.html", dir / "link.html");
  fs::create_symlink("pages/new.json", dir / "dangling.json");
  const auto result = tav_test::runProgram(viewArgs(
      dir, {"--html", (dir / "link.html").string(), "--json", (dir / "dangling.json").string()}));
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link.html"));
  EXPECT_EQ(fs::read_symlink(dir / "link.html"), "hop.html");
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.json"));
  EXPECT_NE(tav_test::readFile(dir / "pages" / "old.html").find("<!DOCTYPE html>"),
            std::string::npos);
  EXPECT_NE(tav_test::readFile(dir / "pages" / "new.json").find("\"verdicts\""), std::string::npos);
  // Nothing is left beside the targets: no temporary file, no backup.
  EXPECT_EQ(contentOf(dir / "pages").size(), 2u);
}

// The summary is an output too: one that cannot be written (a full disk, a closed standard
// output) is status 2 with the reason, never a silent pass.
TEST(ViewOutputs, ASummaryThatCannotBeWrittenIsStatusTwo) {
  SKIP_UNLESS_ROOT();
  tav_test::TempDir dir;
  writeLadder(dir);
  const auto [null, full] = nullAndFull(dir);
  std::string command = "exec";
  for (const std::string& arg : viewArgs(dir, {})) command += " '" + arg + "'";
  for (const std::string& redirect :
       std::vector<std::string>{" >'" + full.string() + "'", " >&-"}) {
    const auto result = tav_test::runProgram({"/bin/sh", "-c", command + redirect});
    EXPECT_EQ(result.status, 2) << redirect;
    EXPECT_TRUE(result.err.starts_with("tav-view: standard output: cannot write: "))
        << redirect << ": " << result.err;
  }
  const auto toNull =
      tav_test::runProgram({"/bin/sh", "-c", command + " >'" + null.string() + "'"});
  EXPECT_EQ(toNull.status, 1) << toNull.err;
  EXPECT_EQ(toNull.err, "");
}

// A signal that ends the program while the set is written (here: held up opening a FIFO that
// nobody reads) removes the temporary files already written, and the folder is as it was.
TEST(ViewOutputs, ASignalMidwayLeavesNoTemporaryFileBehind) {
  tav_test::TempDir dir;
  writeLadder(dir);
  fs::create_directory(dir / "pages");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const tav_test::Fd out = tav_test::temporaryFile();
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t pid =
        tav_test::spawnProgram(viewArgs(dir, {"--html", (dir / "pages" / "new.html").string(),
                                              "--json", (dir / "fifo").string()}),
                               {}, {-1, out.get(), out.get()});
    bool written = false;
    for (int i = 0; i < 500 && !written; ++i) {
      written = !fs::is_empty(dir / "pages");
      if (!written) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(written) << "no temporary file appeared";
    // The program is in the FIFO's open by now or soon; a signal before it is handled alike.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(pid, signal);
    EXPECT_EQ(tav_test::waitForChild(pid), 128 + signal);
    for (const auto& left : fs::directory_iterator(dir / "pages")) {
      ADD_FAILURE() << "signal " << signal << " left " << left.path().filename();
    }
  }
}

TEST(ViewOutputs, ALinkAnotherUserPlantedInASharedFolderIsNotFollowed) {
  SKIP_UNLESS_ROOT();
  tav_test::TempDir dir;
  writeLadder(dir);
  const fs::path shared = dir / "shared";
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  tav_test::writeFile(dir / "precious", "keep");
  fs::create_symlink(dir / "precious", shared / "report.html");
  ASSERT_EQ(::lchown((shared / "report.html").c_str(), 65534, 65534), 0);
  const auto result =
      tav_test::runProgram(viewArgs(dir, {"--html", (shared / "report.html").string()}));
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "tav-view: " + (shared / "report.html").string() +
                            ": is a symbolic link that another user made in the shared folder " +
                            shared.string() + "; it is not followed\n");
  EXPECT_EQ(tav_test::readFile(dir / "precious"), "keep");

  // Nor is one that leads to a device, nor one on the way to the output, and another user's
  // FIFO there is not written to: none of them is opened.
  const auto [null, full] = nullAndFull(dir);
  fs::create_directory(dir / "victims");
  tav_test::writeFile(dir / "victims" / "passwd", "keep");
  const std::vector<std::pair<std::string, fs::path>> planted = {{"device.json", null},
                                                                 {"folder", dir / "victims"}};
  for (const auto& [name, to] : planted) {
    fs::create_symlink(to, shared / name);
    ASSERT_EQ(::lchown((shared / name).c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::mkfifo((shared / "fifo.json").c_str(), 0666), 0);
  ASSERT_EQ(::chown((shared / "fifo.json").c_str(), 65534, 65534), 0);
  // A reader, as the planter would keep one: a writer that opened the FIFO would not block.
  const tav_test::Fd reader(::open((shared / "fifo.json").c_str(), O_RDONLY | O_NONBLOCK));
  const std::vector<std::pair<fs::path, std::string>> refused = {
      {shared / "device.json", "is a symbolic link that another user made in the shared folder " +
                                   shared.string() + "; it is not followed"},
      {shared / "folder" / "passwd",
       "is a symbolic link that another user made in the shared folder " + shared.string() +
           "; it is not followed"},
      {shared / "fifo.json", "is a FIFO that another user made in the shared folder " +
                                 shared.string() + "; it is not written to"}};
  for (const auto& [output, reason] : refused) {
    const auto run = tav_test::runProgram(viewArgs(dir, {"--json", output.string()}));
    EXPECT_EQ(run.status, 2) << output;
    EXPECT_EQ(run.err, "tav-view: " + output.string() + ": " + reason + "\n");
  }
  EXPECT_EQ(tav_test::readFile(dir / "victims" / "passwd"), "keep");
}

TEST(ViewOutputs, AFifoOrALinkToADeviceAnotherUserPlantedInASharedFolderIsRefused) {
  SKIP_UNLESS_ROOT();
  tav_test::TempDir dir;
  writeLadder(dir);
  const fs::path shared = dir / "shared";
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const fs::path fifo = shared / "verdicts.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::lchown(fifo.c_str(), 65534, 65534), 0);
  // A reader of our own, so that a program that writes to the FIFO ends instead of waiting.
  const tav_test::Fd readEnd(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_TRUE(readEnd);
  // Root's own character device (a null device), reached through another user's link.
  const fs::path device = dir / "null";
  ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
  fs::create_symlink(device, shared / "report.html");
  ASSERT_EQ(::lchown((shared / "report.html").c_str(), 65534, 65534), 0);

  const auto toFifo = tav_test::runProgram(viewArgs(dir, {"--json", fifo.string()}));
  EXPECT_EQ(toFifo.status, 2) << toFifo.err;
  EXPECT_EQ(toFifo.err, "tav-view: " + fifo.string() +
                            ": is a FIFO that another user made in the shared folder " +
                            shared.string() + "; it is not written to\n");
  char byte = 0;
  EXPECT_LE(::read(readEnd.get(), &byte, 1), 0) << "the FIFO got the verdicts";
  const auto toDevice =
      tav_test::runProgram(viewArgs(dir, {"--html", (shared / "report.html").string()}));
  EXPECT_EQ(toDevice.status, 2) << toDevice.err;
  EXPECT_NE(toDevice.err.find("is a symbolic link that another user made"), std::string::npos)
      << toDevice.err;
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(ViewOutputs, NamesThatCannotBeOutputsStopTheRunBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::string> outputs;  // "@" stands for the test folder
    std::string named;                 // the name the error line is about
    std::string reason;
  };
  const std::vector<Case> cases = {
      {{"--junit", "@/j.xml", "--html", "@/adir", "--json", "@/v.json"},
       "@/adir",
       "is a folder; name a file"},
      {{"--junit", "@/j.xml", "--json", "@/responses.json"},
       "@/responses.json",
       "is the same file as the input @/responses.json; name another file"},
      {{"--junit", "@/j.xml", "--json", "@/to-config"},
       "@/to-config",
       "is the same file as the input @/config.json; name another file"},
      {{"--junit", "@/x", "--html", "@/x"},
       "@/x",
       "is the same file as the output @/x; name each output once"},
      {{"--junit", "@/adir/../x", "--html", "@/x"},
       "@/x",
       "is the same file as the output @/adir/../x; name each output once"},
      {{"--html", "@/old.html", "--json", "@/to-old"},
       "@/to-old",
       "is the same file as the output @/old.html; name each output once"},
  };
  for (const Case& c : cases) {
    tav_test::TempDir dir;
    const auto here = [&](std::string text) {
      for (std::size_t at; (at = text.find('@')) != std::string::npos;) {
        text.replace(at, 1, dir.path().string());
      }
      return text;
    };
    SCOPED_TRACE(here(c.reason));
    writeLadder(dir);
    fs::create_directory(dir / "adir");
    tav_test::writeFile(dir / "old.html", "old");
    fs::create_symlink("config.json", dir / "to-config");
    fs::create_symlink("old.html", dir / "to-old");
    const auto before = contentOf(dir.path());
    std::vector<std::string> outputs;
    for (const std::string& arg : c.outputs) outputs.push_back(here(arg));
    const auto result = tav_test::runProgram(viewArgs(dir, outputs));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "tav-view: " + here(c.named) + ": " + here(c.reason) + "\n");
    EXPECT_EQ(contentOf(dir.path()), before);
  }
}

TEST(ViewCommandLine, AnUnusableCommandLineEndsWithTwo) {
  tav_test::TempDir dir;
  writeLadder(dir);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{TAV_VIEW_PATH}, viewArgs(dir, {"--no-such-option"}),
        viewArgs(dir, {"--junit", ""}), viewArgs(dir, {"--html", "", "--json", "v.json"})}) {
    SCOPED_TRACE(args.back());
    const auto result = tav_test::runProgram(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("PARSE ERROR"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("   tav-view --help"), std::string::npos) << result.err;
  }
  EXPECT_NE(tav_test::runProgram(viewArgs(dir, {"--junit", ""}))
                .err.find("Value '' does not meet constraint: Value must not be empty."),
            std::string::npos);
  EXPECT_EQ(contentOf(dir.path()).size(), 3u);
}

TEST(ViewSummary, ColourOnATerminalUnlessNoColorIsSetNonEmpty) {
  tav_test::TempDir dir;
  writeLadder(dir);
  for (const auto& [noColor, painted] :
       std::vector<std::pair<std::string, bool>>{{"", true}, {"1", false}}) {
    SCOPED_TRACE("NO_COLOR=" + noColor);
    int terminal = -1;
    int program = -1;
    ASSERT_EQ(::openpty(&terminal, &program, nullptr, nullptr, nullptr), 0);
    const tav_test::Fd ours(terminal);
    const pid_t pid =
        tav_test::spawnProgram(viewArgs(dir, {}), {{"NO_COLOR", noColor}}, {-1, program, -1});
    ::close(program);
    std::string shown;
    char buffer[4096];
    // The terminal reports EIO once the program has closed its side and all was read.
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
    EXPECT_EQ(tav_test::waitForChild(pid), 1);
    EXPECT_NE(shown.find("requests 25, passed 15, failed 10"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\x1b[31m") != std::string::npos, painted) << shown;
  }
}

TEST(ViewSummary, LabelsGoByLevelThenCategoriesEverywhere) {
  tav_test::TempDir dir;
  writeLadder(dir);
  std::vector<std::string> args = viewArgs(
      dir, {"--html", (dir / "page.html").string(), "--junit", (dir / "junit.xml").string()});
  args.erase(std::find(args.begin(), args.end(), "-q"));
  const auto result = tav_test::runProgram(args);
  ASSERT_EQ(result.status, 1) << result.err;
  const std::string& out = result.out;
  const std::size_t matrix = out.find("matrix:");
  ASSERT_NE(matrix, std::string::npos) << out;
  EXPECT_NE(out.find("             0:0     1:0     2:0    10:0   100:0\n"
                     "0:0          1/1     0/1     0/1     0/1     0/1\n"
                     "1:0          1/1     1/1     0/1     0/1     0/1\n"
                     "2:0          1/1     1/1     1/1     0/1     0/1\n"
                     "10:0         1/1     1/1     1/1     1/1     0/1\n"
                     "100:0        1/1     1/1     1/1     1/1     1/1\n",
                     matrix),
            std::string::npos)
      << out;

  const std::string page = tav_test::readFile(dir / "page.html");
  EXPECT_NE(page.find("<th>subject \\ object</th><th>0:0</th><th>1:0</th><th>2:0</th>"
                      "<th>10:0</th><th>100:0</th></tr>\n<tr><th>0:0</th>"),
            std::string::npos)
      << page;
  EXPECT_LT(page.find("<tr><th>2:0</th>"), page.find("<tr><th>10:0</th>"));
  EXPECT_LT(page.find("<tr><th>10:0</th>"), page.find("<tr><th>100:0</th>"));

  const std::string junit = tav_test::readFile(dir / "junit.xml");
  std::vector<std::size_t> at;
  for (const char* label : {"0:0", "1:0", "2:0", "10:0", "100:0"}) {
    at.push_back(junit.find(std::string("<testsuite name=\"subject ") + label + "\""));
    EXPECT_NE(at.back(), std::string::npos) << label;
  }
  EXPECT_TRUE(std::is_sorted(at.begin(), at.end())) << junit;
}

TEST(ViewSummary, OneIsSaidInTheSingular) {
  tav_test::TempDir dir;
  writeLadder(dir);
  tav_test::writeFile(dir / "metadata.json",
                      R"([{"uuid": "a", "subject_label": "1:0", "object_label": "0:0",
                          "min_mac_label": "0:0", "max_mac_label": "1:0",
                          "expect_ignore_mac_label": false},
                         {"uuid": "b", "subject_label": "1:0", "object_label": "0:0",
                          "min_mac_label": "0:0", "max_mac_label": "1:0",
                          "expect_ignore_mac_label": false}])");
  tav_test::writeFile(dir / "responses.json", R"([{"uuid": "a", "code": 0, "body": ""},
                                                  {"uuid": "b", "code": 500, "body": ""}])");
  std::vector<std::string> args = viewArgs(dir, {});
  args.pop_back();
  const auto result = tav_test::runProgram(args);
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_NE(result.out.find("hint: 1 request has no answer (code 0: the transfer failed, or "
                            "responses.json lacks it): a\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("hint: 1 request got a code in neither the allowed nor the denied "
                            "set: 500 (1x: b)\n"),
            std::string::npos)
      << result.out;
}

TEST(ViewSummary, AHostThatAnsweredNoRequestGetsOneHint) {
  tav_test::TempDir dir;
  writeLadder(dir);
  // By origin: two code-0 requests to one https host however its URLs are written, one to an
  // http host with a user in its URL, and an https host that answered one of two.
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"0-0", "HTTPS://Tls.Test:8443/a"},
      {"1-0", "https://tls.test:8443/b?c"},
      {"2-0", "http://u:p@plain.test/x"},
      {"10-0", "https://[::1]/y"},
      {"100-0", "https://[::1]:443/z"}};
  std::string responses = "[{\"uuid\": \"10-0\", \"code\": 200, \"body\": \"\"}";
  std::string tasks = R"([{"user": {"name": "u", "password": "", "mac_label": "0:0"},
                          "requests": [)";
  for (const auto& [uuid, url] : requests) {
    tasks += (tasks.back() == '[' ? "" : ",") + std::string("{\"uuid\": \"") + uuid +
             "\", \"uri\": \"" + url + "\", \"auth_type\": \"basic\"}";
  }
  tav_test::writeFile(dir / "tasks.json", tasks + "]}]");
  tav_test::writeFile(dir / "responses.json", responses + "]");
  std::vector<std::string> args = viewArgs(dir, {"-t", (dir / "tasks.json").string()});
  args.erase(std::find(args.begin(), args.end(), "-q"));
  const auto result = tav_test::runProgram(args);
  EXPECT_EQ(result.status, 1) << result.err;
  std::vector<std::string> hosts;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("failed before an answer") != std::string::npos) hosts.push_back(line);
  }
  EXPECT_EQ(hosts, (std::vector<std::string>{
                       "hint: all 2 requests to https://tls.test:8443 failed before an answer: "
                       "look in the child logs for the transfer error, e.g. a certificate the "
                       "run does not trust",
                       "hint: the one request to http://plain.test:80 failed before an answer: "
                       "look in the child logs for the transfer error, e.g. a server that does "
                       "not listen there"}))
      << result.out;

  // Without the tasks file there are no URLs, and no such hint.
  args.resize(args.size() - 2);
  EXPECT_EQ(tav_test::runProgram(args).out.find("failed before an answer"), std::string::npos);
}
