#include "huge_pages.h"

#include <malloc.h>
#include <sys/mman.h>

namespace HugePages {

namespace {
constexpr quintptr kPage = 4096;
}

void adviseToEnd(void* start, void* allocation)
{
    const size_t usable = malloc_usable_size(allocation);
    const auto* const own = static_cast<const char*>(allocation) + usable;
    const qsizetype bytes = own - static_cast<const char*>(start);
    if (bytes < kWorthAsking)
        return;
    // glibc gives a large allocation a mapping of its own, whole pages of which all but the
    // chunk's two-word header are usable; a chunk of a heap leaves one word less.
    const bool ownMapping = (usable + 2 * sizeof(size_t)) % kPage == 0;
    const auto begin = reinterpret_cast<quintptr>(start) & ~(kPage - 1);
    const quintptr end = (reinterpret_cast<quintptr>(start) + quintptr(bytes)) & ~(kPage - 1);
    auto* const from = reinterpret_cast<void*>(begin);
    madvise(from, end - begin, MADV_HUGEPAGE); // only advice: may fail
    // Where no session bus is set, the first question to it forks this process to launch one,
    // and the fork makes every page written before it fault again at its next write. The child
    // only starts another program, so it needs none of these pages. Only a mapping of their
    // own: pages of a shared heap would stay out of later children after they were reused.
    if (ownMapping)
        madvise(from, end - begin, MADV_DONTFORK);
}

qsizetype wholePagesOf(qsizetype count, qsizetype elementSize, qsizetype headerBytes)
{
    const qsizetype bytes = count * elementSize + headerBytes;
    if (bytes < kWorthAsking)
        return count;
    const qsizetype pages = (bytes + kSize - 1) / kSize;
    return (pages * kSize - headerBytes) / elementSize;
}

} // namespace HugePages
