// The one line of progress a program shows on a terminal while it works: "reading
// metadata.json: 412,000 entries", "deciding: 60%", or a line the program composes itself.
// It is redrawn in place on standard error at most ten times a second and erased before any
// other output, and it exists only when standard error is a terminal: logs, pipes and files
// see no byte of it. Until a program turns it on, every call below costs one atomic load.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tav {

// When the line first appears: at once (a run the user waits for), or only once the program
// has worked for a second (small inputs are done before a line would help).
enum class ProgressStart { atOnce, afterASecond };

// Whether the terminal says it takes no control sequence (TERM=dumb, as an editor's shell
// buffer has it): it then gets neither the line nor colour.
bool dumbTerminal();

// Turns the line on when standard error is a terminal; does nothing otherwise. Only the
// process that calls it ever draws: a forked child that calls the functions below draws nothing.
void startProgress(ProgressStart start);

// True while the line is on.
bool progressOn();

// Starts a phase, shown as "{phase}" or, with units, "{phase}: {count} {unit or units}" with the
// count that progressAdd raises from 0 ("1 entry", "2 entries"). Any thread may call progressAdd.
void progressPhase(std::string phase, std::string unit = {}, std::string units = {});
void progressAdd(std::size_t count = 1);

// "{phase}: {done * 100 / total}%"
void progressFraction(std::size_t done, std::size_t total);

// Shows a line the program composes itself, at most ten times a second (a call in between is
// dropped: the caller calls again with a fresher text). `force` draws it whatever the time.
void progressText(const std::string& text, bool force = false);

// "writing report.html, view.json" (empty names left out) while outputs are written. An output
// that is already there and not a regular file (a terminal, a FIFO, /dev/stdout) is written
// through as the program goes, so the line is stopped for good instead.
void progressWriting(const std::vector<std::string>& outputs);

// Erases the line, if it is shown, and flushes standard output first, so that the next output
// starts on a clean line; the next update draws it again.
void clearProgress();

// Erases the line for good: nothing draws it again.
void stopProgress();

// "412,000"
std::string groupedDigits(std::size_t count);

}  // namespace tav
