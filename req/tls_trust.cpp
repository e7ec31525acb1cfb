#include "req/tls_trust.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tav_req {

namespace {

constexpr const char* kInsecureWarning =
    "--insecure: answers over https are taken without verifying the server's certificate or "
    "host name in this run";

void setOption(CURL* easy, CURLoption option, const char* name, const std::string& value) {
  const CURLcode set = curl_easy_setopt(easy, option, value.c_str());
  if (set != CURLE_OK) {
    throw std::runtime_error(
        fmt::format("Failed to set the {} {}: {}", name, value, curl_easy_strerror(set)));
  }
}

}  // namespace

void applyTlsTrust(CURL* easy, const TlsTrust& trust) {
  if (!trust.caFile.empty()) setOption(easy, CURLOPT_CAINFO, "CA file", trust.caFile);
  if (!trust.caPath.empty()) setOption(easy, CURLOPT_CAPATH, "CA folder", trust.caPath);
  if (trust.insecure) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
  }
}

void announceTrust(const TlsTrust& trust) {
  if (trust.insecure) spdlog::warn(kInsecureWarning);
  if (!trust.caFile.empty()) spdlog::info("trusting the CA certificates in {}", trust.caFile);
  if (!trust.caPath.empty()) {
    spdlog::info("trusting the CA certificates in the folder {}", trust.caPath);
  }
}

void checkTrustAsTaskUser(const TlsTrust& trust, const std::string& userName) {
  if (trust.insecure) spdlog::warn(kInsecureWarning);
  if (!trust.caFile.empty()) {
    const int fd = open(trust.caFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd == -1) {
      spdlog::error(
          "user {} cannot read the CA file {}: open: {}; every https request of this "
          "task will fail",
          userName, trust.caFile, std::strerror(errno));
    } else {
      close(fd);
    }
  }
  // OpenSSL opens the folder's hashed names directly: searching it is what counts.
  if (!trust.caPath.empty() && access(trust.caPath.c_str(), X_OK) != 0) {
    spdlog::error(
        "user {} cannot search the CA folder {}: access: {}; every https request of "
        "this task will fail",
        userName, trust.caPath, std::strerror(errno));
  }
}

bool isTlsFailure(CURLcode result) {
  switch (result) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CLIENTCERT:
      return true;
    default:
      return false;
  }
}

}  // namespace tav_req
