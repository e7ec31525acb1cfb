#include <gtest/gtest.h>
#include <spdlog/common.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "rep/options.h"
#include "req/options.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using tav_test::TempDir;

namespace {

// argv for readCommandLine, owning its strings.
class Argv {
 public:
  explicit Argv(std::vector<std::string> args) : args_(std::move(args)) {
    for (auto& arg : args_) pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(args_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> pointers_;
};

// Runs the check as the unprivileged user nobody in a child process.
bool checkAsNobody(const TCLAP::Constraint<std::string>& constraint, const std::string& value) {
  const int status = tav_test::runInChild([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) return 2;
    return constraint.check(value) ? 0 : 1;
  });
  EXPECT_TRUE(status >= 0 && status < 128 && status != 2) << "could not become nobody";
  return status == 0;
}

}  // namespace

TEST(ExistingFileConstraint, AcceptsRegularFilesAndLinksToThem) {
  TempDir dir;
  tav_test::writeFile(dir / "file", "x");
  fs::create_symlink(dir / "file", dir / "link");
  fs::create_symlink(dir / "missing", dir / "dangling");
  fs::create_directory(dir / "sub");
  fs::create_directory_symlink(dir / "sub", dir / "sublink");

  const tav_req::ExistingFileConstraint constraint;
  EXPECT_TRUE(constraint.check((dir / "file").string()));
  EXPECT_TRUE(constraint.check((dir / "link").string()));
  EXPECT_FALSE(constraint.check((dir / "dangling").string()));
  EXPECT_FALSE(constraint.check((dir / "missing").string()));
  EXPECT_FALSE(constraint.check((dir / "sub").string()));
  EXPECT_FALSE(constraint.check((dir / "sublink").string()));
  EXPECT_FALSE(constraint.check(""));
  EXPECT_EQ(constraint.description(), "Value must name an existing file.");
  EXPECT_EQ(constraint.shortID(), "file");
}

TEST(ExistingDirectoryConstraint, AcceptsDirectoriesAndLinksToThem) {
  TempDir dir;
  tav_test::writeFile(dir / "file", "x");
  fs::create_directory(dir / "sub");
  fs::create_directory_symlink(dir / "sub", dir / "sublink");
  fs::create_symlink(dir / "missing", dir / "dangling");

  const tav_rep::ExistingDirectoryConstraint constraint;
  EXPECT_TRUE(constraint.check(dir.path().string()));
  EXPECT_TRUE(constraint.check((dir / "sub").string()));
  EXPECT_TRUE(constraint.check((dir / "sublink").string()));
  EXPECT_FALSE(constraint.check((dir / "file").string()));
  EXPECT_FALSE(constraint.check((dir / "dangling").string()));
  EXPECT_FALSE(constraint.check((dir / "missing").string()));
  EXPECT_EQ(constraint.description(), "Value must name an existing directory.");
  EXPECT_EQ(constraint.shortID(), "dir");
}

TEST(ExistingPathConstraints, TreatPermissionDeniedAsMissing) {
  if (!tav_test::isRoot()) GTEST_SKIP() << "needs root to switch to the user nobody";
  TempDir dir;
  fs::create_directory(dir / "closed");
  fs::create_directory(dir / "closed" / "sub");
  tav_test::writeFile(dir / "closed" / "file", "x");
  fs::permissions(dir / "closed", fs::perms::owner_all);

  const tav::ExistingFileConstraint file;
  const tav::ExistingDirectoryConstraint directory;
  EXPECT_TRUE(file.check((dir / "closed" / "file").string()));
  EXPECT_FALSE(checkAsNobody(file, (dir / "closed" / "file").string()));
  EXPECT_FALSE(checkAsNobody(directory, (dir / "closed" / "sub").string()));
  EXPECT_TRUE(checkAsNobody(directory, dir.path().string()));
}

TEST(LogLevelNames, AreTheSevenNamesInLevelOrder) {
  const std::vector<std::string> names = tav::logLevelNames();
  ASSERT_EQ(names, (std::vector<std::string>{"trace", "debug", "info", "warning", "error",
                                             "critical", "off"}));
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(spdlog::level::from_str(names[i])), i) << names[i];
  }
  EXPECT_EQ(tav::logLevelDescription(spdlog::level::info), "The logging level. Default: info");
}

