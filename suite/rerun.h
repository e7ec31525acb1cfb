// `tav-suite rerun`: the suite of only the requests an earlier run failed, so that after a fix
// only those are sent again.
#pragma once

#include "suite/options.h"

namespace tav_suite {

// The whole subcommand; its exit status: 0 written, or nothing failed and nothing written; 2 an
// input not usable, or a report that names none of the tasks' requests; 1 not written.
int runRerun(const RerunOptions& options);

}  // namespace tav_suite
