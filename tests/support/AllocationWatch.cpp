#include "support/AllocationWatch.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

std::atomic<std::size_t> g_largest{0};
std::atomic<std::size_t> g_failFrom{std::numeric_limits<std::size_t>::max()};

void note(std::size_t size) {
    std::size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
}

void* allocate(std::size_t size) {
    note(size);
    if (size >= g_failFrom.load(std::memory_order_relaxed)) return nullptr;
    return std::malloc(size ? size : 1);
}

} // namespace

namespace vp::test {

AllocationWatch::AllocationWatch() { g_largest = 0; }

AllocationWatch::~AllocationWatch() { g_failFrom = std::numeric_limits<std::size_t>::max(); }

void AllocationWatch::failFrom(std::size_t bytes) { g_failFrom = bytes; }

std::size_t AllocationWatch::largest() const { return g_largest.load(); }

} // namespace vp::test

void* operator new(std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
