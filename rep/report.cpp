#include "rep/report.h"

#include "common/json_document.h"

namespace tav_rep {

nlohmann::json reportToJson(const Report& report) {
  nlohmann::json document = nlohmann::json::object();
  document["failed_uuids"] = report.failed_uuids;
  document["total_count"] = report.total_count;
  return document;
}

bool writeReport(const std::filesystem::path& outputDir, const Report& report) {
  return tav::writeJsonDocument(outputDir / "report.json", reportToJson(report));
}

}  // namespace tav_rep
