#include "CFileVersion.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(CFileVersionTest, EveryCallHandsOutTheSameVersionText) {
    char *a = nullptr, *b = nullptr;
    unsigned long size = 12345;
    EXPECT_EQ(CFileVersion().GetString("FileVersion", &a, &size, 0), 1);
    EXPECT_EQ(CFileVersion().GetString(nullptr, &b, nullptr, 99), 1);
    EXPECT_EQ(b, a);
    EXPECT_STREQ(a, TANDEL_EXPECTED_VERSION);
    EXPECT_EQ(size, 12345u);  // not written
}
