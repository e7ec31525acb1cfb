// One platform label per distinct label text for the whole run, and the two questions the
// decision asks of them: is the subject within the user's range, and may it access the object.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>

#include "platform/zem.h"

namespace tav_rep {

class LabelCache {
 public:
  LabelCache() = default;
  ~LabelCache();
  LabelCache(const LabelCache&) = delete;
  LabelCache& operator=(const LabelCache&) = delete;

  // True when a platform label for the text is in the cache afterwards. A text that is not a
  // label, or for which the library gives no label (logged at error level), is not stored.
  bool ensure(const std::string& text);

  // Whether the subject dominates `min` and is dominated by `max`; no value when a text is not
  // a label (the texts after it are then not looked at).
  std::optional<bool> validate(const std::string& subject, const std::string& min,
                               const std::string& max);

  // Whether the platform grants the subject access to the object in the mode (ZEML_MODE_*); no
  // value when a text is not a label.
  std::optional<bool> check(const std::string& subject, const std::string& object,
                            int mode = ZEML_MODE_READ_EXEC);

  // Releases every platform label and empties the cache.
  void clear();

  std::size_t size() const { return labels_.size(); }

 private:
  // The cached or newly created label of the text; null when there is none.
  zeml_t* lookup(const std::string& text);

  std::unordered_map<std::string, zeml_t*> labels_;
};

}  // namespace tav_rep
