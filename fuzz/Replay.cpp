// Runs a fuzz target once on every file in the directory given: a corpus as
// an ordinary test. A target aborts on the first difference; the last name
// printed is the input.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int inputs = 0;
    for (const auto& file : std::filesystem::directory_iterator(argv[argc - 1])) {
        std::printf("%s\n", file.path().c_str());
        std::fflush(stdout);
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<char> input((std::istreambuf_iterator<char>(in)), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        ++inputs;
    }
    return inputs > 0 ? 0 : 1;
}
