// tav-rep: decides for every recorded answer whether the access rules predict it, and writes
// report.json. The exit status says whether the report was written.
#include <spdlog/spdlog.h>

#include <exception>
#include <optional>

#include "check_entry.h"
#include "check_table.h"
#include "label_cache.h"
#include "log_file.h"
#include "options.h"
#include "report.h"
#include "report_config.h"

int main(int argc, char** argv) {
  // 1. The command line; a rejected one ends the run before anything is created.
  const tav_rep::Options options = tav_rep::readCommandLine(argc, argv);
  if (!options.ok) return 1;

  // 2. The report log becomes the default logger.
  if (!tav::createMainLog(options.logDir, "report.log", "report_logger", options.logLevel)) {
    return 1;
  }

  try {
    // 3. The configuration; without it the data files are not read.
    const std::optional<tav_rep::ReportConfig> config = tav_rep::loadConfig(options.config);
    if (!config) return 1;

    // 4. Metadata and responses merged into one table; an empty one leaves nothing to report.
    const tav_rep::CheckTable table = tav_rep::loadData(options.metadata, options.responses);
    if (table.empty()) return 1;

    // 5. The report counts every identifier; the label cache serves every entry.
    tav_rep::Report report;
    report.total_count = table.size();
    tav_rep::LabelCache labels;

    // 6. Every entry is decided.
    for (const auto& [uuid, entry] : table) {
      tav_rep::checkEntry(uuid, entry, *config, labels, report);
    }

    // 7. and 8. The report is saved, or the reason it was not is logged.
    const int status = tav_rep::writeReport(options.outputDir, report) ? 0 : 1;

    // 9. Platform labels are released before the rest.
    labels.clear();
    return status;
  } catch (const std::exception& error) {
    // Only resource exhaustion gets here (JSON failures are the loaders'); the run still ends
    // with a reason in the log instead of an abort.
    spdlog::critical("tav-rep stopped: {}", error.what());
    return 1;
  }
}
