// Reads and parses the checker's two input files with the JSON library and does nothing else:
// the baseline that tav-rep's time is compared with. Prints the number of top-level entries.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error(std::string("cannot open ") + path);
  std::string text(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
    return 2;
  }
  try {
    // Every document stays alive to the end, as the checker holds both while it joins them.
    std::vector<nlohmann::json> documents;
    std::size_t entries = 0;
    for (int i = 1; i < argc; ++i) {
      documents.push_back(nlohmann::json::parse(readFile(argv[i]), nullptr, true, false));
      entries += documents.back().size();
    }
    std::printf("%zu\n", entries);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "parse_only: %s\n", error.what());
    return 1;
  }
  return 0;
}
