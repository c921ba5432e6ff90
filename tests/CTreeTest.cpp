#include "CTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

static_assert(std::has_virtual_destructor_v<CTree> && std::is_base_of_v<CObject, CTree>);

namespace {

int g_destroyed = 0;

struct Leaf : CTree {
    ~Leaf() override { ++g_destroyed; }
};

}  // namespace

TEST(CTreeTest, DeletingThroughCTreeRunsTheDerivedDestructor) {
    std::unique_ptr<CTree> leaf(new Leaf);
    leaf.reset();
    EXPECT_EQ(g_destroyed, 1);
}
