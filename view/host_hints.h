// The hint for a server that answered nothing: every request of the run to one scheme, host and
// port failed before an answer, which points at the transfer (an untrusted certificate, a
// server that is down) rather than at the labels.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "view/verdicts.h"

namespace tav_view {

// "scheme://host:port" of an absolute URL, scheme and host in lower case and the port spelled
// out (80 for http, 443 for https); no value for a URL without "://" or without a host.
std::optional<std::string> urlOrigin(std::string_view url);

// One hint per origin whose every request (known from the tasks file) has code 0, in the order
// of the origins' first requests.
std::vector<std::string> unansweredHostHints(const std::vector<ViewEntry>& entries);

}  // namespace tav_view
