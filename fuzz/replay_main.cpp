// Runs files, or every file in folders, through a fuzz target without
// libFuzzer, so that the corpus and the regression inputs replay as an
// ordinary test under any compiler's sanitizers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A target may change the working folder, so every path is made absolute
  // before the first input runs.
  std::vector<std::filesystem::path> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(std::filesystem::absolute(argv[i]));
  }
  int replayed = 0;
  for (const auto& argument : arguments) {
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(argument)) {
      for (const auto& entry : std::filesystem::directory_iterator(argument)) {
        // Hidden files such as .gitkeep only keep an empty folder in git.
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
          inputs.push_back(entry.path());
        }
      }
      std::sort(inputs.begin(), inputs.end());
    } else {
      inputs.push_back(argument);
    }
    for (const auto& input : inputs) {
      if (!Replay(input)) {
        return 1;
      }
      ++replayed;
    }
  }
  std::fprintf(stderr, "replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
