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
        // Operations that change the strings; the queries' cases are the tests', and the choices
        // they left (9, 10, 21, 22) do nothing, so that the corpus keeps its meaning.
        switch (input.ConsumeIntegralInRange(0, 24)) {
            case 0:
                s = CString(text.c_str());
                model = text;
                break;
            case 1:
                s = text.c_str();
                model = text;
                break;
            case 2:
                s = other;
                model = otherModel;
                break;
            case 3:
                s = CString(other);
                model = otherModel;
                break;
            case 4:
                if (model.size() + text.size() > kLengthCap) break;
                s += text.c_str();
                model += text;
                break;
            case 5:
                if (model.size() + otherModel.size() > kLengthCap) break;
                s += other;
                model += otherModel;
                break;
            case 6:
                if (model.size() * 2 > kLengthCap) break;
                s += s;
                model += model;
                break;
            case 7:
                if (model.size() + text.size() > kLengthCap) break;
                s = s + text.c_str();
                model += text;
                break;
            case 8:
                if (model.size() + text.size() > kLengthCap) break;
                s = text.c_str() + s;
                model = text + model;
                break;
            case 11: {
                const std::size_t first = model.find_first_not_of(c);
                model.erase(0, first == std::string::npos ? model.size() : first);
                s.TrimLeft(c);
                break;
            }
            case 12: {
                const std::size_t last = model.find_last_not_of(c);
                model.erase(last == std::string::npos ? 0 : last + 1);
                s.TrimRight(c);
                break;
            }
            case 13:
                s.Left(n);
                model.resize(n < 0 ? 0 : std::min<std::size_t>(n, model.size()));
                break;
            case 14:
                s.Mid(n);
                if (n >= 0) model.erase(0, std::min<std::size_t>(n, model.size()));
                break;
            case 15:
                s.MakeUpper();
                for (char& ch : model)
                    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                break;
            case 16:
                s.MakeLower();
                for (char& ch : model)
                    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                break;
            case 17:
                s.Empty();
                model.clear();
                break;
            case 18:
                s.Format("%d", n * 1000003);
                model = std::to_string(n * 1000003);
                break;
            case 19:
                s.Format("<%s>%s", text.c_str(), Visible(otherModel).c_str());
                model = "<" + text + ">" + Visible(otherModel);
                break;
            case 20:
                s.Format("%c%c", c, 'z');
                model = c == '\0' ? std::string() : std::string{c, 'z'};
                break;
            case 23:
                // A NUL among the characters: text-wise operations stop there,
                // the others go by the length.
                if (n >= 0 && n < static_cast<int>(model.size()))
                    s.GetBuffer()[n] = model[n] = '\0';
                break;
            case 24: {
                // Arguments, the format or both taken from the string's own
                // characters; among the directives positional ones, or a
                // conversion that vsnprintf prints as it stands.
                if (std::max(model.size(), otherModel.size()) > kLengthCap / 8) break;
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
                if (ownFormat) {
                    s = format.c_str();
                    model = format;
                }
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
                break;
            }
        }
        CheckSame(s, model);
        CheckSame(other, otherModel);
    }
    return 0;
}
