#include "pcaps/probe_page.h"

#include <cstdio>

#include "platform/korval.h"

namespace tav_pcaps {
namespace {

// An empty first line leaves the CGI header block empty: everything after it is the body.
constexpr const char* kPageHead =
    "\n<!DOCTYPE html>\n<html>\n<head>\n    <title>tav pcaps</title>\n"
    "    <meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
    "</head>\n<body>\n<pre>\n";
constexpr const char* kPageEnd = "\n</pre>\n</body>\n</html>\n";

std::string capabilityWord(std::uint32_t word) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(word));
  return text;
}

}  // namespace

std::string escapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

int writeProbePage(std::ostream& out, const char* remoteUser) {
  out << kPageHead;
  // The server passes the name in; it is echoed into HTML, so it is escaped.
  out << "Remote user: " << escapeHtml(remoteUser != nullptr ? remoteUser : "") << "\n";
  out.flush();

  KorvalCaps caps{0, 0, 0};
  const int result = korval_capget(0, &caps);
  out << "KORVAL caps: ";
  if (result == 0) {
    out << capabilityWord(caps.effective) << ' ' << capabilityWord(caps.permitted) << ' '
        << capabilityWord(caps.inheritable);
  } else {
    out << "UNKNOWN";
  }
  out << kPageEnd;
  out.flush();
  return result;
}

}  // namespace tav_pcaps
