// GetLocalIP against scripted host names and lookups: this executable defines
// gethostname and gethostbyname itself, so the library's calls land here.
#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "CSocket.h"

namespace {

enum class HostName { Given, Unterminated, Fails };

HostName g_hostName;
const char* g_givenName;
hostent* g_answer;
int g_lookups;
std::string g_lookedUp;

}  // namespace

extern "C" int gethostname(char* name, size_t length) noexcept {
    switch (g_hostName) {
    case HostName::Given:
        std::strncpy(name, g_givenName, length);
        return 0;
    case HostName::Unterminated:  // what POSIX allows for a truncated name
        std::memset(name, 'a', length);
        return 0;
    case HostName::Fails:
        break;
    }
    errno = ENAMETOOLONG;
    return -1;
}

extern "C" hostent* gethostbyname(const char* name) {
    ++g_lookups;
    g_lookedUp = name;
    return g_answer;
}

class CSocketHostNameTest : public testing::Test {
protected:
    void SetUp() override {
        g_hostName = HostName::Given;
        g_givenName = "myhost";
        g_lookups = 0;
        inet_pton(AF_INET, "10.1.2.3", &first_);
        inet_pton(AF_INET, "10.9.9.9", &second_);
        entry_.h_name = const_cast<char*>("myhost");
        entry_.h_aliases = noAliases_;
        entry_.h_addrtype = AF_INET;
        entry_.h_length = sizeof(in_addr);
        entry_.h_addr_list = addresses_;
        g_answer = &entry_;
    }

    std::string LocalIP() { return CSocket().GetLocalIP(); }

    in_addr first_, second_;
    char* noAliases_[1] = {nullptr};
    char* addresses_[3] = {reinterpret_cast<char*>(&first_), reinterpret_cast<char*>(&second_), nullptr};
    hostent entry_;
};

TEST_F(CSocketHostNameTest, ResolvedNameGivesItsFirstIPv4Address) {
    EXPECT_EQ(LocalIP(), "10.1.2.3");
    EXPECT_EQ(g_lookedUp, "myhost");
}

TEST_F(CSocketHostNameTest, NameWithoutAnIPv4AddressGivesTheLocalRecord) {
    g_answer = nullptr;
    EXPECT_EQ(LocalIP(), "0.0.0.0");
    g_answer = &entry_;
    entry_.h_addrtype = AF_INET6;
    EXPECT_EQ(LocalIP(), "0.0.0.0");
    entry_.h_addrtype = AF_INET;
    addresses_[0] = nullptr;
    EXPECT_EQ(LocalIP(), "0.0.0.0");
    EXPECT_EQ(g_lookups, 3);
}

TEST_F(CSocketHostNameTest, UnterminatedNameIsCutAtTheBuffersEnd) {
    g_hostName = HostName::Unterminated;
    EXPECT_EQ(LocalIP(), "10.1.2.3");
    EXPECT_EQ(g_lookedUp, std::string(127, 'a'));
}

TEST_F(CSocketHostNameTest, FailedHostNameIsNotLookedUp) {
    g_hostName = HostName::Fails;
    EXPECT_EQ(LocalIP(), "0.0.0.0");
    EXPECT_EQ(g_lookups, 0);
}
