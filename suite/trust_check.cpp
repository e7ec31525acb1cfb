#include "suite/trust_check.h"

#include <fmt/format.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "common/words.h"

namespace tav_suite {

namespace {

bool isHttpsUrl(const std::string& url) {
  constexpr std::string_view kScheme = "https://";
  if (url.size() < kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
  }
  return true;
}

// libcurl reads the CA only for a TLS connection: a task without https needs none.
bool sendsHttps(const tav_req::Task& task) {
  return std::ranges::any_of(
      task.requests, [](const tav_req::TaskRequest& request) { return isHttpsUrl(request.uri); });
}

// A CA bundle is well under this; a larger file is looked at only this far.
constexpr std::size_t kCaFileLimit = 16 << 20;

// The start of the file, or the reason it cannot be read.
std::pair<std::string, std::string> readStart(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd == -1) return {{}, fmt::format("open: {}", std::strerror(errno))};
  std::string text;
  char buffer[65536];
  while (text.size() < kCaFileLimit) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == -1 && errno == EINTR) continue;
    if (n == -1) {
      const std::string reason = fmt::format("read: {}", std::strerror(errno));
      close(fd);
      return {{}, reason};
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return {text, {}};
}

// A PEM certificate block ("-----BEGIN CERTIFICATE-----", or TRUSTED or X509 CERTIFICATE) is
// what OpenSSL takes from a CA file; without one libcurl fails every https request.
bool holdsPemCertificate(std::string_view text) {
  constexpr std::string_view kBegin = "-----BEGIN ";
  for (std::size_t begin = text.find(kBegin); begin != std::string_view::npos;
       begin = text.find(kBegin, begin + 1)) {
    const std::size_t label = begin + kBegin.size();
    const std::size_t end = text.find("-----", label);
    if (end != std::string_view::npos && text.substr(label, end - label).ends_with("CERTIFICATE")) {
      return true;
    }
  }
  return false;
}

}  // namespace

void checkTrust(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                const CheckOptions& options, AccessProbe& probe, Findings& findings) {
  std::size_t httpsRequests = 0;
  std::optional<std::pair<std::size_t, std::size_t>> first;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    for (std::size_t r = 0; r < tasks[t].requests.size(); ++r) {
      if (!isHttpsUrl(tasks[t].requests[r].uri)) continue;
      ++httpsRequests;
      if (!first) first = std::make_pair(t, r);
    }
  }
  if (httpsRequests == 0) return;
  if (options.caFile.empty() && options.caPath.empty()) {
    findings.warning(fmt::format(
        "{}: {} https:// URLs (first tasks[{}].requests[{}]) and neither --cacert nor --capath "
        "is given: tav-req's children will trust only the system's CA store; give both programs "
        "--cacert with the CA that signed the servers' certificates unless the store holds it",
        tasksPath, tav::counted(httpsRequests, "request goes to", "requests go to"), first->first,
        first->second));
    return;
  }
  if (!options.caFile.empty()) {
    const auto [text, unreadable] = readStart(options.caFile);
    if (!unreadable.empty()) {
      findings.error(fmt::format("{}: the CA file cannot be read: {}", options.caFile, unreadable));
    } else if (!holdsPemCertificate(text)) {
      findings.error(fmt::format(
          "{}: the CA file holds no PEM certificate (-----BEGIN CERTIFICATE-----); every https "
          "request would fail; give the CA's certificate in PEM form",
          options.caFile));
    }
  }
  if (!options.caPath.empty() && hashedCertificateCount(options.caPath) == 0) {
    // OpenSSL finds a CA in a folder only under the name of its subject's hash: a certificate
    // copied in without `openssl rehash` is never looked at.
    findings.warning(fmt::format(
        "{}: the CA folder holds no certificate under a hashed name (such as 5ed36f99.0), so "
        "tav-req's children trust none in it; run openssl rehash {} after copying the CA's "
        "certificate in",
        options.caPath, options.caPath));
  }
  std::set<std::string> checked;
  std::size_t skipped = 0;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const std::string& name = tasks[t].user.name;
    if (!sendsHttps(tasks[t]) || checked.contains(name)) continue;
    checked.insert(name);
    // A user that does not exist has its own error already.
    const std::optional<TaskUserId> user = findUser(name);
    if (!user) continue;
    if (!options.caFile.empty()) {
      const std::optional<bool> readable = probe.canRead(*user, options.caFile);
      skipped += readable ? 0 : 1;
      if (readable == false) {
        findings.error(fmt::format(
            "{}: user \"{}\" of {} cannot read this CA file, and tav-req's child reads it as "
            "that user: every https request of the task would fail; make it readable to the "
            "user (and the folders above it searchable) or copy it where the user can read it",
            options.caFile, name, fmt::format("tasks[{}]", t)));
      }
    }
    if (!options.caPath.empty()) {
      const std::optional<bool> usable = probe.canUseCaFolder(*user, options.caPath);
      skipped += usable ? 0 : 1;
      if (usable == false) {
        findings.error(fmt::format(
            "{}: user \"{}\" of {} cannot search this CA folder or read a certificate in it, and "
            "tav-req's child reads them as that user: its https requests may fail; make the "
            "folder searchable and its certificates readable to the user",
            options.caPath, name, fmt::format("tasks[{}]", t)));
      }
    }
  }
  if (skipped > 0) {
    findings.warning(fmt::format("{}: {} of what task users may read of the CA skipped: needs root",
                                 tasksPath, tav::counted(skipped, "check", "checks")));
  }
}

}  // namespace tav_suite
