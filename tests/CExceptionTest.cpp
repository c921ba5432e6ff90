#include "CException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "CObject.h"

// Both bases public, the virtual destructor from std::exception's side.
static_assert(std::has_virtual_destructor_v<CException>);
static_assert(std::is_base_of_v<CObject, CException> && std::is_base_of_v<std::exception, CException>);
static_assert(std::is_nothrow_constructible_v<CException, const char*>);

TEST(CExceptionTest, MessagesAreExceptionColonOrACopyOfTheText) {
    EXPECT_EQ(CException().m_strMessage, "Exception:");
    EXPECT_EQ(CException(nullptr).m_strMessage, "Exception:");
    char text[] = "Listen error";
    CException e(text);
    std::memset(text, 'x', sizeof text - 1);
    EXPECT_EQ(e.m_strMessage, "Listen error");
    EXPECT_STREQ(e.what(), std::exception().what());  // what() is not the message
    CException converted = "Listen error";
    EXPECT_EQ(converted.m_strMessage, "Listen error");
    const auto messageOf = [](const CException& given) { return given.m_strMessage; };
    EXPECT_EQ(messageOf("Accept error"), "Accept error");
}

TEST(CExceptionTest, CaughtAsStdException) {
    try {
        throw CException("Accept error");
    } catch (std::exception& e) {
        EXPECT_EQ(dynamic_cast<CException&>(e).m_strMessage, "Accept error");
    }
    // The sanitizer build reports the message as leaked unless deleting
    // through the base reaches CException's destructor.
    std::unique_ptr<std::exception> base(new CException("a message long enough for the heap"));
}
