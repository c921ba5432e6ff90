#include "CFileVersion.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(CFileVersionTest, EveryCallHandsOutTheSameVersionText) {
    CFileVersion first;
    CFileVersion second;
    char* a = nullptr;
    char* b = nullptr;
    char* c = nullptr;
    unsigned long size = 12345;
    EXPECT_EQ(first.GetString("FileVersion", &a, &size, 0), 1);
    EXPECT_EQ(second.GetString(nullptr, &b, &size, 99), 1);
    EXPECT_EQ(first.GetString("", &c, nullptr, ~0ul), 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(b, a);
    EXPECT_EQ(c, a);
    EXPECT_STREQ(a, "1.30.0.51");
    EXPECT_EQ(std::strlen(a), 9u);
    EXPECT_EQ(size, 12345u);  // not written
}
