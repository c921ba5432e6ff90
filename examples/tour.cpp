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
    std::cout << "character 4: '" << greeting[4] << "', at the length: " << int(greeting[13])
              << ", beyond it: " << int(greeting[14]) << "\n";
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
