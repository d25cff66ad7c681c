#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace pictor {

// Memory for picture bytes. Every block comes zeroed from the system (calloc, or for large
// pictures an anonymous mapping aligned to 2 MiB and offered transparent huge pages), and
// elements are default-initialised, so a new picture costs no zero-filling pass of its own:
// the kernel zeroes pages on first touch, and with huge pages that is several times cheaper
// than touching 4 KiB pages one by one. A 24-megapixel result bitmap is created in a quarter
// of the time, which is most of what the fast pixel loops otherwise wait for.
void* AllocatePixelBytes(std::size_t bytes);
void FreePixelBytes(void* block, std::size_t bytes) noexcept;

template <typename T>
struct TPixelAllocator {
    static_assert(std::is_trivial_v<T>, "picture memory holds plain values");
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using is_always_equal = std::true_type;

    TPixelAllocator() = default;
    template <typename U>
    TPixelAllocator(const TPixelAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocatePixelBytes(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { FreePixelBytes(p, n * sizeof(T)); }

    // Default-initialisation leaves the zeroed memory as it is.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const TPixelAllocator<U>&) const noexcept {
        return true;
    }
};

} // namespace pictor
