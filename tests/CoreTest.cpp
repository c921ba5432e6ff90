// The root classes, the exception and the version query.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "CArchive.h"
#include "CException.h"
#include "CFile.h"
#include "CFileVersion.h"
#include "CObject.h"
#include "CTree.h"

// The empty, non-polymorphic root adds neither a vtable nor a byte to the
// classes built on it; the polymorphic ones have their own virtual destructor,
// so deleting through them reaches the derived one.
static_assert(std::is_empty_v<CObject> && !std::is_polymorphic_v<CObject>);
static_assert(std::is_base_of_v<CObject, CFile> && std::is_base_of_v<CObject, CArchive> &&
              std::is_base_of_v<CObject, CTree> && std::is_base_of_v<CObject, CException>);
static_assert(std::is_base_of_v<std::exception, CException>);
static_assert(std::has_virtual_destructor_v<CException> && std::has_virtual_destructor_v<CTree>);
static_assert(std::is_nothrow_constructible_v<CException, const char*>);

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

TEST(CExceptionTest, CaughtAsCObjectOrStdException) {
    EXPECT_THROW(throw CException("SetSockOpt error"), CObject);
    try {
        throw CException("Accept error");
    } catch (std::exception& e) {
        EXPECT_EQ(dynamic_cast<CException&>(e).m_strMessage, "Accept error");
    }
    // The sanitizer build reports the message as leaked unless deleting
    // through the base reaches CException's destructor.
    std::unique_ptr<std::exception> base(new CException("a message long enough for the heap"));
}

TEST(CFileVersionTest, EveryCallHandsOutTheSameVersionText) {
    char *a = nullptr, *b = nullptr;
    unsigned long size = 12345;
    EXPECT_EQ(CFileVersion().GetString("FileVersion", &a, &size, 0), 1);
    EXPECT_EQ(CFileVersion().GetString(nullptr, &b, nullptr, 99), 1);
    EXPECT_EQ(b, a);
    EXPECT_STREQ(a, TANDEL_EXPECTED_VERSION);
    EXPECT_EQ(size, 12345u);  // not written
}
