#include "common/json_scan.h"

#include <cstring>
#include <vector>

namespace tav {

namespace {

constexpr std::size_t kDeepest = 256;
constexpr std::size_t kLongestNumber = 18;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::size_t JsonScan::position() {
  while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
  return at_;
}

bool JsonScan::take(char c) {
  if (!ok_ || position() >= text_.size() || text_[at_] != c) return giveUp();
  ++at_;
  return true;
}

bool JsonScan::takeIf(char c) {
  if (!ok_ || position() >= text_.size() || text_[at_] != c) return false;
  ++at_;
  return true;
}

char JsonScan::peek() {
  if (!ok_ || position() >= text_.size()) return '\0';
  return text_[at_];
}

std::optional<std::string_view> JsonScan::plainString() {
  if (!take('"')) return std::nullopt;
  const std::size_t start = at_;
  // The closing quote; a backslash, a control character or a byte above 0x7f before it makes
  // the string one the scanner leaves to the library.
  while (at_ < text_.size()) {
    const auto byte = static_cast<unsigned char>(text_[at_]);
    if (byte == '"') {
      ++at_;
      return text_.substr(start, at_ - 1 - start);
    }
    if (byte == '\\' || byte < 0x20 || byte > 0x7f) break;
    ++at_;
  }
  giveUp();
  return std::nullopt;
}

bool JsonScan::skipString() {
  if (!take('"')) return false;
  while (at_ < text_.size()) {
    const auto byte = static_cast<unsigned char>(text_[at_]);
    if (byte == '"') {
      ++at_;
      return true;
    }
    if (byte < 0x20 || byte > 0x7f) return giveUp();
    if (byte == '\\') {
      if (at_ + 1 >= text_.size() || std::strchr("\"\\/bfnrt", text_[at_ + 1]) == nullptr ||
          text_[at_ + 1] == '\0') {
        return giveUp();
      }
      at_ += 2;
      continue;
    }
    ++at_;
  }
  return giveUp();
}

std::optional<bool> JsonScan::boolean() {
  const char c = peek();
  if (c == 't' && skipLiteral("true")) return true;
  if (c == 'f' && skipLiteral("false")) return false;
  giveUp();
  return std::nullopt;
}

bool JsonScan::skipLiteral(std::string_view word) {
  if (!ok_ || text_.substr(position(), word.size()) != word) return giveUp();
  at_ += word.size();
  return true;
}

std::optional<bool> JsonScan::number() {
  if (!ok_) return std::nullopt;
  const std::size_t start = position();
  bool nonZero = false;
  if (at_ < text_.size() && text_[at_] == '-') ++at_;
  const std::size_t digits = at_;
  if (at_ < text_.size() && text_[at_] == '0') {
    ++at_;
  } else {
    while (at_ < text_.size() && isDigit(text_[at_])) nonZero |= text_[at_++] != '0';
  }
  if (at_ == digits) {
    giveUp();
    return std::nullopt;
  }
  if (at_ < text_.size() && text_[at_] == '.') {
    const std::size_t fraction = ++at_;
    while (at_ < text_.size() && isDigit(text_[at_])) nonZero |= text_[at_++] != '0';
    if (at_ == fraction) {
      giveUp();
      return std::nullopt;
    }
  }
  // An exponent, a number of many digits or a digit right after a leading zero ("01") is left
  // to the library, which decides about range and form.
  if (at_ - start > kLongestNumber ||
      (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E' || isDigit(text_[at_])))) {
    giveUp();
    return std::nullopt;
  }
  return nonZero;
}

bool JsonScan::skipValue() {
  switch (peek()) {
    case '"':
      return skipString();
    case '{':
    case '[':
      return skipComposite();
    case 't':
      return skipLiteral("true");
    case 'f':
      return skipLiteral("false");
    case 'n':
      return skipLiteral("null");
    default:
      return number().has_value();
  }
}

// Objects and arrays without recursion: the closing characters still owed, innermost last.
bool JsonScan::skipComposite() {
  std::vector<char> open;
  bool needMember = true;  // at the start, after an opening bracket and after a comma
  do {
    if (!needMember) {
      if (takeIf(',')) {
        needMember = true;
      } else if (take(open.back())) {
        open.pop_back();
      }
      continue;
    }
    if (!open.empty() && open.back() == '}' && (!skipString() || !take(':'))) return false;
    const char c = peek();
    if (c == '{' || c == '[') {
      ++at_;
      if (open.size() == kDeepest) return giveUp();
      open.push_back(c == '{' ? '}' : ']');
      needMember = !takeIf(open.back());
      if (!needMember) open.pop_back();
      continue;
    }
    if (open.empty() || !skipValue()) return giveUp();
    needMember = false;
  } while (ok_ && !open.empty());
  return ok_;
}

bool JsonScan::atEnd() {
  return ok_ && position() == text_.size();
}

}  // namespace tav
