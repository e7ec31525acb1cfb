// `tav-suite merge`: the responses files of the shards of one suite joined into one; with
// --over, a rerun's answers put in place of a full run's.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "suite/options.h"

namespace tav_suite {

// A shard's answers as tav-rep loads them: the array of entries (null for a run without
// answers), or why the document cannot be joined, naming the first entry and key at fault.
struct ShardAnswers {
  nlohmann::json entries;
  std::string problem;  // empty when the entries can be joined
};
ShardAnswers readShardAnswers(nlohmann::json document);

// The whole subcommand; its exit status: 0 written, 2 an input not usable or a uuid answered
// in two inputs, 1 not written.
int runMerge(const MergeOptions& options);

}  // namespace tav_suite
