#include "ArrayAllocations.h"

#include <cstdlib>
#include <new>

namespace {

// Recording itself must not allocate through new[]; the vector's storage
// comes from operator new (the single-object form), which is not replaced.
std::vector<std::size_t>& SizesStorage() {
    static std::vector<std::size_t>* sizes = new std::vector<std::size_t>();
    return *sizes;
}
bool g_recording = false;
int g_deletions = 0;
int g_failures = 0;
bool g_yieldNull = false;

void* Allocate(std::size_t size) {
    if (g_failures > 0) {
        --g_failures;
        return nullptr;
    }
    if (g_recording) {
        g_recording = false;  // the vector may reallocate
        SizesStorage().push_back(size);
        g_recording = true;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void Free(void* block) {
    if (block == nullptr) return;
    if (g_recording) ++g_deletions;
    std::free(block);
}

}  // namespace

namespace ArrayAllocations {

void Reset() {
    g_recording = false;
    SizesStorage().clear();
    SizesStorage().reserve(64);
    g_deletions = 0;
    g_failures = 0;
    g_recording = true;
}

void Stop() {
    g_recording = false;
    g_failures = 0;
}

const std::vector<std::size_t>& Sizes() { return SizesStorage(); }

int Deletions() { return g_deletions; }

void FailNext(int count) {
    g_failures = count;
    g_yieldNull = false;
}

void YieldNullNext(int count) {
    g_failures = count;
    g_yieldNull = true;
}

}  // namespace ArrayAllocations

// Yielding null here breaks the language's promise on purpose: it stands for
// an allocator that reports exhaustion that way.
__attribute__((no_sanitize("returns-nonnull-attribute"))) void* operator new[](std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr && !g_yieldNull) throw std::bad_alloc();
    return block;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }

void operator delete[](void* block) noexcept { Free(block); }

void operator delete[](void* block, std::size_t) noexcept { Free(block); }

void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
