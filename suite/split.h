// `tav-suite split`: a tasks file cut into shards of whole tasks for several machines.
#pragma once

#include <cstddef>
#include <vector>

#include "suite/options.h"

namespace tav_suite {

// The shard (0-based) of each task: largest first into the shard with the fewest requests so
// far, ties to the earlier task and the lower shard, so the same file always splits alike.
std::vector<std::size_t> assignShards(const std::vector<std::size_t>& requestCounts,
                                      std::size_t shards);

// The whole subcommand; its exit status: 0 written, 2 tasks file not usable, 1 not written.
// The shards of an earlier split into the folder beyond N go with the new ones, all or none.
int runSplit(const SplitOptions& options);

}  // namespace tav_suite
