#pragma once
// Allocator for sample buffers. A frame at the highest oversampling is 15.7 MB of complex
// samples, and a fresh buffer of that size costs one page fault per 4 KiB page when first
// written: tens of milliseconds on a virtual machine, more than the signal processing
// itself. Large buffers are therefore aligned to 2 MiB and marked for transparent huge
// pages, which cuts the faults by a factor of 512 where the kernel offers them, and freed
// large buffers are kept for the next frame.

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

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

// Inside this scope, sample vectors of plain numbers made with a size (or grown) leave their
// new elements unwritten instead of zeroing them: for buffers the code fills whole before
// reading, where zeroing 16 MB first would cost a pass over memory and, on fresh memory,
// fault every page in twice as early as needed.
class SkipZeroFill {
public:
    SkipZeroFill() noexcept { ++depth(); }
    ~SkipZeroFill() { --depth(); }
    SkipZeroFill(const SkipZeroFill&) = delete;
    SkipZeroFill& operator=(const SkipZeroFill&) = delete;
    static bool active() noexcept { return depth() > 0; }

private:
    // Read once per element constructed: the initial-exec model makes that one load from
    // the thread pointer instead of a call into the dynamic loader.
    static int& depth() noexcept {
        thread_local int d __attribute__((tls_model("initial-exec"))) = 0;
        return d;
    }
};

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
    // Value-initialisation, skipped under SkipZeroFill for types that need no constructor
    // run (their objects begin with the storage).
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        if constexpr (std::is_trivially_copyable_v<U> && std::is_trivially_destructible_v<U>)
            if (SkipZeroFill::active()) return;
        ::new (static_cast<void*>(p)) U();
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const SampleAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace host
