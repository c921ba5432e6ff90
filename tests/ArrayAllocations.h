#ifndef TANDEL_TESTS_ARRAYALLOCATIONS_H
#define TANDEL_TESTS_ARRAYALLOCATIONS_H

#include <cstddef>
#include <vector>

// Records what goes through the array forms of operator new and delete in this
// test executable (the library's blocks included) and can make the next
// allocations fail. Link ArrayAllocations.cpp into a test binary to use it.
namespace ArrayAllocations {

// Starts recording from a clean slate; stops any injected failure.
void Reset();
// Stops recording and any injected failure.
void Stop();
// Sizes of the array allocations since Reset(), in order.
const std::vector<std::size_t>& Sizes();
// Number of array deletions of non-null pointers since Reset().
int Deletions();
// The next `count` array allocations fail: the nothrow form yields null,
// the throwing form throws std::bad_alloc.
void FailNext(int count);
// The next `count` array allocations yield null, in both forms, as an
// allocator that reports exhaustion that way does.
void YieldNullNext(int count);

// Records from construction to destruction.
class Scope {
public:
    Scope() { Reset(); }
    ~Scope() { Stop(); }
    const std::vector<std::size_t>& Sizes() const { return ArrayAllocations::Sizes(); }
    std::size_t Count() const { return Sizes().size(); }
    std::size_t Last() const { return Sizes().empty() ? 0 : Sizes().back(); }
};

}  // namespace ArrayAllocations

#endif  // TANDEL_TESTS_ARRAYALLOCATIONS_H
