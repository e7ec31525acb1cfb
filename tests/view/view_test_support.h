// What the view tests share: tav-view's command line on a run's files and its matrices on the
// terminal read back.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tav_test {

// tav-view on the metadata.json, responses.json and config.json in `folder`, then `more`.
std::vector<std::string> viewArgs(const std::filesystem::path& folder,
                                  const std::vector<std::string>& more = {});

using MatrixCells = std::map<std::pair<std::string, std::string>, std::string>;

// The matrix under the line that starts with `heading`, as cell texts by subject and object
// label, empty cells ("-") left out; nothing when there is no such matrix. Its place in the
// output and the order of rows and columns do not matter.
MatrixCells matrixAfter(const std::string& out, const std::string& heading = "matrix: ");

}  // namespace tav_test
