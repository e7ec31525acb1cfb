#include "view/host_hints.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <map>

namespace tav_view {

namespace {

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  std::ranges::transform(lower, lower.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

struct OriginCount {
  std::size_t first = 0;  // position of the origin's first request, for a stable order
  std::size_t total = 0;
  std::size_t unanswered = 0;
};

}  // namespace

std::optional<std::string> urlOrigin(std::string_view url) {
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos || schemeEnd == 0) return std::nullopt;
  const std::string scheme = lowerCase(url.substr(0, schemeEnd));
  std::string_view authority = url.substr(schemeEnd + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  // A user name and password before the host are not part of where the request went.
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  std::string_view port;
  const std::size_t bracket = authority.starts_with('[') ? authority.find(']') : 0;
  if (bracket == std::string_view::npos) return std::nullopt;
  if (const std::size_t colon = authority.find(':', bracket); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty()) return std::nullopt;
  if (port.empty()) {
    if (scheme == "http") port = "80";
    if (scheme == "https") port = "443";
  }
  return fmt::format("{}://{}{}{}", scheme, lowerCase(host), port.empty() ? "" : ":", port);
}

std::vector<std::string> unansweredHostHints(const std::vector<ViewEntry>& entries) {
  std::map<std::string, OriginCount> origins;
  std::size_t position = 0;
  for (const ViewEntry& view : entries) {
    if (view.request == nullptr) continue;
    const std::optional<std::string> origin = urlOrigin(view.request->url);
    if (!origin) continue;
    auto [found, fresh] = origins.try_emplace(*origin, OriginCount{position++});
    ++found->second.total;
    if (view.entry->code == 0) ++found->second.unanswered;
  }
  std::vector<std::pair<std::size_t, std::string>> hints;
  for (const auto& [origin, count] : origins) {
    if (count.unanswered != count.total) continue;
    const bool https = origin.starts_with("https://");
    hints.emplace_back(
        count.first,
        fmt::format("{} to {} failed before an answer: look in the child logs for the transfer "
                    "error, e.g. {}",
                    count.total == 1 ? std::string("the one request")
                                     : fmt::format("all {} requests", count.total),
                    origin,
                    https ? "a certificate the run does not trust"
                          : "a server that does not listen there"));
  }
  std::ranges::sort(hints);
  std::vector<std::string> texts;
  for (auto& [first, text] : hints) texts.push_back(std::move(text));
  return texts;
}

}  // namespace tav_view
