#include "CFileVersion.h"

#include "TestSupport.h"

// Every call hands out the one text inside the library; the size is left as it was.
TEST(CFileVersionTest, EveryCallGivesTheSameText) {
    char* first = nullptr;
    char* again = nullptr;
    unsigned long size = 7;
    EXPECT_EQ(CFileVersion().GetString("FileVersion", &first, &size, 0), 1);
    EXPECT_EQ(CFileVersion().GetString(nullptr, &again, nullptr, 1), 1);
    EXPECT_EQ(again, first);
    EXPECT_EQ(size, 7u);
}
