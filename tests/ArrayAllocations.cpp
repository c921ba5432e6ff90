#include <cstdlib>
#include <new>

#include "TestSupport.h"

namespace {

// Recording must not allocate through new[]: the vector's storage comes from
// the single-object operator new, which is not replaced.
std::vector<std::size_t>* g_sizes = nullptr;  // recording while not null
int g_deletions = 0;
int g_failures = 0;
bool g_yieldNull = false;

void* Allocate(std::size_t size) {
    if (g_failures > 0) {
        --g_failures;
        return nullptr;
    }
    if (g_sizes != nullptr) g_sizes->push_back(size);
    return std::malloc(size == 0 ? 1 : size);
}

void Free(void* block) {
    if (block != nullptr && g_sizes != nullptr) ++g_deletions;
    std::free(block);
}

}  // namespace

ArrayAllocations::ArrayAllocations() {
    static std::vector<std::size_t> sizes;
    sizes.clear();
    sizes.reserve(64);
    g_sizes = &sizes;
    g_deletions = 0;
}

ArrayAllocations::~ArrayAllocations() {
    g_sizes = nullptr;
    g_failures = 0;
}

const std::vector<std::size_t>& ArrayAllocations::Sizes() const {
    return *g_sizes;
}

int ArrayAllocations::Deletions() const {
    return g_deletions;
}

void ArrayAllocations::FailNext(int count, bool yieldNull) {
    g_failures = count;
    g_yieldNull = yieldNull;
}

// Yielding null here breaks the language's promise on purpose: it stands for
// an allocator that reports exhaustion that way.
__attribute__((no_sanitize("returns-nonnull-attribute"))) void* operator new[](std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr && !g_yieldNull) throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void operator delete[](void* block) noexcept {
    Free(block);
}

void operator delete[](void* block, std::size_t) noexcept {
    Free(block);
}
