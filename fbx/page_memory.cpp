#include "fbx/page_memory.h"

#include <cstdlib>

#include <sys/mman.h>

namespace lumbrix {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
// Below this a mapping of its own costs more than it saves.
constexpr size_t kMapThreshold = size_t(1) << 20;

size_t mappedBytes(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void adviseHugePages(void* p, size_t bytes) {
    if (p == nullptr || bytes < kHugePage) return;
    const auto begin = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) / kHugePage * kHugePage;
    const auto end = (reinterpret_cast<uintptr_t>(p) + bytes) / kHugePage * kHugePage;
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

namespace pagememory {

void* allocate(size_t bytes) {
    if (bytes < kMapThreshold) {
        void* p = std::malloc(bytes == 0 ? 1 : bytes);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }
    if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
    // One huge page more than needed, so the start can be moved to a huge-page
    // boundary; the slack on either side goes back at once.
    const size_t size = mappedBytes(bytes);
    void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) ::munmap(mapped, aligned - start);
    const uintptr_t tail = aligned + size;
    const uintptr_t mappedEnd = start + size + kHugePage;
    if (mappedEnd > tail) ::munmap(reinterpret_cast<void*>(tail), mappedEnd - tail);
    void* p = reinterpret_cast<void*>(aligned);
    ::madvise(p, size, MADV_HUGEPAGE);
    return p;
}

bool freshZeroed(size_t bytes) { return bytes >= kMapThreshold; }

void release(void* p, size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < kMapThreshold) {
        std::free(p);
    } else {
        ::munmap(p, mappedBytes(bytes));
    }
}

}  // namespace pagememory

}  // namespace lumbrix
