// The files tav-suite writes, as a set: whatever stops gen or split midway, the folder holds
// the complete old set or the complete new one; a re-split clears its own earlier shards (all
// metadata shards when it writes none) and nothing else; merge writes through a link and never over
// its input. And the command lines' counts and names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "tests/suite/suite_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tav_test;

json description(const std::string& password) {
  return {{"base_url", "http://127.0.0.1:8080"},
          {"users",
           {{{"name", "nobody"}, {"password", password}, {"labels", {"0:0", "1:1", "2:2"}}},
            {{"name", "daemon"}, {"password", password}, {"labels", {"1:1", "3:3"}}}}},
          {"objects", {{{"name", "a"}, {"label", "1:1"}, {"path", "/a/"}}}}};
}

// Every entry of the folder with its content, hidden ones included.
std::map<std::string, std::string> contentOf(const fs::path& folder) {
  std::map<std::string, std::string> content;
  for (const auto& item : fs::directory_iterator(folder)) {
    content[item.path().filename().string()] =
        item.is_directory() ? "<folder>" : tav_test::readFile(item.path());
  }
  return content;
}

// `dir/suite` as gen writes it from a description with the password; the gen's result.
RunResult gen(const TempDir& dir, const std::string& password) {
  writeJson(dir / "description.json", description(password));
  return runSuite({"gen", (dir / "description.json").string(), "--out", (dir / "suite").string()});
}

RunResult split(const TempDir& dir, const std::string& shards) {
  return runSuite({"split", "-t", (dir / "suite/tasks.json").string(), "-m",
                   (dir / "suite/metadata.json").string(), "-n", shards, "--out",
                   (dir / "shards").string()});
}

}  // namespace

TEST(SuiteOutputs, AFolderAtAnyOfGensTargetsLeavesTheOldSuite) {
  for (const char* target : {"tasks.json", "metadata.json", "config.json"}) {
    SCOPED_TRACE(target);
    TempDir dir;
    ASSERT_EQ(gen(dir, "old").status, 0);
    fs::remove(dir / "suite" / target);
    fs::create_directory(dir / "suite" / target);
    const auto before = contentOf(dir / "suite");
    const auto result = gen(dir, "new");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "error: " + (dir / "suite" / target).string() + ": is a folder; name a file\n");
    EXPECT_EQ(contentOf(dir / "suite"), before);
  }
}

TEST(SuiteOutputs, AFolderAtAnyOfSplitsTargetsLeavesTheOldShards) {
  for (const char* target : {"tasks-1.json", "metadata-1.json", "tasks-2.json", "metadata-2.json",
                             "tasks-3.json", "metadata-3.json"}) {
    SCOPED_TRACE(target);
    TempDir dir;
    ASSERT_EQ(gen(dir, "old").status, 0);
    ASSERT_EQ(split(dir, "3").status, 0);
    fs::remove(dir / "shards" / target);
    fs::create_directory(dir / "shards" / target);
    const auto before = contentOf(dir / "shards");
    ASSERT_EQ(gen(dir, "new").status, 0);
    EXPECT_EQ(split(dir, "3").status, 1);
    EXPECT_EQ(contentOf(dir / "shards"), before);
  }
}

TEST(SuiteOutputs, SplitIntoFewerShardsClearsOnlyItsOwnEarlierShards) {
  TempDir dir;
  ASSERT_EQ(gen(dir, "pw").status, 0);
  ASSERT_EQ(split(dir, "5").status, 0);
  for (const char* other : {"tasks-05.json", "tasks-6x.json", "metadata-7.json.bak", "notes"}) {
    tav_test::writeFile(dir / "shards" / other, "mine");
  }
  fs::create_directory(dir / "shards" / "tasks-9.json");
  ASSERT_EQ(split(dir, "2").status, 0);
  std::map<std::string, std::string> after = contentOf(dir / "shards");
  const auto shard = [&](const char* name) { return json::parse(after.at(name)); };
  EXPECT_EQ(shard("tasks-1.json").size() + shard("tasks-2.json").size(), 5u);
  EXPECT_EQ(shard("metadata-1.json").size() + shard("metadata-2.json").size(), 5u);
  for (const char* mine : {"tasks-1.json", "tasks-2.json", "metadata-1.json", "metadata-2.json"}) {
    after.erase(mine);
  }
  EXPECT_EQ(after, (std::map<std::string, std::string>{{"metadata-7.json.bak", "mine"},
                                                       {"notes", "mine"},
                                                       {"tasks-05.json", "mine"},
                                                       {"tasks-6x.json", "mine"},
                                                       {"tasks-9.json", "<folder>"}}));
}