TEST(ReadCommandLine, FillsTheRunnerOptions) {
  TempDir dir;
  tav_test::writeFile(dir / "tasks.json", "[]");
  fs::create_directory(dir / "out");
  Argv args({"tav-req", "-d", dir.path().string(), "--tasks", (dir / "tasks.json").string(), "-o",
             (dir / "out").string(), "-l", "warning"});
  const tav_req::Options options = tav_req::readCommandLine(args.argc(), args.argv());
  EXPECT_TRUE(options.ok);
  EXPECT_EQ(options.logLevel, spdlog::level::warn);
  EXPECT_EQ(options.logDir, dir.path().string());
  EXPECT_EQ(options.tasks, (dir / "tasks.json").string());
  EXPECT_EQ(options.outputDir, (dir / "out").string());
}

TEST(ReadCommandLine, FillsTheCheckerOptionsWithTheDefaultLevel) {
  TempDir dir;
  for (const char* name : {"m.json", "r.json", "c.json"}) tav_test::writeFile(dir / name, "{}");
  Argv args({"tav-rep", "--log-dir", dir.path().string(), "-m", (dir / "m.json").string(), "-r",
             (dir / "r.json").string(), "-c", (dir / "c.json").string(), "--output-dir",
             dir.path().string()});
  const tav_rep::Options options = tav_rep::readCommandLine(args.argc(), args.argv());
  EXPECT_TRUE(options.ok);
  EXPECT_EQ(options.logLevel, spdlog::level::info);
  EXPECT_EQ(options.logDir, dir.path().string());
  EXPECT_EQ(options.metadata, (dir / "m.json").string());
  EXPECT_EQ(options.responses, (dir / "r.json").string());
  EXPECT_EQ(options.config, (dir / "c.json").string());
  EXPECT_EQ(options.outputDir, dir.path().string());
}

TEST(ReadCommandLine, MapsEveryLevelName) {
  TempDir dir;
  tav_test::writeFile(dir / "tasks.json", "[]");
  const std::vector<std::string> names = tav::logLevelNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    Argv args({"tav-req", "-d", dir.path().string(), "-t", (dir / "tasks.json").string(), "-o",
               dir.path().string(), "--log-level", names[i]});
    const tav_req::Options options = tav_req::readCommandLine(args.argc(), args.argv());
    EXPECT_EQ(static_cast<std::size_t>(options.logLevel), i) << names[i];
  }
}

TEST(ReadCommandLine, TakesTheTrustOptionsWithAbsolutePaths) {
  TempDir dir;
  tav_test::writeFile(dir / "tasks.json", "[]");
  tav_test::writeFile(dir / "ca file.pem", "x");
  fs::create_directory(dir / "certs");
  const std::vector<std::string> base = {
      "tav-req",          "-d", dir.path().string(), "-t", (dir / "tasks.json").string(), "-o",
      dir.path().string()};
  Argv plain(base);
  const tav_req::Options none = tav_req::readCommandLine(plain.argc(), plain.argv());
  EXPECT_TRUE(none.trust.caFile.empty() && none.trust.caPath.empty() && !none.trust.insecure);

  // The child reads them from wherever the run started, as a user that may not enter it.
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  std::vector<std::string> all = base;
  all.insert(all.end(), {"--cacert", "ca file.pem", "--capath", "certs", "-k"});
  Argv args(all);
  const tav_req::Options trusting = tav_req::readCommandLine(args.argc(), args.argv());
  fs::current_path(previous);
  EXPECT_EQ(trusting.trust.caFile, (dir / "ca file.pem").string());
  EXPECT_EQ(trusting.trust.caPath, (dir / "certs").string());
  EXPECT_TRUE(trusting.trust.insecure);

  all.back() = "--insecure";
  Argv longName(all);
  fs::current_path(dir.path());
  EXPECT_TRUE(tav_req::readCommandLine(longName.argc(), longName.argv()).trust.insecure);
  fs::current_path(previous);
}
