// Runs a fuzz target once over each file of the given files and directories,
// without the fuzzer: the native build replays the checked-in corpus this way
// under its sanitizers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

void RunFile(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // A block of exactly the input's size, so that a read behind it is caught.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

} // namespace

int main(int argc, char **argv) {
    std::size_t files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    RunFile(entry.path());
                    ++files;
                }
            }
        } else {
            RunFile(path);
            ++files;
        }
    }
    std::printf("replayed %zu inputs\n", files);
    // An empty corpus tests nothing.
    return files == 0 ? 1 : 0;
}
