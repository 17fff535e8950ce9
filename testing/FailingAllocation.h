// Memory running out inside library code, one allocation at a time.
//
// A test executable that uses FailingAllocation, or the fault sweep, has its operator new replaced
// (the replacement comes with this class: a test that uses neither keeps the standard one). While a
// FailingAllocation is alive and watching, the allocations of the code it watches are counted
// (those the platform model makes inside its calls are not) and the chosen one throws
// std::bad_alloc. Arguments and checks of the test belong outside the watch, so that only the
// library and the action under test are counted:
//
//     for (std::size_t nth = 1;; ++nth) {
//         FailingAllocation memory(nth);
//         const UINT answer = myAction(session);
//         memory.stop();
//         ...check answer...
//         if (!memory.failed()) break;  // the action made fewer than nth allocations
//     }
#pragma once

#include <cstddef>
#include <functional>

namespace qel::testing {

class FailingAllocation {
public:
    // Fails the nth counted allocation (1 = the next); 0 fails none and only counts.
    explicit FailingAllocation(std::size_t nth);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Ends the watch early: what follows is the test's again. resume() takes it up again.
    void stop();
    void resume();
    // Allocations counted so far, the failed one included.
    std::size_t counted() const;
    // Whether the chosen allocation came and failed.
    bool failed() const;
    // How many blocks the watched code allocated under this watch and has not freed (yet): what a
    // leak check looks at once the code has returned. Blocks of an earlier watch are not counted.
    std::size_t stillAllocated() const;
    // Calls `visit` with each of those blocks. Nothing here keeps their addresses where a leak
    // checker would find them, so check for leaks before, not while, visiting.
    void forEachStillAllocated(const std::function<void(const void* block)>& visit) const;
};

}  // namespace qel::testing
