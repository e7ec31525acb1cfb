// The label texts of a suite: what the programs cannot read, what they read as something else
// than written, empty ranges and subjects outside their range. A text is told once per file,
// with the places it stands in.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <tuple>

#include "common/json_document.h"
#include "common/label_order.h"
#include "common/words.h"
#include "rep/label_cache.h"
#include "suite/check_steps.h"
#include "suite/report_line.h"

namespace tav_suite {

namespace {

using nlohmann::json;

// Keys in order of first appearance, each with the places it was met at.
template <typename Key, typename Hash = std::hash<Key>>
class Places {
 public:
  template <typename Make>
  void add(const Key& key, Make&& place) {
    auto [found, fresh] = index_.try_emplace(key, keys_.size());
    if (fresh) keys_.push_back({key, {}});
    keys_[found->second].second.add(std::forward<Make>(place));
  }
  const std::vector<std::pair<Key, FirstFew>>& all() const { return keys_; }

 private:
  std::unordered_map<Key, std::size_t, Hash> index_;
  std::vector<std::pair<Key, FirstFew>> keys_;
};

struct TextsHash {
  std::size_t operator()(const std::pair<std::string, std::string>& key) const {
    return std::hash<std::string>()(key.first) * 31 + std::hash<std::string>()(key.second);
  }
};

struct RangeHash {
  std::size_t operator()(const std::tuple<std::string, std::string, std::string>& key) const {
    const auto& [a, b, c] = key;
    const std::hash<std::string> hash;
    return (hash(a) * 31 + hash(b)) * 31 + hash(c);
  }
};

// The keys with their places, ordered by their labels in turn, each by level, then categories.
// `labelsOf` gives views of the key's own texts, which stay put while the places do.
template <typename Key, typename Hash, typename LabelsOf>
std::vector<const std::pair<Key, FirstFew>*> inLabelOrder(const Places<Key, Hash>& places,
                                                          LabelsOf labelsOf) {
  std::vector<std::string_view> labels;
  for (const auto& [key, found] : places.all()) {
    for (const std::string_view label : labelsOf(key)) labels.push_back(label);
  }
  tav::sortLabelTexts(labels);
  std::unordered_map<std::string_view, std::size_t> rank;
  for (const std::string_view label : labels) rank.try_emplace(label, rank.size());
  std::vector<const std::pair<Key, FirstFew>*> order;
  for (const auto& item : places.all()) order.push_back(&item);
  std::stable_sort(order.begin(), order.end(), [&](const auto* a, const auto* b) {
    const auto labelsA = labelsOf(a->first);
    const auto labelsB = labelsOf(b->first);
    return std::lexicographical_compare(
        labelsA.begin(), labelsA.end(), labelsB.begin(), labelsB.end(),
        [&](std::string_view x, std::string_view y) { return rank[x] < rank[y]; });
  });
  return order;
}

void warnReadAs(const std::string& path, const Places<std::string>& readAs, LabelTexts& texts,
                Findings& findings) {
  for (const auto& [text, places] : readAs.all()) {
    findings.warning(fmt::format(
        "{}: label \"{}\" is read as {} in {}: {}; write what is meant in the plain form", path,
        text, tav::macLabelMeaning(*texts.parse(text).read.label),
        tav::counted(places.count(), "place", "places"), places.text()));
  }
}

// The mac_label texts of a tasks file by task, read without building the document: only the
// user objects' "mac_label" strings are kept.
class MacLabelScanner : public json::json_sax_t {
 public:
  std::vector<std::optional<std::string>> labels;

