// The scanner against the JSON library: what it accepts the library parses to the same strings
// and numbers, and it never accepts what the library refuses, over a table of edge cases and
// many random mutations of a verdicts file.
#include "common/json_scan.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <random>
#include <string>
#include <vector>

namespace {

// Whether the scanner takes the whole text as one value.
bool scansWhole(const std::string& text) {
  tav::JsonScan scan(text);
  return scan.skipValue() && scan.atEnd();
}

bool libraryParses(const std::string& text) {
  return nlohmann::json::accept(text);
}

TEST(JsonScan, AcceptsOnlyWhatTheLibraryParses) {
  const std::vector<std::string> valid = {"0",
                                          "-0",
                                          "12",
                                          "-3.25",
                                          "true",
                                          "false",
                                          "null",
                                          "\"\"",
                                          "\"a\\\"b\\\\c\\/\\n\\t\"",
                                          " [ ] ",
                                          "{}",
                                          "[1, [2, [3, {}]], {\"a\": [true, null]}]",
                                          "{\"a\":{\"b\":{\"c\":[]}}}",
                                          "\n\t\r [\"x\"]\n"};
  for (const std::string& text : valid) {
    SCOPED_TRACE(text);
    ASSERT_TRUE(libraryParses(text));
    EXPECT_TRUE(scansWhole(text));
  }
  // Either wrong, or left to the library (an escape it does not decode, a byte above 0x7f, an
  // exponent, a deep nesting): never taken.
  const std::vector<std::string> notTaken = {"",
                                             " ",
                                             "[",
                                             "]",
                                             "[1,]",
                                             "[,1]",
                                             "[1 2]",
                                             "{\"a\"}",
                                             "{\"a\":}",
                                             "{\"a\" 1}",
                                             "{1: 2}",
                                             "{\"a\": 1,}",
                                             "[1]]",
                                             "[1] x",
                                             "01",
                                             "1.",
                                             ".5",
                                             "-",
                                             "+1",
                                             "1e5",
                                             "tru",
                                             "nul",
                                             "\"a",
                                             "\"\\x\"",
                                             "\"\\u0041\"",
                                             "\"tab\there\"",
                                             "\"caf\xc3\xa9\"",
                                             "'a'",
                                             std::string("[\"a\0b\"]", 7),
                                             std::string(300, '[') + std::string(300, ']'),
                                             "123456789012345678901234567890"};
  for (const std::string& text : notTaken) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(scansWhole(text));
  }
}

TEST(JsonScan, PlainStringsAndNumbersReadAsTheLibraryReadsThem) {
  tav::JsonScan scan(R"( ["basic-daemon-1_1-bad_3_7", 0, -0.0, 200, 0.5, true, "x\ny"] )");
  ASSERT_TRUE(scan.take('['));
  EXPECT_EQ(scan.plainString(), "basic-daemon-1_1-bad_3_7");
  for (const bool nonZero : {false, false, true, true}) {
    ASSERT_TRUE(scan.take(','));
    EXPECT_EQ(scan.number(), nonZero);
  }
  ASSERT_TRUE(scan.take(','));
  EXPECT_EQ(scan.boolean(), true);
  ASSERT_TRUE(scan.take(','));
  // An escape in a string asked for: the library decides.
  EXPECT_EQ(scan.plainString(), std::nullopt);
  EXPECT_FALSE(scan.ok());
}

// Random damage to a real-looking file: whenever the scanner takes the result, so must the
// library.
TEST(JsonScan, NeverTakesAMutationTheLibraryRefuses) {
  const std::string sample =
      R"({"total_count": 2, "failed_count": 1, "verdicts": [
    {"uuid": "a-1", "passed": true, "code": 200, "why": "subject 1:1 dominates object 0:0"},
    {"uuid": "b-2", "passed": false, "code": 0, "nested": {"x": [1.5, -2, null, "q\"uote"]}}
  ]})";
  const std::string alphabet = "{}[]:,\"\\ 0123456789-.eEtruefalsn\x01\xff";
  std::mt19937 random(20);
  std::size_t taken = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text = sample;
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % text.size();
      switch (random() % 3) {
        case 0:
          text.erase(at, 1);
          break;
        case 1:
          text.insert(at, 1, alphabet[random() % alphabet.size()]);
          break;
        default:
          text[at] = alphabet[random() % alphabet.size()];
      }
    }
    if (scansWhole(text)) {
      ++taken;
      EXPECT_TRUE(libraryParses(text)) << text;
    }
  }
  // Some mutations keep the file valid (a changed digit, a space): the property was tried.
  EXPECT_GT(taken, 100u);
}

}  // namespace
