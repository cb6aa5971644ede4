#include "host/sample_allocator.h"

#include <cstdlib>
#include <map>
#include <mutex>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace host {

namespace {

std::size_t roundedSize(std::size_t bytes) { return (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes; }

struct Cache {
    std::mutex mutex;
    std::multimap<std::size_t, void*> blocks;  // rounded size -> block
    std::size_t bytes = 0;
};

// Never destroyed: arrays held by other static objects (the application records) are
// released during static destruction, in an order no destructor here could rely on.
Cache& cache() {
    static Cache* const instance = new Cache;
    return *instance;
}

}  // namespace

void* allocateSamples(std::size_t bytes) {
    if (bytes < kLargeBufferBytes) return ::operator new(bytes);
    const std::size_t rounded = roundedSize(bytes);
    {
        Cache& c = cache();
        std::lock_guard lock(c.mutex);
        auto it = c.blocks.find(rounded);
        if (it != c.blocks.end()) {
            void* p = it->second;
            c.bytes -= rounded;
            c.blocks.erase(it);
            return p;
        }
    }
    void* p = std::aligned_alloc(kHugePageBytes, rounded);
    if (!p) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    ::madvise(p, rounded, MADV_HUGEPAGE);  // advice only: without huge pages nothing changes
#endif
    return p;
}

void releaseSamples(void* p, std::size_t bytes) noexcept {
    if (!p) return;
    if (bytes < kLargeBufferBytes) {
        ::operator delete(p);
        return;
    }
    const std::size_t rounded = roundedSize(bytes);
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    if (c.bytes + rounded <= kSampleCacheBytes) {
        try {
            c.blocks.emplace(rounded, p);
            c.bytes += rounded;
            return;
        } catch (...) {
            // No room to remember it: give it back instead.
        }
    }
    std::free(p);
}

void trimSampleCache() noexcept {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    for (auto& [size, p] : c.blocks) std::free(p);
    c.blocks.clear();
    c.bytes = 0;
}

}  // namespace host
