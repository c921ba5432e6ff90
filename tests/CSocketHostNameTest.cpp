// GetLocalIP against a scripted host name and lookup: this executable defines
// gethostname and gethostbyname, so the library's calls land here.
#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "CSocket.h"

namespace {

bool g_nameFails;
std::string g_lookedUp;
in_addr g_first{htonl(0x0A010203)}, g_second{htonl(0x0A090909)};
char* g_addresses[] = {reinterpret_cast<char*>(&g_first), reinterpret_cast<char*>(&g_second),
                       nullptr};
hostent g_entry{nullptr, nullptr, AF_INET, sizeof(in_addr), g_addresses};
hostent* g_answer = &g_entry;

}  // namespace

// A name that fills the buffer comes unterminated, as POSIX allows.
extern "C" int gethostname(char* name, size_t length) noexcept {
    if (g_nameFails) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memset(name, 'a', length);
    return 0;
}

extern "C" hostent* gethostbyname(const char* name) {
    g_lookedUp = name;
    return g_answer;
}

TEST(CSocketHostNameTest, FirstIPv4AddressOfTheNameCutAtTheBuffersEnd) {
    EXPECT_STREQ(CSocket().GetLocalIP(), "10.1.2.3");
    EXPECT_EQ(g_lookedUp, std::string(127, 'a'));
}

// Without an IPv4 address for the name: the local record, 0.0.0.0 when unbound.
TEST(CSocketHostNameTest, NoAddressGivesTheLocalRecord) {
    g_entry.h_addrtype = AF_INET6;
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    g_entry.h_addrtype = AF_INET;
    g_addresses[0] = nullptr;
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    g_answer = nullptr;
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    g_nameFails = true;
    g_lookedUp.clear();
    EXPECT_STREQ(CSocket().GetLocalIP(), "0.0.0.0");
    EXPECT_EQ(g_lookedUp, "");  // a failed name is not looked up
}
