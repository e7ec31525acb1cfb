#include "tests/view/view_test_support.h"

#include <iterator>
#include <sstream>
#include <vector>

namespace tav_test {

std::vector<std::string> viewArgs(const std::filesystem::path& folder,
                                  const std::vector<std::string>& more) {
  std::vector<std::string> args = {TAV_VIEW_PATH,
                                   "-m",
                                   (folder / "metadata.json").string(),
                                   "-r",
                                   (folder / "responses.json").string(),
                                   "-c",
                                   (folder / "config.json").string()};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

MatrixCells matrixAfter(const std::string& out, const std::string& heading) {
  MatrixCells cells;
  const auto at = out.find("\n" + heading);
  if (at == std::string::npos) return cells;
  std::istringstream lines(out.substr(at + 1));
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  std::istringstream header(line);
  const std::vector<std::string> objects{std::istream_iterator<std::string>(header), {}};
  while (std::getline(lines, line) && !line.empty()) {
    std::istringstream row(line);
    std::string subject;
    row >> subject;
    for (const std::string& object : objects) {
      std::string cell;
      row >> cell;
      if (cell != "-") cells[{subject, object}] = cell;
    }
  }
  return cells;
}

}  // namespace tav_test
