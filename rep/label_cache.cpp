#include "rep/label_cache.h"

#include <spdlog/spdlog.h>

#include "rep/mac_label.h"

namespace tav_rep {

LabelCache::~LabelCache() {
  clear();
}

zeml_t* LabelCache::lookup(const std::string& text) {
  if (const auto found = labels_.find(text); found != labels_.end()) return found->second;
  const std::optional<MacLabel> label = parseMacLabel(text);
  if (!label) return nullptr;
  zeml_t* handle = zeml_get_new_init_mac(label->level, ZEML_TYPE_FULL, 0, label->categories, 0);
  if (handle == nullptr) {
    spdlog::error("zeml_get_new_init_mac failed for mac label {}", text);
    return nullptr;
  }
  labels_.emplace(text, handle);
  return handle;
}

bool LabelCache::ensure(const std::string& text) {
  return lookup(text) != nullptr;
}

std::optional<bool> LabelCache::validate(const std::string& subject, const std::string& min,
                                         const std::string& max) {
  zeml_t* const s = lookup(subject);
  if (s == nullptr) return std::nullopt;
  zeml_t* const lo = lookup(min);
  if (lo == nullptr) return std::nullopt;
  zeml_t* const hi = lookup(max);
  if (hi == nullptr) return std::nullopt;
  return zeml_lev(s) >= zeml_lev(lo) && zeml_lev(hi) >= zeml_lev(s) &&
         (zeml_cat(s) & zeml_cat(lo)) == zeml_cat(lo) &&
         (zeml_cat(s) & zeml_cat(hi)) == zeml_cat(s);
}

std::optional<bool> LabelCache::check(const std::string& subject, const std::string& object,
                                      int mode) {
  zeml_t* const s = lookup(subject);
  if (s == nullptr) return std::nullopt;
  zeml_t* const o = lookup(object);
  if (o == nullptr) return std::nullopt;
  return zeml_permission(s, o, mode) == 0;
}

void LabelCache::clear() {
  for (auto& [text, handle] : labels_) zeml_put(handle);
  labels_.clear();
}

}  // namespace tav_rep
