#include "TestSupport.h"

TEST(CExceptionTest, MessagesAreExceptionColonOrACopyOfTheText) {
    EXPECT_EQ(CException().m_strMessage, "Exception:");
    EXPECT_EQ(CException(nullptr).m_strMessage, "Exception:");
    char text[] = "Listen error";
    CException e(text);
    std::memset(text, 'x', sizeof text - 1);
    EXPECT_EQ(e.m_strMessage, "Listen error");
    EXPECT_STREQ(e.what(), std::exception().what());  // what() is not the message
    const auto messageOf = [](const CException& given) { return given.m_strMessage; };
    EXPECT_EQ(messageOf("Accept error"), "Accept error");  // converts from a text
}
