// Memory running out inside library code, one allocation at a time.
//
// An executable that links FailingAllocation.cpp has its operator new replaced. While a
// FailingAllocation is alive, the allocations of the code it watches are counted (those the
// platform model makes inside its calls are not) and the chosen one throws std::bad_alloc.
// Arguments and checks of the test belong outside its lifetime, so only the library is counted.
#pragma once

#include <cstddef>

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
};
