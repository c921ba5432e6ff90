// A profile file (the input up to its first 0x01 byte) and lookups and writes (the rest), checked
// against an independent model of the format: after every call the file holds what the model holds.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CProfile.h"
#include "CString.h"
#include "FuzzSupport.h"

namespace {

// The file as the format reads it: pieces of at most 255 bytes, each ending
// after a line feed, after 255 bytes or at the end of the file.
struct Piece {
    std::size_t start;
    std::size_t size;
};

std::vector<Piece> Pieces(const std::string& file) {
    std::vector<Piece> pieces;
    for (std::size_t at = 0; at < file.size();) {
        std::size_t size = 0;
        while (at + size < file.size() && size < 255) {
            if (file[at + size++] == '\n') break;
        }
        pieces.push_back({at, size});
        at += size;
    }
    return pieces;
}

// What string functions see of a piece: its bytes up to the first NUL.
std::string Text(const std::string& file, const Piece& piece) {
    return std::string(file.substr(piece.start, piece.size).c_str());
}

struct Search {
    bool found = false;
    bool sectionFound = false;
    std::size_t position = 0;  // where the stream stands afterwards
    std::string line;          // the entry line's text, when found
};

Search Find(const std::string& file, const std::string& section, const std::string& key) {
    Search search;
    search.position = file.size();
    bool inSection = false;
    for (const Piece& piece : Pieces(file)) {
        const std::string text = Text(file, piece);
        const std::size_t open = text.find('[');
        if (open != std::string::npos) {
            if (inSection) {
                search.position = piece.start;
                return search;
            }
            const std::size_t close = text.find(']', open + 1);
            inSection =
                (close == std::string::npos ? "" : text.substr(open + 1, close - open - 1)) ==
                section;
            search.sectionFound = inSection;
        } else if (inSection) {
            const std::size_t equals = text.find('=');
            if ((equals == std::string::npos ? "" : text.substr(0, equals)) == key) {
                search.found = true;
                search.position = piece.start;
                search.line = text;
                return search;
            }
        }
    }
    return search;
}

std::string ValueOf(const Search& search) {
    if (!search.found) return "";
    const std::size_t equals = search.line.find('=');
    std::string value = equals == std::string::npos ? search.line : search.line.substr(equals + 1);
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

void ModelWrite(std::string& file, const std::string& section, const std::string& key,
                const std::string& value) {
    const std::string entry = key + "=" + value + "\n";
    if (key.find_first_of("=[\n") != std::string::npos ||
        value.find_first_of("[\n") != std::string::npos ||
        section.find_first_of("]\n") != std::string::npos || entry.size() > 255)
        return;
    const Search search = Find(file, section, key);
    if (search.found) {
        // The whole line goes, but not a later piece of it that is a header.
        std::size_t end = search.position;
        for (const Piece& piece : Pieces(file)) {
            if (piece.start < search.position) continue;
            if (piece.start > search.position && Text(file, piece).find('[') != std::string::npos)
                break;
            end = piece.start + piece.size;
            if (file[end - 1] == '\n') break;
        }
        // The same entry as the last line, only without its line feed, stays.
        if (end == file.size() && entry.compare(0, entry.size() - 1, file, search.position) == 0)
            return;
        file.replace(search.position, end - search.position, entry);
        return;
    }
    std::string text;
    if (search.position > 0 && file[search.position - 1] != '\n') text = "\n";
    if (!search.sectionFound) {
        if (section.size() + 3 > 255) return;
        text += "[" + section + "]\n";
    }
    file.insert(search.position, text + entry);
}

// Names mostly from a small set, so that writes meet what lookups ask for.
std::string Name(FuzzedDataProvider& input) {
    static const char* const kNames[] = {"", "a", "b", "key", "main", " a", "a "};
    if (input.ConsumeBool()) return kNames[input.ConsumeIntegralInRange<int>(0, 6)];
    return input.ConsumeRandomLengthString(12).c_str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const char* split = static_cast<const char*>(std::memchr(bytes, 1, size));
    std::string model(bytes, split != nullptr ? split - bytes : size);
    if (model.size() > 4096) return 0;
    FuzzedDataProvider input(split != nullptr ? data + (split - bytes) + 1 : data + size,
                             split != nullptr ? size - (split - bytes) - 1 : 0);
    std::ofstream(ScratchFile(), std::ios::binary) << model;
    CProfile profile(ScratchFile().c_str());
    for (int calls = 0; calls < 16 && input.remaining_bytes() > 0; ++calls) {
        const std::string section = Name(input);
        const std::string key = Name(input);
        const int op = input.ConsumeIntegralInRange(0, 4);
        if (op <= 1) {  // two choices of five: lookups are the commonest call
            CString value("stale");
            profile.GetProfile(section.c_str(), key.c_str(), value);
            Check(std::string(value.GetBuffer(), value.GetLength()) ==
                      ValueOf(Find(model, section, key)),
                  "GetProfile(string)");
        }
        if (op == 2) {
            const std::string value = input.ConsumeRandomLengthString(40).c_str();
            profile.WriteProfile(section.c_str(), key.c_str(), value.c_str());
            ModelWrite(model, section, key, value);
        }
        if (op == 3) {
            const int value = input.ConsumeIntegral<int>();
            profile.WriteProfile(section.c_str(), key.c_str(), value);
            ModelWrite(model, section, key, std::to_string(value));
        }
        if (op == 4) {
            // Any text where the search leaves the stream, over `replaced` bytes.
            const std::string text = input.ConsumeRandomLengthString(40).c_str();
            const unsigned long replaced = input.ConsumeIntegralInRange(0, 300);
            const Search search = Find(model, section, key);
            Check(profile.FindEntry(section.c_str(), key.c_str()) == search.found, "FindEntry");
            profile.InsertContent(text.c_str(), replaced);
            model.replace(search.position, replaced, text);
        }
        std::ifstream file(ScratchFile(), std::ios::binary);
        Check(std::string(std::istreambuf_iterator<char>(file), {}) == model, "file content");
    }
    profile.CloseFile();
    std::remove(ScratchFile().c_str());
    return 0;
}
