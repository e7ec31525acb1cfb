// A strict JSON scanner over text in memory, for the large files tav filters rather than loads
// (a million verdicts, a tasks file of 800,000 requests): it checks the grammar and hands out
// positions and the texts of plain strings, without building anything. It covers the common
// case only: an escape in a string it is asked for, a \u escape anywhere, a byte above 0x7f in
// a string, an exponent or a long number, or nesting deeper than 256 make it give up, and so
// does any error; the caller then reads the file with the JSON library, which also says where
// a file is wrong.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tav {

class JsonScan {
 public:
  explicit JsonScan(std::string_view text) : text_(text) {}

  // False once the scanner gave up; every call after that fails too.
  bool ok() const { return ok_; }
  // The position of the next byte that is not white space.
  std::size_t position();
  std::string_view text() const { return text_; }

  // Takes the character, or gives up.
  bool take(char c);
  // Takes the character when it comes next; never gives up.
  bool takeIf(char c);
  // The next value's first character, or '\0' at the end.
  char peek();

  // A string without escapes, its text between the quotes; gives up on anything else.
  std::optional<std::string_view> plainString();
  // true or false; gives up on anything else.
  std::optional<bool> boolean();
  // A number; whether it is other than zero. Gives up on anything else.
  std::optional<bool> number();
  // Any value, checked.
  bool skipValue();
  // True when only white space is left.
  bool atEnd();

  // The position right after the last byte taken.
  std::size_t offset() const { return at_; }

  bool giveUp() {
    ok_ = false;
    return false;
  }

 private:
  bool skipString();
  bool skipLiteral(std::string_view word);
  bool skipComposite();

  std::string_view text_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// The elements of an array, each read by `element`; false when the scanner gave up.
template <typename Element>
bool scanArray(JsonScan& scan, Element&& element) {
  if (!scan.take('[')) return false;
  if (scan.takeIf(']')) return true;
  do {
    if (!element()) return false;
  } while (scan.takeIf(','));
  return scan.take(']');
}

// The members of an object, each read by `member` after its key and colon.
template <typename Member>
bool scanObject(JsonScan& scan, Member&& member) {
  if (!scan.take('{')) return false;
  if (scan.takeIf('}')) return true;
  do {
    const std::optional<std::string_view> key = scan.plainString();
    if (!key || !scan.take(':') || !member(*key)) return false;
  } while (scan.takeIf(','));
  return scan.take('}');
}

}  // namespace tav
