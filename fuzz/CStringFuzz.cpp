// CString operations side by side with a std::string model of each. Lengths stay far below the
// largest block: no allocation is refused, and the model needs no notion of blocks.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CString.h"
#include "FuzzSupport.h"

namespace {

const std::size_t kLengthCap = 8192;

void CheckSame(const CString& s, const std::string& model) {
    Check(s.GetLength() == static_cast<int>(model.size()), "length");
    Check(std::memcmp(s.GetBuffer(), model.c_str(), model.size() + 1) == 0, "characters");
}

// What the string's text-wise operations see: the characters up to the first NUL.
std::string Visible(const std::string& model) {
    return std::string(model.c_str());
}

// Converts every character of `model` with `convert` (toupper, tolower).
void Convert(std::string& model, int (*convert)(int)) {
    for (char& ch : model) ch = static_cast<char>(convert(static_cast<unsigned char>(ch)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    CString strings[2];
    std::string models[2];
    while (input.remaining_bytes() > 0) {
        const int which = input.ConsumeBool();
        CString& s = strings[which];
        std::string& model = models[which];
        CString& other = strings[1 - which];
        const std::string& otherModel = models[1 - which];
        // A text argument ends at its first NUL, as every const char* does.
        const std::string text = input.ConsumeRandomLengthString(64).c_str();
        const char c = input.ConsumeIntegral<char>();
        const int n = input.ConsumeIntegralInRange<int>(-2, 80);
        const int op = input.ConsumeIntegralInRange(0, 24);
        const bool fits = model.size() + text.size() <= kLengthCap;
        // Each operation beside its model. Only operations that change the strings: the queries'
        // cases are the tests', and the choices left (9, 10, 21, 22) keep the corpus's meaning.
        if (op == 0) s = CString(text.c_str()), model = text;
        if (op == 1) s = text.c_str(), model = text;
        if (op == 2) s = other, model = otherModel;
        if (op == 3) s = CString(other), model = otherModel;
        if (op == 4 && fits) s += text.c_str(), model += text;
        if (op == 5 && model.size() + otherModel.size() <= kLengthCap)
            s += other, model += otherModel;
        if (op == 6 && model.size() * 2 <= kLengthCap) s += s, model += model;
        if (op == 7 && fits) s = s + text.c_str(), model += text;
        if (op == 8 && fits) s = text.c_str() + s, model = text + model;
        if (op == 11) s.TrimLeft(c), model.erase(0, model.find_first_not_of(c));
        if (op == 12) s.TrimRight(c), model.erase(model.find_last_not_of(c) + 1);  // npos + 1: all
        if (op == 13) s.Left(n), model.resize(n < 0 ? 0 : std::min<std::size_t>(n, model.size()));
        if (op == 14) s.Mid(n), model.erase(0, n < 0 ? 0 : std::min<std::size_t>(n, model.size()));
        if (op == 15) s.MakeUpper(), Convert(model, std::toupper);
        if (op == 16) s.MakeLower(), Convert(model, std::tolower);
        if (op == 17) s.Empty(), model.clear();
        if (op == 18) s.Format("%d", n * 1000003), model = std::to_string(n * 1000003);
        if (op == 19)
            s.Format("<%s>%s", text.c_str(), Visible(otherModel).c_str()),
                model = "<" + text + ">" + Visible(otherModel);
        if (op == 20) s.Format("%c%c", c, 'z'), model = c == '\0' ? "" : std::string{c, 'z'};
        // A NUL among the characters: text-wise operations stop there, the others go by the length.
        if (op == 23 && n >= 0 && n < static_cast<int>(model.size()))
            s.GetBuffer()[n] = model[n] = '\0';
        if (op == 24 && std::max(model.size(), otherModel.size()) <= kLengthCap / 8) {
            // Arguments, the format or both taken from the string's own characters; among the
            // directives positional ones, or a conversion that vsnprintf prints as it stands.
            static const char* const kPieces[2][4] = {{"%Q", "-", "%%", ""},
                                                      {"%2$s", "%1$.3s", "-", "%%"}};
            const bool positional = input.ConsumeBool();
            std::string format;
            for (int i = 0; i < 4; ++i) {
                format += kPieces[positional][input.ConsumeIntegralInRange(0, 3)];
                if (!positional && i == 1) format += "%s";
                if (!positional && i == 2) format += "%.4s";
            }
            if (positional) format += "%1$.0s%2$.0s";  // both arguments are used
            const bool ownFormat = input.ConsumeBool();
            if (ownFormat) s = format.c_str(), model = format;
            const bool ownArguments = !ownFormat || input.ConsumeBool();
            const CString& from = ownArguments ? s : other;
            const std::string& fromModel = ownArguments ? model : otherModel;
            const std::size_t first = std::min<std::size_t>(n < 0 ? 0 : n, fromModel.size());
            const std::size_t second = static_cast<unsigned char>(c) % (fromModel.size() + 1);
            char expected[kLengthCap];
            std::snprintf(expected, sizeof expected, format.c_str(), fromModel.c_str() + first,
                          fromModel.c_str() + second);
            s.Format(ownFormat ? s.GetBuffer() : format.c_str(), from.GetBuffer() + first,
                     from.GetBuffer() + second);
            model = expected;
        }
        CheckSame(s, model);
        CheckSame(other, otherModel);
    }
    return 0;
}
