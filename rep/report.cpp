#include "rep/report.h"

#include <spdlog/spdlog.h>

#include "common/output_set.h"

namespace tav_rep {

nlohmann::json reportToJson(const Report& report) {
  nlohmann::json document = nlohmann::json::object();
  document["failed_uuids"] = report.failed_uuids;
  document["total_count"] = report.total_count;
  return document;
}

bool writeReport(const std::filesystem::path& outputDir, const Report& report,
                 const std::vector<std::string>& inputs) {
  const std::string path = (outputDir / "report.json").string();
  // The output folder is often shared: report.json goes through the one output writer, so a
  // link another user planted there is refused and a failed write leaves the old file whole.
  tav::OutputSet outputs([](const std::string& name, const std::string& reason) {
    spdlog::error("failed to save file {}: {}", name, reason);
  });
  for (const std::string& input : inputs) outputs.addInput(input);
  outputs.add(path, reportToJson(report).dump(2));
  if (!outputs.commit()) return false;
  spdlog::info("saved result to {}", path);
  return true;
}

}  // namespace tav_rep
