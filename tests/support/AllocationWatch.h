#pragma once
// Watches the sizes the program asks operator new for, so that a test can
// show that a huge length from outside was refused rather than allocated.
// The replacement operators live in AllocationWatch.cpp, which a test
// executable lists among its own sources.

#include <cstddef>

namespace vp::test {

class AllocationWatch {
public:
    // Starts watching from zero.
    AllocationWatch();
    // The largest single request since this watch began.
    std::size_t largest() const;
};

} // namespace vp::test
