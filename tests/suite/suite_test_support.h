// Running the built tav-suite on files in a test folder.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace tav_test {

inline RunResult runSuite(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {TAV_SUITE_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return tav_test::runProgram(argv);
}

inline nlohmann::json readJson(const std::filesystem::path& path) {
  return nlohmann::json::parse(tav_test::readFile(path));
}

inline void writeJson(const std::filesystem::path& path, const nlohmann::json& value) {
  tav_test::writeFile(path, value.dump(2));
}

// Runs tav-req on the tasks file in fresh folders under `dir`; the path of its responses.json.
inline std::filesystem::path runRequests(const std::filesystem::path& dir,
                                         const std::filesystem::path& tasks) {
  namespace fs = std::filesystem;
  fs::create_directories(dir / "logs");
  fs::create_directories(dir / "out");
  fs::permissions(dir / "out", fs::perms::all);
  const auto result = tav_test::runProgram({TAV_REQ_PATH, "-d", (dir / "logs").string(), "-t",
                                            tasks.string(), "-o", (dir / "out").string()});
  EXPECT_EQ(result.status, 0) << tasks << result.err;
  return dir / "out/responses.json";
}

}  // namespace tav_test
