// The responses files: each child saves its task's answers in a file of its own, and the
// parent merges the files of the children that succeeded into "responses.json".
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "req/http_engine.h"
#include "req/task.h"

namespace tav_req {

// One file name per task, in task order: "responses_{name}_{level}_{categories}.json", numbers
// in decimal; the k-th task (k >= 2) with the same name, level and categories gets "-{k}"
// before ".json", so no two children write one file.
std::vector<std::string> responsesFileNames(const std::vector<Task>& tasks);

// Writes {"tasks": [entries]} to outputDir/fileName as the calling user, never through a link
// or into a file of another user's (writeOwnFile); an empty list gives {"tasks": []}. A body
// that is not valid UTF-8 is stored with U+FFFD in place of every invalid sequence, with a
// warning naming the request. Returns whether the file was written.
bool saveResponses(const std::filesystem::path& outputDir, const std::string& fileName,
                   const Task& task, const std::vector<HttpResponse>& responses);

// A per-task file to merge and the user whose child wrote it.
struct TaskFile {
  std::string fileName;
  std::string userName;
};

struct MergeResult {
  bool written = false;     // responses.json was written
  std::size_t refused = 0;  // task files left out because their user did not write them
};

// Joins the entries of exactly these per-task files, in this order, into outputDir/
// "responses.json", which is replaced by a rename (a link there is replaced, not followed).
// Reads nothing else. A file that is not a regular file owned by its task's user is left out
// with an error line naming it and why, and counted in `refused`. On the first file that does
// not parse, logs why and writes nothing; null is written when no entry is found.
MergeResult mergeResponses(const std::filesystem::path& outputDir,
                           const std::vector<TaskFile>& files);

}  // namespace tav_req
