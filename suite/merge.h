// `tav-suite merge`: the responses files of the shards of one suite joined into one.
#pragma once

#include "suite/options.h"

namespace tav_suite {

// The whole subcommand; its exit status: 0 written, 2 an input not usable or a uuid answered
// in two inputs, 1 not written.
int runMerge(const MergeOptions& options);

}  // namespace tav_suite
