// Runs a fuzz target over every file of the corpora named on the command line, once each,
// so that the corpora are exercised by every build, not only by clang's libFuzzer.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool runFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int ran = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path root(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_regular_file(root, ec)) {
            ran += runFile(root) ? 1 : 0;
            continue;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
            if (entry.is_regular_file())
                ran += runFile(entry.path()) ? 1 : 0;
        }
    }
    // Also run the empty input, which every target must survive.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d inputs\n", ran);
    return ran > 0 ? 0 : 1;
}
