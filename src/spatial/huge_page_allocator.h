// HugePageAllocator: an allocator for the octree's large arrays. Arrays of
// 2 MiB or more are placed on 2 MiB boundaries and offered to the kernel for
// huge pages: the queries' reads scattered over hundreds of megabytes then
// miss the address translation cache far less, and filling them costs one
// page fault per 2 MiB instead of per 4 KiB. Smaller arrays come from the
// ordinary allocator. Growing such a vector
// with resize leaves new elements of trivial types uninitialised (as `new
// T[n]` would), since the build writes every element it makes room for and
// a zero fill would only touch the memory twice.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace lumeno {

// Construction as `new U` does it: default-initialising where std::allocator
// value-initialises, so that growing a vector with resize leaves new elements
// of trivial types unwritten.
struct DefaultInitialising {
    template <class U>
    void construct(U* place) {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

template <class T>
struct HugePageAllocator : DefaultInitialising {
    using value_type = T;
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;

    HugePageAllocator() = default;
    template <class U>
    explicit HugePageAllocator(const HugePageAllocator<U>&) {}

    T* allocate(std::size_t n) {
        if (n > (PTRDIFF_MAX - kHugePage) / sizeof(T)) {
            throw std::bad_alloc();
        }
        std::size_t bytes = n * sizeof(T);
        if (bytes < kHugePage) {
            return static_cast<T*>(::operator new (bytes, std::align_val_t{alignof(T)}));
        }
        std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* memory = std::aligned_alloc(kHugePage, rounded);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        madvise(memory, rounded, MADV_HUGEPAGE);  // only advice: failure changes nothing
        return static_cast<T*>(memory);
    }

    void deallocate(T* memory, std::size_t n) {
        if (n * sizeof(T) < kHugePage) {
            ::operator delete (memory, std::align_val_t{alignof(T)});
        } else {
            std::free(memory);
        }
    }

    template <class U>
    bool operator==(const HugePageAllocator<U>&) const {
        return true;
    }
};

template <class T>
using HugePageVector = std::vector<T, HugePageAllocator<T>>;

}  // namespace lumeno
