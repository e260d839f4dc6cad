// Memory for the large arrays of a loaded registry, backed by huge pages
// where the system allows. On a virtual machine every page fault is dear,
// and a registry of many megabytes would otherwise take thousands of them.
#ifndef UNINST_POSIX_HUGE_PAGES_H
#define UNINST_POSIX_HUGE_PAGES_H

#include <stddef.h>
#include <stdint.h>
#include <sys/mman.h>

#include <new>
#include <utility>

namespace standin {

// Allocates whole huge pages, aligned, so that none of the array is left on
// small pages at its edges; small arrays come from the ordinary heap.
template <typename T> struct HugePageAllocator {
    typedef T value_type;
    static constexpr size_t huge_page = size_t(2) << 20;

    HugePageAllocator() = default;
    template <typename U> HugePageAllocator(const HugePageAllocator<U> &) {}

    static size_t mapped_size(size_t count) {
        return (count * sizeof(T) + huge_page - 1) & ~(huge_page - 1);
    }

    // Elements are left uninitialised when made without a value: the memory
    // is about to be overwritten (and mapped memory starts zeroed anyway).
    template <typename U> void construct(U *place) { ::new (static_cast<void *>(place)) U; }
    template <typename U, typename... Args> void construct(U *place, Args &&...args) {
        ::new (static_cast<void *>(place)) U(std::forward<Args>(args)...);
    }

    T *allocate(size_t count) {
        if (count * sizeof(T) < huge_page)
            return static_cast<T *>(::operator new(count * sizeof(T)));
        size_t size = mapped_size(count);
        // Mapped with room to spare, then trimmed to an aligned start.
        void *mapped = mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            throw std::bad_alloc();
        uintptr_t start = (uintptr_t(mapped) + huge_page - 1) & ~(huge_page - 1);
        if (start > uintptr_t(mapped))
            munmap(mapped, start - uintptr_t(mapped));
        size_t tail = uintptr_t(mapped) + size + huge_page - (start + size);
        if (tail > 0)
            munmap(reinterpret_cast<void *>(start + size), tail);
        madvise(reinterpret_cast<void *>(start), size, MADV_HUGEPAGE);
        return reinterpret_cast<T *>(start);
    }

    void deallocate(T *data, size_t count) {
        if (count * sizeof(T) < huge_page)
            ::operator delete(data);
        else
            munmap(data, mapped_size(count));
    }

    template <typename U> bool operator==(const HugePageAllocator<U> &) const { return true; }
    template <typename U> bool operator!=(const HugePageAllocator<U> &) const { return false; }
};

} // namespace standin

#endif