  bool start_object(std::size_t) override {
    if (depth_ == 1) labels.emplace_back();
    inUser_ = depth_ == 2 && key_[2] == "user";
    ++depth_;
    return true;
  }
  bool end_object() override {
    --depth_;
    if (depth_ == 2) inUser_ = false;
    return true;
  }
  bool start_array(std::size_t) override {
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool key(string_t& name) override {
    if (depth_ <= 3) key_[depth_] = name;
    return true;
  }
  bool string(string_t& value) override {
    if (inUser_ && depth_ == 3 && key_[3] == "mac_label" && !labels.empty()) {
      labels.back() = value;
    }
    return true;
  }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool parse_error(std::size_t, const std::string&, const json::exception&) override {
    return false;
  }

 private:
  std::size_t depth_ = 0;
  bool inUser_ = false;
  std::string key_[4];
};

}  // namespace

const LabelReading& LabelTexts::parse(const std::string& text) {
  auto found = parsed_.find(text);
  if (found == parsed_.end()) {
    found =
        parsed_.emplace(text, LabelReading{tav::parseMacLabelText(text), tav::readAsWritten(text)})
            .first;
  }
  return found->second;
}

void checkMetadataLabels(const std::string& path, const std::vector<MetadataEntry>& entries,
                         LabelTexts& texts, Findings& findings) {
  Places<std::pair<std::string, std::string>, TextsHash> notLabels;  // text and why
  Places<std::string> readAs;
  Places<std::pair<std::string, std::string>, TextsHash> emptyRanges;
  Places<std::tuple<std::string, std::string, std::string>, RangeHash> outside;
  std::unordered_map<std::string, std::optional<bool>> within;  // "min\0max" -> not empty
  tav_rep::LabelCache cache;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const tav_rep::CheckEntry& entry = *entries[k].labels;
    bool labels = true;
    for (const auto& [key, value] :
         {std::pair<const char*, const std::string*>{"subject_label", &entry.subject_label},
          {"min_mac_label", &entry.min_mac_label},
          {"max_mac_label", &entry.max_mac_label},
          {"object_label", &entry.object_label}}) {
      const LabelReading& reading = texts.parse(*value);
      if (!reading.read.label) {
        labels = false;
        notLabels.add({*value, reading.read.error}, [&] { return fmt::format("[{}] {}", k, key); });
      } else if (!reading.asWritten) {
        readAs.add(*value, [&] { return fmt::format("[{}] {}", k, key); });
      }
    }
    if (!labels) continue;
    const auto entryPlace = [&] { return fmt::format("[{}] \"{}\"", k, *entries[k].uuid); };
    std::string rangeKey = entry.min_mac_label;
    rangeKey += '\0';
    rangeKey += entry.max_mac_label;
    auto [range, fresh] = within.try_emplace(std::move(rangeKey));
    if (fresh) {
      range->second = cache.validate(entry.min_mac_label, entry.min_mac_label, entry.max_mac_label);
    }
    // Every subject is outside an empty range; that is said once, as the range's fault.
    if (range->second == false) {
      emptyRanges.add({entry.min_mac_label, entry.max_mac_label}, entryPlace);
    } else if (cache.validate(entry.subject_label, entry.min_mac_label, entry.max_mac_label) ==
               false) {
      outside.add({entry.subject_label, entry.min_mac_label, entry.max_mac_label}, entryPlace);
    }
  }
  for (const auto& [text, places] : notLabels.all()) {
    findings.error(fmt::format(
        "{}: \"{}\" is not a label ({}) in {}: {}; write LEVEL:HEXCATEGORIES such as 2:3", path,
        text.first, text.second, tav::counted(places.count(), "place", "places"), places.text()));
  }
  warnReadAs(path, readAs, texts, findings);
  // Ranges and subjects by their labels, as a person reads them.
  for (const auto* item : inLabelOrder(emptyRanges, [](const auto& range) {
         return std::array<std::string_view, 2>{range.first, range.second};
       })) {
    const auto& [range, places] = *item;
    findings.error(fmt::format(
        "{}: the range {}..{} is empty (min_mac_label is not within max_mac_label) in {}: {}; "
        "tav-rep predicts every request of such an entry refused; fix the range",
        path, range.first, range.second, tav::counted(places.count(), "entry", "entries"),
        places.text()));
  }
  for (const auto* item : inLabelOrder(outside, [](const auto& key) {
         const auto& [subject, low, high] = key;
         return std::array<std::string_view, 3>{subject, low, high};
       })) {
    const auto& [key, places] = *item;
    const auto& [subject, low, high] = key;
    findings.warning(fmt::format(
        "{}: subject_label \"{}\" is outside the user's range {}..{} in {}: {}; tav-rep predicts "
        "{} refused; widen the range unless that is intended",
        path, subject, low, high, tav::counted(places.count(), "entry", "entries"), places.text(),
        places.count() == 1 ? "it" : "each"));
  }
}

std::vector<std::optional<std::string>> scanTaskLabelTexts(const std::string& path) {
  MacLabelScanner scanner;
  if (!json::sax_parse(tav::readWholeFile(path), &scanner)) return {};
  return std::move(scanner.labels);
}

void checkTaskLabelTexts(const std::string& path, const std::vector<tav_req::Task>& tasks,
                         const std::vector<std::optional<std::string>>& labels, LabelTexts& texts,
                         Findings& findings) {
  Places<std::string> readAs;
  for (std::size_t t = 0; t < labels.size() && t < tasks.size(); ++t) {
    const std::optional<std::string>& text = labels[t];
    if (text && texts.parse(*text).read.label && !texts.parse(*text).asWritten) {
      readAs.add(*text, [&] { return taskWhere(tasks, t) + " mac_label"; });
    }
  }
  warnReadAs(path, readAs, texts, findings);
}

}  // namespace tav_suite
