// Bad input for the loaders' tests: each field of a JSON object in turn set to a value of each
// other JSON type, and what a load of a cut-short text must log.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/log_capture.h"

namespace tav_test {

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
