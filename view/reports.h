// The three files tav-view writes on request: JUnit XML for CI, one self-contained HTML page
// for a person, and every verdict as JSON for other tools.
#pragma once

#include <cstdio>
#include <vector>

#include "view/inputs.h"
#include "view/summary.h"
#include "view/verdicts.h"

namespace tav_view {

// At most this many failures are listed on the HTML page.
constexpr std::size_t kHtmlFailureLimit = 10000;

// "predicted refused: subject 1:1 does not dominate object 3:7; recorded 200: 200 is an
// allowed code"
std::string failureReason(const Inputs& inputs, const ViewEntry& entry);

void writeJunit(std::FILE* out, const Inputs& inputs, const std::vector<ViewEntry>& entries,
                const Summary& summary);
void writeHtml(std::FILE* out, const Inputs& inputs, const Summary& summary);
void writeJson(std::FILE* out, const Inputs& inputs, const std::vector<ViewEntry>& entries,
               const Summary& summary);

}  // namespace tav_view
