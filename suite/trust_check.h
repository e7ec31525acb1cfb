// What `tav-suite check` says about the trust of https requests: a CA file or folder that a
// task user cannot read (tav-req's child reads it as that user, after its identity switch), a
// CA file without a certificate, and https URLs checked without either.
#pragma once

#include <string>
#include <vector>

#include "req/task.h"
#include "suite/check.h"
#include "suite/options.h"
#include "suite/user_access.h"

namespace tav_suite {

void checkTrust(const std::string& tasksPath, const std::vector<tav_req::Task>& tasks,
                const CheckOptions& options, AccessProbe& probe, Findings& findings);

}  // namespace tav_suite
