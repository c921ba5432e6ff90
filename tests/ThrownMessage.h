#ifndef TANDEL_TESTS_THROWNMESSAGE_H
#define TANDEL_TESTS_THROWNMESSAGE_H

#include <string>

#include "CException.h"

// The message of the CException that `call` throws, or "" when none.
template <typename Call>
std::string ThrownMessage(Call call) {
    try {
        call();
    } catch (const CException& e) {
        return e.m_strMessage;
    }
    return "";
}

#endif  // TANDEL_TESTS_THROWNMESSAGE_H
