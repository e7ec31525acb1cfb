// What a run trusts over TLS: the CA file or folder named on the command line, or nothing at all
// with --insecure. Applied to every transfer, announced in main.log and in every child log so a
// report built on an unverified run can be recognised.
#pragma once

#include <curl/curl.h>

#include <string>

namespace tav_req {

struct TlsTrust {
  std::string caFile;  // PEM bundle of authorities (--cacert), absolute; empty: libcurl's default
  std::string caPath;  // hashed folder of authorities (--capath), absolute; empty: the default
  bool insecure = false;  // --insecure: neither the certificate nor the host name is verified
};

// Sets the trust on a transfer. Throws std::runtime_error when libcurl refuses a setting (a TLS
// library without CA folders, for example), so no request goes out trusting something else.
void applyTlsTrust(CURL* easy, const TlsTrust& trust);

// Logs the run's trust in main.log: a warning for --insecure, the CA file and folder at info.
void announceTrust(const TlsTrust& trust);

// Logs, in a child after its identity switch, the --insecure warning and an error for a CA file
// or folder that this user cannot read: libcurl reads them as the task user, so every https
// request of the task would fail.
void checkTrustAsTaskUser(const TlsTrust& trust, const std::string& userName);

// Whether a failed transfer failed in TLS (handshake, certificate, CA file), where libcurl's
// detailed error text names the reason its short one leaves out.
bool isTlsFailure(CURLcode result);

}  // namespace tav_req