// Without -m no metadata file of an earlier split matches the new shards, whatever its number;
// they go in the same commit, so a split that fails leaves them with their old tasks.
TEST(SuiteOutputs, SplitWithoutMetadataClearsEveryEarlierMetadataShard) {
  TempDir dir;
  ASSERT_EQ(gen(dir, "pw").status, 0);
  ASSERT_EQ(split(dir, "3").status, 0);
  for (const char* other : {"metadata-03.json", "metadata-x.json", "metadata.json"}) {
    tav_test::writeFile(dir / "shards" / other, "mine");
  }
  const auto withoutMetadata = [&] {
    return runSuite({"split", "-t", (dir / "suite/tasks.json").string(), "-n", "2", "--out",
                     (dir / "shards").string()});
  };
  fs::rename(dir / "shards/tasks-2.json", dir / "shards/tasks-2.json.old");
  fs::create_directory(dir / "shards/tasks-2.json");
  const auto before = contentOf(dir / "shards");
  EXPECT_EQ(withoutMetadata().status, 1);
  EXPECT_EQ(contentOf(dir / "shards"), before);

  fs::remove(dir / "shards/tasks-2.json");
  fs::rename(dir / "shards/tasks-2.json.old", dir / "shards/tasks-2.json");
  ASSERT_EQ(withoutMetadata().status, 0);
  std::map<std::string, std::string> after = contentOf(dir / "shards");
  EXPECT_EQ(
      json::parse(after.at("tasks-1.json")).size() + json::parse(after.at("tasks-2.json")).size(),
      5u);
  after.erase("tasks-1.json");
  after.erase("tasks-2.json");
  EXPECT_EQ(after, (std::map<std::string, std::string>{{"metadata-03.json", "mine"},
                                                       {"metadata-x.json", "mine"},
                                                       {"metadata.json", "mine"}}));
}

TEST(SuiteOutputs, ARenameThatFailsMidwayPutsTheOldSetBack) {
  SKIP_UNLESS_ROOT();
  TempDir dir;
  ASSERT_EQ(gen(dir, "old").status, 0);
  const auto before = contentOf(dir / "suite");
  writeJson(dir / "description.json", description("new"));
  tav_test::writeFile(dir / "decoy", "decoy");
  // A file mounted over metadata.json cannot be renamed over: tasks.json is in place by then.
  const int status = tav_test::runInChild([&] {
    if (::unshare(CLONE_NEWNS) != 0) return 125;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 125;
    if (::mount((dir / "decoy").c_str(), (dir / "suite/metadata.json").c_str(), nullptr, MS_BIND,
                nullptr) != 0) {
      return 125;
    }
    const auto result =
        runSuite({"gen", (dir / "description.json").string(), "--out", (dir / "suite").string()});
    tav_test::writeFile(dir / "err", result.err);
    return result.status;
  });
  if (status == 125) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(status, 1);
  EXPECT_EQ(tav_test::readFile(dir / "err"), "error: " + (dir / "suite/metadata.json").string() +
                                                 ": cannot be replaced: Device or resource busy\n");
  EXPECT_EQ(contentOf(dir / "suite"), before);
}

