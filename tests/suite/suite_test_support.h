// Running the built tav-suite on files in a test folder.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

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

}  // namespace tav_test
