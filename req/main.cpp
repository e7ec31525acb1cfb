// tav-req: runs the tasks of a tasks file, one child process per task.
#include <spdlog/spdlog.h>

#include "log_file.h"
#include "options.h"

int main(int argc, char** argv) {
  // 1. The command line; a rejected one ends the run before anything is created.
  const tav_req::Options options = tav_req::readCommandLine(argc, argv);
  if (!options.ok) return 1;

  // 2. The main log becomes the default logger.
  if (!tav::createMainLog(options.logDir, "main.log", "base_file_logger", options.logLevel)) {
    return 1;
  }
  return 0;
}
