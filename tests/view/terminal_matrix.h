// tav-view's matrices on the terminal read back for the view tests.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace tav_test {

using MatrixCells = std::map<std::pair<std::string, std::string>, std::string>;

// The matrix under the line that starts with `heading`, as cell texts by subject and object
// label, empty cells ("-") left out; nothing when there is no such matrix. Its place in the
// output and the order of rows and columns do not matter.
MatrixCells matrixAfter(const std::string& out, const std::string& heading = "matrix: ");

}  // namespace tav_test
