#include "CException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "CObject.h"
#include "CTree.h"

// The layout callers compile against: CObject adds no vtable, the other two
// carry theirs, and the exception's two bases are both public.
static_assert(!std::is_polymorphic_v<CObject>);
static_assert(std::is_polymorphic_v<CTree> && std::has_virtual_destructor_v<CTree>);
static_assert(std::is_base_of_v<CObject, CException> && std::is_base_of_v<std::exception, CException>);
static_assert(std::is_nothrow_default_constructible_v<CException>);
static_assert(std::is_nothrow_constructible_v<CException, const char*>);

TEST(CExceptionTest, DefaultMessageIsExceptionColon) {
    EXPECT_EQ(CException().m_strMessage, "Exception:");
}

TEST(CExceptionTest, MessageIsACopyOfTheCallersText) {
    char text[] = "Listen error";
    CException e(text);
    std::memset(text, 'x', sizeof text - 1);
    EXPECT_EQ(e.m_strMessage, "Listen error");
}

TEST(CExceptionTest, CaughtAsEachOfItsBases) {
    try {
        throw CException("Listen error");
    } catch (CException& e) {
        EXPECT_EQ(e.m_strMessage, "Listen error");
    }
    try {
        throw CException("Accept error");
    } catch (std::exception& e) {
        ASSERT_NE(dynamic_cast<CException*>(&e), nullptr);
        EXPECT_EQ(dynamic_cast<CException&>(e).m_strMessage, "Accept error");
    }
    bool caughtAsObject = false;
    try {
        throw CException("SetSockOpt error");
    } catch (CObject&) {
        caughtAsObject = true;
    }
    EXPECT_TRUE(caughtAsObject);
}

TEST(CExceptionTest, WhatIsTheStandardLibrarysNotTheMessage) {
    CException e("Listen error");
    EXPECT_STREQ(e.what(), std::exception().what());
}

TEST(CExceptionTest, DeletedThroughStdExceptionPointer) {
    // The sanitizer build reports the message as leaked if the virtual
    // destructor does not reach CException's.
    std::unique_ptr<std::exception> e(new CException("a message long enough to live on the heap"));
    std::unique_ptr<CTree> tree(new CTree);
}
