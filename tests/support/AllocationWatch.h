#pragma once
// Watches the sizes the program asks operator new for, so that a test can
// show that a huge length from outside was refused rather than allocated, and
// makes large requests fail, so that a test can run a module out of memory.
// The replacement operators live in AllocationWatch.cpp, which a test
// executable lists among its own sources.

#include <cstddef>

namespace vp::test {

class AllocationWatch {
public:
    // Starts watching from zero.
    AllocationWatch();
    // Lets every request succeed again.
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;
    // The largest single request since this watch began.
    std::size_t largest() const;
    // From now on a request of at least bytes fails as an exhausted heap does.
    void failFrom(std::size_t bytes);
};

} // namespace vp::test
