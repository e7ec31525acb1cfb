// What every output shows: the totals, the subject-by-object matrix, the failures and the
// hints that keep a user from trusting a wrong pass; and the terminal's rendering of it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "view/inputs.h"
#include "view/verdicts.h"

namespace tav_view {

struct Cell {
  std::size_t passed = 0;
  std::size_t total = 0;
  std::size_t regressions = 0;  // against a baseline: new failures and lost answers
};

struct Baseline;

struct Summary {
  std::size_t total = 0;
  std::size_t failed = 0;
  std::vector<std::string_view> subjects;  // matrix rows, by level, then categories
  std::vector<std::string_view> objects;   // matrix columns
  std::map<std::pair<std::string_view, std::string_view>, Cell> matrix;        // reads
  std::map<std::pair<std::string_view, std::string_view>, Cell> write_matrix;  // writes
  std::vector<const ViewEntry*> failures;  // regressions first, each part in identifier order
  std::vector<std::string> hints;
  const Baseline* baseline = nullptr;  // with --baseline
};

Summary summarize(const Inputs& inputs, const std::vector<ViewEntry>& entries,
                  const Baseline* baseline = nullptr);

// "requests N, passed P, failed F"
std::string totalsLine(const Summary& summary);

// "user daemon, label 1:1, basic, http://..." for a request the tasks file names ("..., basic,
// PUT http://..." for another method than GET); empty else.
std::string requestContext(const Inputs& inputs, const ViewEntry& entry);

// "new failure", "still failing, lost its answer", ... against a baseline.
std::string changeText(const ViewEntry& entry);

// The totals, every failure with its explanation, the matrix and the hints; only the totals
// when quiet. Colour codes only when `colour` is set.
void printSummary(std::FILE* out, const Inputs& inputs, const Summary& summary, bool quiet,
                  bool colour);

}  // namespace tav_view
