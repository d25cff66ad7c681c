#include "core/PixelAllocator.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

namespace pictor {

namespace {

constexpr std::size_t HugePage = std::size_t(2) << 20;
// Below this a picture is small enough that calloc serves it well.
constexpr std::size_t MappedFrom = std::size_t(4) << 20;

std::size_t RoundUp(std::size_t bytes) {
    return (bytes + HugePage - 1) & ~(HugePage - 1);
}

} // namespace

void* AllocatePixelBytes(std::size_t bytes) {
    if (bytes < MappedFrom) {
        void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
        if (!block) throw std::bad_alloc();
        return block;
    }
    if (bytes > std::size_t(-1) - 2 * HugePage) throw std::bad_alloc();
    const std::size_t length = RoundUp(bytes);
    // Map one huge page more than needed and trim both ends to a 2 MiB boundary, so that every
    // page of the block can be a huge one.
    void* raw = ::mmap(nullptr, length + HugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + HugePage - 1) & ~std::uintptr_t(HugePage - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    const std::uintptr_t end = start + length + HugePage;
    if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length),
                                         end - (aligned + length));
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void FreePixelBytes(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    if (bytes < MappedFrom)
        std::free(block);
    else
        ::munmap(block, RoundUp(bytes));
}

} // namespace pictor
