#include "testing/FailingAllocation.h"

#include "Simulation.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <unordered_set>

namespace {

struct State {
    bool watching = false;
    std::size_t counted = 0;
    std::size_t failAt = 0;
    std::size_t tracked = 0;  // blocks in liveBlocks(); while 0 the set is never touched
};

State state;

// Allocates with malloc, so that the bookkeeping of the blocks is neither counted nor failed.
template <class T>
struct RawAllocator {
    using value_type = T;
    RawAllocator() = default;
    template <class U>
    RawAllocator(const RawAllocator<U>&)  // NOLINT(google-explicit-constructor): allocators convert
    {
    }
    T* allocate(std::size_t n)
    {
        if (void* memory = std::malloc(n * sizeof(T))) {
            return static_cast<T*>(memory);
        }
        throw std::bad_alloc();
    }
    void deallocate(T* memory, std::size_t) { std::free(memory); }
    friend bool operator==(const RawAllocator&, const RawAllocator&) { return true; }
};

// The blocks allocated under the current watch and not yet freed, their addresses disguised: a
// leak checker must not find the blocks reachable through this set. Made on first use, by a watch:
// an allocation before main never reaches it.
using Disguised = std::uintptr_t;
constexpr Disguised disguise = 0x5a5a5a5a5a5a5a5a & UINTPTR_MAX;

Disguised disguised(const void* memory)
{
    return reinterpret_cast<Disguised>(memory) ^ disguise;
}

std::unordered_set<Disguised, std::hash<Disguised>, std::equal_to<>, RawAllocator<Disguised>>& liveBlocks()
{
    static std::unordered_set<Disguised, std::hash<Disguised>, std::equal_to<>, RawAllocator<Disguised>> blocks;
    return blocks;
}

void forget(void* memory)
{
    if (state.tracked != 0 && memory != nullptr) {
        state.tracked -= liveBlocks().erase(disguised(memory));
    }
}

}  // namespace

namespace qel::testing {

FailingAllocation::FailingAllocation(std::size_t nth)
{
    if (state.tracked != 0) {
        liveBlocks().clear();
    }
    state = State{true, 0, nth, 0};
}

FailingAllocation::~FailingAllocation()
{
    stop();
}

void FailingAllocation::stop()
{
    state.watching = false;
}

void FailingAllocation::resume()
{
    state.watching = true;
}

std::size_t FailingAllocation::counted() const
{
    return state.counted;
}

bool FailingAllocation::failed() const
{
    return state.failAt != 0 && state.counted >= state.failAt;
}

std::size_t FailingAllocation::stillAllocated() const
{
    return state.tracked;
}

void FailingAllocation::forEachStillAllocated(const std::function<void(const void* block)>& visit) const
{
    if (state.tracked == 0) {
        return;
    }
    for (const Disguised block : liveBlocks()) {
        visit(reinterpret_cast<const void*>(block ^ disguise));
    }
}

}  // namespace qel::testing

// Every other form of operator new (arrays, nothrow) comes here in the standard library. Under
// AddressSanitizer, whose runtime has each form of its own, the nothrow form that this file's
// delete frees (std::stable_sort's buffer, for one) must be this file's as well.
void* operator new(std::size_t size)
{
    const bool watched = state.watching && !sim::insideModelCall();
    if (watched && ++state.counted == state.failAt) {
        throw std::bad_alloc();
    }
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    if (watched) {
        try {
            state.tracked += liveBlocks().insert(disguised(memory)).second ? 1 : 0;
        } catch (...) {
            std::free(memory);
            throw;
        }
    }
    return memory;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* memory) noexcept
{
    forget(memory);
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    forget(memory);
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    forget(memory);
    std::free(memory);
}
