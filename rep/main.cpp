// tav-rep: decides for every recorded answer whether the access rules predict it.
#include <spdlog/spdlog.h>

#include "log_file.h"
#include "options.h"

int main(int argc, char** argv) {
  // 1. The command line; a rejected one ends the run before anything is created.
  const tav_rep::Options options = tav_rep::readCommandLine(argc, argv);
  if (!options.ok) return 1;

  // 2. The report log becomes the default logger.
  if (!tav::createMainLog(options.logDir, "report.log", "report_logger", options.logLevel)) {
    return 1;
  }
  return 0;
}
