// The checker's result and its file, report.json.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace tav_rep {

struct Report {
  std::uint64_t total_count = 0;
  std::set<std::string> failed_uuids;
};

// {"failed_uuids": [...], "total_count": N}
nlohmann::json reportToJson(const Report& report);

// Writes "report.json" into the output directory, never over one of `inputs`; true only when
// the whole text was saved, else the reason is logged and an old report.json is left whole.
bool writeReport(const std::filesystem::path& outputDir, const Report& report,
                 const std::vector<std::string>& inputs = {});

}  // namespace tav_rep
