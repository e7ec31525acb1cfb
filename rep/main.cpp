// tav-rep: decides for every recorded answer whether the access rules predict it, and writes
// report.json. The exit status says whether the report was written.
#include <spdlog/spdlog.h>

#include <exception>
#include <optional>

#include "common/log_file.h"
#include "rep/check_entry.h"
#include "rep/check_table.h"
#include "rep/label_cache.h"
#include "rep/options.h"
#include "rep/report.h"
#include "rep/report_config.h"

int main(int argc, char** argv) {
  // A rejected command line ends the run before anything is created.
  const tav_rep::Options options = tav_rep::readCommandLine(argc, argv);
  if (!options.ok) return 1;

  if (!tav::createMainLog(options.logDir, "report.log", "report_logger", options.logLevel)) {
    return 1;
  }

  try {
    // The configuration; without it the data files are not read.
    const std::optional<tav_rep::ReportConfig> config = tav_rep::loadConfig(options.config);
    if (!config) return 1;

    // Metadata and responses merged into one table; an empty one leaves nothing to report.
    const tav_rep::CheckTable table = tav_rep::loadData(options.metadata, options.responses);
    if (table.empty()) return 1;

    // The report counts every identifier; the label cache serves every entry.
    tav_rep::Report report;
    report.total_count = table.size();
    tav_rep::LabelCache labels;

    // Decisions are independent; the table's order only orders the debug lines.
    for (const auto& [uuid, entry] : table) {
      tav_rep::checkEntry(uuid, entry, *config, labels, report);
    }

    // The report is saved, or the reason it was not is logged.
    const int status = tav_rep::writeReport(options.outputDir, report,
                                            {options.metadata, options.responses, options.config})
                           ? 0
                           : 1;

    // Platform labels go back to the library before the rest is released.
    labels.clear();
    return status;
  } catch (const std::exception& error) {
    // Only resource exhaustion gets here (JSON failures are the loaders'); the run still ends
    // with a reason in the log instead of an abort.
    spdlog::critical("tav-rep stopped: {}", error.what());
    return 1;
  }
}
