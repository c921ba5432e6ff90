// A short tour of tandel: each class in a few lines, printing what it does.
#include <iostream>

#include "CException.h"
#include "CStreamBuf.h"
#include "CString.h"

static void TourStrings() {
    std::cout << "== CString\n";
    CString greeting("Hello");
    greeting += ", ";
    greeting += CString("world");
    std::cout << "built: " << greeting << " (" << greeting.GetLength() << " characters)\n";
    CString twice = greeting + " / " + greeting;
    std::cout << "concatenated: " << twice << "\n";
    const int length = greeting.GetLength();
    std::cout << "character 4: '" << greeting[4] << "', at the length: " << int(greeting[length])
              << ", beyond it: " << int(greeting[length + 1]) << "\n";

    CString line;
    line.Format("%s=%d (%5.1f%%)", "retries", 3, 42.5);
    std::cout << "formatted: " << line << "\n";
    std::cout << "'=' at " << line.FindIndex('=') << ", \"(\" at " << line.FindIndex("(")
              << ", last 'r' at " << line.ReverseFindIndex('r') << "\n";
    CString key(line);
    key.Left(key.FindIndex('='));
    CString value(line);
    value.Mid(value.FindIndex('=') + 1);
    std::cout << "key '" << key << "', value '" << value << "'\n";
    key.MakeUpper();
    std::cout << "upper: " << key << ", equal to \"Retries\" ignoring case: "
              << (key.EqualByNoCase("Retries") ? "yes" : "no") << "\n";
    CString padded("  [main]  ");
    padded.TrimLeft(' ');
    padded.TrimRight(' ');
    std::cout << "trimmed: '" << padded << "'\n";
}

static void TourExceptions() {
    std::cout << "== CStreamBuf and CException\n";
    CStreamBuf buffer;
    buffer.AllocateBuf(65536);
    std::cout << "a buffer of " << buffer.GetLength() << " bytes\n";
    try {
        buffer.AllocateBuf(65537);
    } catch (const CException& e) {
        std::cout << "refused: " << e.m_strMessage << " (still " << buffer.GetLength()
                  << " bytes)\n";
    }
}

int main() {
    TourStrings();
    TourExceptions();
    return 0;
}
