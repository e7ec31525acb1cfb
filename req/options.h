// The command line of tav-req.
#pragma once

#include <spdlog/common.h>

#include <string>

#include "common/command_line.h"
#include "req/tls_trust.h"

namespace tav_req {

using tav::ExistingDirectoryConstraint;
using tav::ExistingFileConstraint;

struct Options {
  bool ok = true;
  spdlog::level::level_enum logLevel = spdlog::level::info;
  std::string logDir;
  std::string tasks;
  std::string outputDir;
  unsigned requestTimeout = 0;  // seconds per request; 0: no limit
  TlsTrust trust;               // --cacert, --capath, --insecure
};

// The largest --request-timeout: libcurl keeps the time-out in milliseconds in an int.
constexpr unsigned kMaxRequestTimeout = 2147483;

// Parses the command line. The parser itself ends the process on a bad command line (status
// 1) and after --help or --version (status 0).
Options readCommandLine(int argc, char** argv);

}  // namespace tav_req
