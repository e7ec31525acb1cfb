// The loaders' tests: a fixture with a folder for the input files and the capture of what the
// loader logs, each field of a JSON object in turn set to a value of each other JSON type, and
// what a load of a cut-short text must log.
#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "tests/support/log_capture.h"
#include "tests/support/test_support.h"

namespace tav_test {

class LoaderTest : public ::testing::Test {
 protected:
  // `what` names the input in the loader's messages: "data" or "config".
  explicit LoaderTest(std::string what) : what_(std::move(what)) {}

  // The record logged for a JSON library error other than a parse error.
  LogRecord failure(const std::string& error, int id) const {
    return {"critical", fmt::format("Failed to parse {}: {}; exception id {}", what_, error, id)};
  }

  TempDir dir;
  LogCapture log;

 private:
  std::string what_;
};

// Calls check(key, wrong, changed) for every field `key` of `object` and every value `wrong` of
// another type than the field's, `changed` being the object with that one field replaced.
template <typename Check>
void forEachWrongType(const nlohmann::json& object, Check check) {
  using nlohmann::json;
  const json wrongValues[] = {nullptr, true, 1, -1, 1.5, "text", json::array(), json::object()};
  for (const auto& [key, value] : object.items()) {
    for (const json& wrong : wrongValues) {
      if (wrong.type() == value.type()) continue;
      SCOPED_TRACE(key + " = " + wrong.dump());
      json changed = object;
      changed[key] = wrong;
      check(key, wrong, changed);
    }
  }
}

// A text that loaded must be the whole one and log nothing; any other logs one record that
// begins with `failure`.
inline void expectLoadOutcome(bool loaded, bool whole, LogCapture& log, const LogRecord& failure) {
  EXPECT_EQ(loaded, whole);
  if (loaded) {
    EXPECT_EQ(log.take(), LogRecords{});
  } else {
    EXPECT_TRUE(isOneRecordStartingWith(log.take(), failure));
  }
}

}  // namespace tav_test
