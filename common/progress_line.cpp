#include "common/progress_line.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string_view>
#include <system_error>

#include "common/terminal_text.h"

namespace tav {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr auto kQuietSecond = std::chrono::seconds(1);
// A counted phase looks at the clock once per this many additions, so counting a million
// entries costs a few thousand clock reads.
constexpr unsigned kAddsPerLook = 256;

constexpr std::string_view kErase = "\r\033[K";

std::atomic<bool> on{false};
std::atomic<std::size_t> phaseCount{0};
std::atomic<std::size_t> fractionDone{0};
std::atomic<std::size_t> fractionTotal{0};
std::atomic<bool> hasFraction{false};
std::atomic<unsigned> adds{0};

// Guarded by `mutex`: what the line shows and when it was drawn.
std::mutex mutex;
std::string phaseText;
std::string phaseUnit;   // the unit of a count of one
std::string phaseUnits;  // of any other count
Clock::time_point visibleFrom;
Clock::time_point lastDraw;
bool shown = false;
pid_t owner = 0;

void writeAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    // A terminal that takes nothing more gets no line; the program's work goes on.
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Cut to one column less than the terminal's width, at a character boundary: a line that
// wraps could no longer be erased with a carriage return.
std::string fitted(std::string text) {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return text;
  const std::size_t width = size.ws_col - 1U;
  if (text.size() <= width) return text;
  std::size_t cut = width;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

std::string composed() {
  if (hasFraction) {
    const std::size_t total = fractionTotal.load();
    const std::size_t percent = total == 0 ? 100 : fractionDone.load() * 100 / total;
    return fmt::format("{}: {}%", phaseText, percent);
  }
  if (phaseUnit.empty()) return phaseText;
  const std::size_t count = phaseCount.load();
  return fmt::format("{}: {} {}", phaseText, groupedDigits(count),
                     count == 1 ? phaseUnit : phaseUnits);
}

// Draws `text` when the line may be drawn now; the caller holds the mutex.
void drawLocked(const std::string& text, bool force) {
  const Clock::time_point now = Clock::now();
  if (now < visibleFrom || (!force && shown && now - lastDraw < kRedrawEvery)) return;
  if (::getpid() != owner) return;
  // What the program printed since the last draw goes on its own lines, above the new one.
  if (shown) writeAll(kErase);
  std::cout.flush();
  std::fflush(stdout);
  writeAll(fmt::format("\r{}\033[K", fitted(terminalText(text))));
  lastDraw = now;
  shown = true;
}

void redraw() {
  const std::lock_guard lock(mutex);
  drawLocked(composed(), false);
}

// Called on every step of a phase: only every kAddsPerLook-th call looks further.
void redrawSometimes() {
  if (adds.fetch_add(1, std::memory_order_relaxed) % kAddsPerLook == 0) redraw();
}

}  // namespace

bool dumbTerminal() {
  const char* term = std::getenv("TERM");
  return term != nullptr && std::string_view(term) == "dumb";
}

void startProgress(ProgressStart start) {
  if (::isatty(STDERR_FILENO) != 1 || dumbTerminal()) return;
  const std::lock_guard lock(mutex);
  owner = ::getpid();
  visibleFrom = Clock::now() + (start == ProgressStart::afterASecond
                                    ? std::chrono::duration_cast<Clock::duration>(kQuietSecond)
                                    : Clock::duration::zero());
  on = true;
}

bool progressOn() {
  return on.load(std::memory_order_relaxed);
}

void progressPhase(std::string phase, std::string unit, std::string units) {
  if (!progressOn()) return;
  {
    const std::lock_guard lock(mutex);
    phaseText = std::move(phase);
    phaseUnit = std::move(unit);
    phaseUnits = std::move(units);
    hasFraction = false;
    fractionDone = 0;
    fractionTotal = 0;
    phaseCount = 0;
  }
  redraw();
}

void progressAdd(std::size_t count) {
  if (!progressOn()) return;
  phaseCount.fetch_add(count, std::memory_order_relaxed);
  redrawSometimes();
}

void progressFraction(std::size_t done, std::size_t total) {
  if (!progressOn()) return;
  hasFraction.store(true, std::memory_order_relaxed);
  fractionDone.store(done, std::memory_order_relaxed);
  fractionTotal.store(total, std::memory_order_relaxed);
  redrawSometimes();
}

void progressText(const std::string& text, bool force) {
  if (!progressOn()) return;
  const std::lock_guard lock(mutex);
  drawLocked(text, force);
}

void progressWriting(const std::vector<std::string>& outputs) {
  if (!progressOn()) return;
  std::string names;
  for (const std::string& output : outputs) {
    if (output.empty()) continue;
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(output, error).type();
    if (type != std::filesystem::file_type::regular &&
        type != std::filesystem::file_type::not_found) {
      stopProgress();
      return;
    }
    names += (names.empty() ? "" : ", ") + output;
  }
  if (!names.empty()) progressPhase("writing " + names);
}

void clearProgress() {
  if (!progressOn()) return;
  const std::lock_guard lock(mutex);
  if (!shown || ::getpid() != owner) return;
  writeAll(kErase);
  shown = false;
}

void stopProgress() {
  clearProgress();
  on = false;
}

std::string groupedDigits(std::size_t count) {
  std::string digits = std::to_string(count);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

}  // namespace tav
