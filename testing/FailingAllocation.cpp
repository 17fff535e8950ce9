#include "testing/FailingAllocation.h"

#include "Simulation.h"

#include <cstdlib>
#include <new>

namespace {

struct State {
    bool watching = false;
    std::size_t counted = 0;
    std::size_t failAt = 0;
};

State state;

}  // namespace

namespace qel::testing {

FailingAllocation::FailingAllocation(std::size_t nth)
{
    state = State{true, 0, nth};
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

}  // namespace qel::testing

// Every other form of operator new (arrays, nothrow) comes here in the standard library. Under
// AddressSanitizer, whose runtime has each form of its own, the nothrow form that this file's
// delete frees (std::stable_sort's buffer, for one) must be this file's as well.
void* operator new(std::size_t size)
{
    if (state.watching && !sim::insideModelCall()) {
        if (++state.counted == state.failAt) {
            throw std::bad_alloc();
        }
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
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
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
