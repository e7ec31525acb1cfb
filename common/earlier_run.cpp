#include "common/earlier_run.h"

#include <fmt/format.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "common/input_file.h"
#include "common/json_document.h"
#include "common/json_scan.h"
#include "common/progress_line.h"

namespace tav {

namespace {

using nlohmann::json;

// Takes the uuid, passed and code of each verdict, or each failed uuid, as the parser goes;
// everything else is only checked to be JSON. A shape it cannot use stops the parse with a
// problem in words.
class OutcomeReader : public nlohmann::json_sax<json> {
 public:
  EarlierRun run;
  std::string problem;
  bool sawVerdicts = false;
  bool sawFailed = false;

  bool null() override { return scalar("null"); }
  bool boolean(bool value) override {
    if (inVerdict() && key_ == "passed") {
      passed_ = value;
      return true;
    }
    return scalar("boolean");
  }
  bool number_integer(number_integer_t value) override { return number(value != 0); }
  bool number_unsigned(number_unsigned_t value) override { return number(value != 0); }
  bool number_float(number_float_t value, const string_t&) override { return number(value != 0); }
  bool string(string_t& value) override {
    if (inVerdict() && key_ == "uuid") {
      uuid_ = std::move(value);
      hasUuid_ = true;
      return true;
    }
    if (depth_ == 2 && topKey_ == "failed_uuids") {
      run.requests.push_back({std::move(value), EarlierOutcome{false, true}});
      ++index_;
      progressAdd();
      return true;
    }
    return scalar("string");
  }
  bool binary(binary_t&) override { return true; }
  bool key(string_t& value) override {
    if (depth_ == 1) topKey_ = value;
    if (depth_ == 3) key_ = value;
    return true;
  }
  bool start_object(std::size_t) override {
    if (depth_ == 0) {
      top_ = true;
    } else if (depth_ == 1 && listKey()) {
      return fail(fmt::format("\"{}\" is an object, not an array", topKey_));
    } else if (depth_ == 2 && topKey_ == "verdicts") {
      key_.clear();
      hasUuid_ = false;
      passed_.reset();
      answered_ = true;
    } else if (depth_ == 2 && topKey_ == "failed_uuids") {
      return fail(fmt::format("failed_uuids[{}] is an object, not a string", index_));
    }
    ++depth_;
    return true;
  }
  bool end_object() override {
    --depth_;
    if (depth_ == 2 && topKey_ == "verdicts") {
      if (!hasUuid_) return fail(fmt::format("verdicts[{}] has no string \"uuid\"", index_));
      if (!passed_)
        return fail(fmt::format("verdicts[{}] has no true or false \"passed\"", index_));
      run.requests.push_back({std::move(uuid_), EarlierOutcome{*passed_, answered_}});
      ++index_;
      progressAdd();
    }
    return true;
  }
  bool start_array(std::size_t) override {
    if (depth_ == 0) return fail("the top level is an array, not an object");
    if (depth_ == 1 && topKey_ == "verdicts") {
      sawVerdicts = true;
      index_ = 0;
    } else if (depth_ == 1 && topKey_ == "failed_uuids") {
      sawFailed = true;
      index_ = 0;
    } else if (depth_ == 2 && (topKey_ == "verdicts" || topKey_ == "failed_uuids")) {
      return fail(fmt::format("{}[{}] is an array", topKey_, index_));
    }
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    syntax_ = true;
    return false;
  }

  bool syntaxError() const { return syntax_; }
  bool topIsObject() const { return top_; }

 private:
  bool inVerdict() const { return depth_ == 3 && topKey_ == "verdicts"; }
  // The top-level keys whose value must be the list of outcomes.
  bool listKey() const { return topKey_ == "verdicts" || topKey_ == "failed_uuids"; }

  bool number(bool nonZero) {
    if (inVerdict() && key_ == "code") {
      answered_ = nonZero;
      return true;
    }
    if (depth_ == 1 && topKey_ == "total_count") return true;
    return scalar("number");
  }

  // A value where only some kinds make sense: the top level and the elements of the arrays.
  bool scalar(const char* kind) {
    if (depth_ == 0) return fail(fmt::format("the top level is a {}, not an object", kind));
    if (depth_ == 1 && listKey()) {
      return fail(fmt::format("\"{}\" is a {}, not an array", topKey_, kind));
    }
    if (depth_ == 2 && topKey_ == "verdicts") {
      return fail(fmt::format("verdicts[{}] is a {}, not an object", index_, kind));
    }
    if (depth_ == 2 && topKey_ == "failed_uuids") {
      return fail(fmt::format("failed_uuids[{}] is a {}, not a string", index_, kind));
    }
    if (inVerdict() && (key_ == "uuid" || key_ == "passed")) {
      return fail(fmt::format("verdicts[{}]: \"{}\" is a {}", index_, key_, kind));
    }
    return true;
  }

  bool fail(std::string why) {
    problem = std::move(why);
    return false;
  }