TEST(SuiteOutputs, MergeWritesThroughALinkAndNeverOverItsInput) {
  TempDir dir;
  writeJson(dir / "r1.json", json::array({{{"uuid", "a"}, {"code", 200}, {"body", ""}}}));
  writeJson(dir / "r2.json", json::array({{{"uuid", "b"}, {"code", 403}, {"body", ""}}}));
  fs::create_directory(dir / "runs");
  tav_test::writeFile(dir / "runs/merged.json", "old");
  fs::create_symlink("runs/merged.json", dir / "link.json");
  const std::string r1 = (dir / "r1.json").string();
  const std::string r2 = (dir / "r2.json").string();
  ASSERT_EQ(runSuite({"merge", "-o", (dir / "link.json").string(), r1, r2}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
  EXPECT_EQ(readJson(dir / "runs/merged.json").size(), 2u);

  const auto over = runSuite({"merge", "-o", r2, r1, r2});
  EXPECT_EQ(over.status, 1);
  EXPECT_EQ(over.err,
            "error: " + r2 + ": is the same file as the input " + r2 + "; name another file\n");
  EXPECT_EQ(readJson(dir / "r2.json").size(), 1u);
}

TEST(SuiteOutputs, ALinkAnotherUserCouldHavePlantedIsNotFollowed) {
  SKIP_UNLESS_ROOT();
  TempDir dir;
  tav_test::writeFile(dir / "precious", "keep");
  fs::create_directory(dir / "rootonly");
  ASSERT_EQ(::chmod((dir / "rootonly").c_str(), 0700), 0);
  // A folder of its own, where that user may make any link...
  fs::create_directory(dir / "theirs");
  ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
  fs::create_symlink(dir / "precious", dir / "theirs/tasks.json");
  ASSERT_EQ(::lchown((dir / "theirs/tasks.json").c_str(), 65534, 65534), 0);
  // ... and a link to a folder, made in a shared sticky one.
  fs::create_directory(dir / "shared");
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
  fs::create_symlink(dir / "rootonly", dir / "shared/out");
  ASSERT_EQ(::lchown((dir / "shared/out").c_str(), 65534, 65534), 0);

  writeJson(dir / "description.json", description("pw"));
  const auto own =
      runSuite({"gen", (dir / "description.json").string(), "--out", (dir / "theirs").string()});
  EXPECT_EQ(own.status, 1);
  EXPECT_EQ(own.err, "error: " + (dir / "theirs/tasks.json").string() +
                         ": is a symbolic link that another user (uid 65534) made; it is not "
                         "followed\n");
  EXPECT_EQ(tav_test::readFile(dir / "precious"), "keep");

  const auto shared = runSuite(
      {"gen", (dir / "description.json").string(), "--out", (dir / "shared/out").string()});
  EXPECT_EQ(shared.status, 1);
  EXPECT_EQ(shared.err, "error: " + (dir / "shared/out/tasks.json").string() +
                            ": is a symbolic link that another user made in the shared folder " +
                            (dir / "shared").string() + "; it is not followed\n");
  EXPECT_TRUE(fs::is_empty(dir / "rootonly"));
}

TEST(SuiteCommandLine, CountsAndNamesAreCheckedByTheParser) {
  TempDir dir;
  ASSERT_EQ(gen(dir, "pw").status, 0);
  for (const char* shards : {"-1", "0", "+2", " 2", "2x", "", "4294967296"}) {
    SCOPED_TRACE(shards);
    const auto result = split(dir, shards);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Value '" + std::string(shards) +
                              "' does not meet constraint: Value must be a whole number from 1 "
                              "to 4294967295."),
              std::string::npos)
        << result.err;
    // The usage names the options: they outlive it.
    EXPECT_NE(result.err.find("tav-suite split --out <DIR> -n <N> [-m <file>] -t <file>"),
              std::string::npos)
        << result.err;
  }
  EXPECT_FALSE(fs::exists(dir / "shards"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"merge", "-o", "", (dir / "suite/tasks.json").string()},
        std::vector<std::string>{"gen", (dir / "description.json").string(), "--out", ""}}) {
    const auto result = runSuite(args);
    EXPECT_EQ(result.status, 1) << args[0];
    EXPECT_NE(result.err.find("Value must not be empty."), std::string::npos) << result.err;
  }
  const auto tooMany = split(dir, "6");
  EXPECT_EQ(tooMany.status, 2);
  EXPECT_EQ(tooMany.err, "error: " + (dir / "suite/tasks.json").string() +
                             ": 5 tasks cannot fill 6 shards; ask for fewer\n");
  writeJson(dir / "one.json", json::array({readJson(dir / "suite/tasks.json")[0]}));
  const auto one = runSuite(
      {"split", "-t", (dir / "one.json").string(), "-n", "2", "--out", (dir / "shards").string()});
  EXPECT_EQ(one.err, "error: " + (dir / "one.json").string() +
                         ": 1 task cannot fill 2 shards; ask for fewer\n");
}
