// The tasks-file loader on arbitrary bytes. Besides not crashing: a loaded list has one task per
// element of the file's top-level array, and the responses file names made from it differ.
#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

#include "req/responses_file.h"
#include "req/task.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tav_test::MemFile file("tasks");
  file.write(data, size);
  const std::vector<tav_req::Task> tasks = tav_req::loadTasks(file.path());
  if (tasks.empty()) return 0;

  const std::string text(reinterpret_cast<const char*>(data), size);
  const nlohmann::json document = nlohmann::json::parse(text, nullptr, false, false);
  if (!document.is_array() || document.size() != tasks.size()) {
    tav_test::fail("loaded tasks differ from the file's array");
  }
  const std::vector<std::string> names = tav_req::responsesFileNames(tasks);
  if (names.size() != tasks.size()) tav_test::fail("not one file name per task");
  if (std::set<std::string>(names.begin(), names.end()).size() != names.size()) {
    tav_test::fail("two tasks share a responses file name");
  }
  return 0;
}
