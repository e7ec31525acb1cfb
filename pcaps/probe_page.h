// The capability probe page: shows the remote user the server passed in and the capabilities
// of the process that serves the request.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace tav_pcaps {

// The text with &, <, >, " and ' replaced by their HTML character references.
std::string escapeHtml(std::string_view text);

// Writes the whole page to `out` and returns the capability query's result (0 on success).
int writeProbePage(std::ostream& out, const char* remoteUser);

}  // namespace tav_pcaps
