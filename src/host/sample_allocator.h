#pragma once
// Allocator for sample buffers. A frame at the highest oversampling is 15.7 MB of complex
// samples, and a fresh buffer of that size costs one page fault per 4 KiB page when first
// written: tens of milliseconds on a virtual machine, more than the signal processing
// itself. Large buffers are therefore aligned to 2 MiB and marked for transparent huge
// pages, which cuts the faults by a factor of 512 where the kernel offers them, and freed
// large buffers are kept for the next frame.

#include <cstddef>
#include <new>

namespace host {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
inline constexpr std::size_t kLargeBufferBytes = std::size_t{512} << 10;
// Freed large buffers kept for reuse, at most this much in all: a frame at the highest
// oversampling needs a handful of 16 MB buffers, and reusing them avoids first-touch page
// faults on every later frame.
inline constexpr std::size_t kSampleCacheBytes = std::size_t{192} << 20;

void* allocateSamples(std::size_t bytes);
void releaseSamples(void* p, std::size_t bytes) noexcept;
// Returns every cached buffer to the system.
void trimSampleCache() noexcept;

template <class T>
struct SampleAllocator {
    using value_type = T;
    SampleAllocator() noexcept = default;
    template <class U>
    SampleAllocator(const SampleAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(allocateSamples(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { releaseSamples(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const SampleAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace host
