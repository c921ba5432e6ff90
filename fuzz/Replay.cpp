// Runs a fuzz target once on every file of the corpus directory given, as an
// ordinary test. A target aborts on the first difference, after the input's name.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int inputs = 0;
    for (const auto& file : std::filesystem::directory_iterator(argv[argc - 1])) {
        std::fprintf(stderr, "%s\n", file.path().c_str());
        std::ifstream in(file.path(), std::ios::binary);
        const std::string input((std::istreambuf_iterator<char>(in)), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        ++inputs;
    }
    return inputs > 0 ? 0 : 1;
}