  std::size_t depth_ = 0;
  bool top_ = false;
  bool syntax_ = false;
  std::string topKey_;
  std::string key_;
  std::size_t index_ = 0;
  std::string uuid_;
  bool hasUuid_ = false;
  std::optional<bool> passed_;
  bool answered_ = true;
};

bool scanVerdict(JsonScan& scan, EarlierRun& run) {
  std::optional<std::string_view> uuid;
  std::optional<bool> passed;
  bool answered = true;
  const bool scanned = scanObject(scan, [&](std::string_view key) {
    if (key == "uuid") return (uuid = scan.plainString()).has_value();
    if (key == "passed") return (passed = scan.boolean()).has_value();
    if (key == "code" && (scan.peek() == '-' || (scan.peek() >= '0' && scan.peek() <= '9'))) {
      const std::optional<bool> nonZero = scan.number();
      answered = nonZero.value_or(true);
      return nonZero.has_value();
    }
    return scan.skipValue();
  });
  if (!scanned || !uuid || !passed) return false;
  run.requests.push_back({std::string(*uuid), EarlierOutcome{*passed, answered}});
  progressAdd();
  return true;
}

// The common case at memory speed; false when the scanner gave up on the file (something
// unusual or wrong), which the library's reader then takes whole.
bool scanOutcomes(std::string_view text, EarlierRun& run, bool& sawVerdicts, bool& sawFailed) {
  JsonScan scan(text);
  const bool scanned = scanObject(scan, [&](std::string_view key) {
    if (key == "verdicts") {
      sawVerdicts = true;
      return scanArray(scan, [&] { return scanVerdict(scan, run); });
    }
    if (key == "failed_uuids") {
      sawFailed = true;
      return scanArray(scan, [&] {
        const std::optional<std::string_view> uuid = scan.plainString();
        if (!uuid) return false;
        run.requests.push_back({std::string(*uuid), EarlierOutcome{false, true}});
        progressAdd();
        return true;
      });
    }
    return scan.skipValue();
  });
  return scanned && scan.atEnd() && (sawVerdicts || sawFailed);
}

// In uuid order, one per uuid, the last the file gives: a file tav-view wrote is in order
// already and costs one pass.
void putInOrder(std::vector<EarlierRequest>& requests) {
  const auto byUuid = [](const EarlierRequest& a, const EarlierRequest& b) {
    return a.uuid < b.uuid;
  };
  if (!std::is_sorted(requests.begin(), requests.end(), byUuid)) {
    std::stable_sort(requests.begin(), requests.end(), byUuid);
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    if (i + 1 < requests.size() && requests[i + 1].uuid == requests[i].uuid) continue;
    if (kept != i) requests[kept] = std::move(requests[i]);
    ++kept;
  }
  requests.resize(kept);
}

}  // namespace

EarlierRunRead readEarlierRun(const std::filesystem::path& path) {
  EarlierRunRead read;
  if (std::optional<std::string> why = unreadableReason(path)) {
    read.problem = std::move(*why);
    return read;
  }
  // Read, not mapped: a file that shrinks while it is read would end the program with SIGBUS.
  const std::string text = readWholeFile(path);
  {
    EarlierRun run;
    bool sawVerdicts = false;
    bool sawFailed = false;
    if (scanOutcomes(text, run, sawVerdicts, sawFailed) && !(sawVerdicts && sawFailed)) {
      run.everyRequest = sawVerdicts;
      putInOrder(run.requests);
      read.run = std::move(run);
      return read;
    }
  }
  OutcomeReader reader;
  // The library takes a NUL byte for the end of the input and would keep what came before it;
  // no JSON text holds one, and the slow path says where it stands.
  const bool nul = text.find('\0') != std::string::npos;
  const bool parsed =
      !nul && json::sax_parse(text, &reader, json::input_format_t::json, true, false);
  if (!parsed && (nul || reader.syntaxError() || !reader.problem.empty())) {
    // The slow path names the place: the whole parse again, only for a file that is wrong.
    InputDocument document = readInputDocument(path);
    if (!document.document) {
      read.problem = std::move(document.problem);
      return read;
    }
    std::string lookalike = lookalikeReason(*document.document, SuiteFile::report);
    if (!lookalike.empty()) {
      read.problem = lookalike + " or the file of tav-view --json";
    } else {
      read.problem = std::move(reader.problem);
    }
    return read;
  }
  if (reader.sawVerdicts && reader.sawFailed) {
    read.problem =
        "holds both \"verdicts\" (tav-view --json) and \"failed_uuids\" (report.json); give one "
        "of them";
    return read;
  }
  if (!reader.sawVerdicts && !reader.sawFailed) {
    read.problem =
        "holds neither \"verdicts\" (tav-view --json) nor \"failed_uuids\" (report.json)";
    return read;
  }
  read.run = std::move(reader.run);
  read.run->everyRequest = reader.sawVerdicts;
  putInOrder(read.run->requests);
  return read;
}

}  // namespace tav
