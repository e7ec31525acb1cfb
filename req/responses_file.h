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

// Writes {"tasks": [entries]} to outputDir/fileName; an empty list gives {"tasks": []}. A body
// that is not valid UTF-8 is stored with U+FFFD in place of every invalid sequence, with a
// warning naming the request. Returns whether the file was written.
bool saveResponses(const std::filesystem::path& outputDir, const std::string& fileName,
                   const Task& task, const std::vector<HttpResponse>& responses);

// Joins the entries of exactly these per-task files, in this order, into outputDir/
// "responses.json" (replaced when present). Reads nothing else. On the first unusable file
// logs why and returns false without writing; null is written when no entry is found.
bool mergeResponses(const std::filesystem::path& outputDir,
                    const std::vector<std::string>& fileNames);

}  // namespace tav_req
