#include "huge_pages.h"

#include <malloc.h>
#include <sys/mman.h>

namespace HugePages {

void advise(void* start, qsizetype bytes)
{
    if (bytes < kWorthAsking)
        return;
    constexpr quintptr kPage = 4096;
    const auto begin = reinterpret_cast<quintptr>(start) & ~(kPage - 1);
    const quintptr end = (reinterpret_cast<quintptr>(start) + quintptr(bytes)) & ~(kPage - 1);
    auto* const from = reinterpret_cast<void*>(begin);
    madvise(from, end - begin, MADV_HUGEPAGE); // only advice: may fail
    // Where no session bus is set, the first question to it forks this process to launch one,
    // and the fork makes every page written before it fault again at its next write. The child
    // only starts another program, so it gets none of these pages, and they stay as they are
    // here.
    madvise(from, end - begin, MADV_DONTFORK);
}

void adviseToEnd(void* start, void* allocation)
{
    const auto* const own = static_cast<const char*>(allocation) + malloc_usable_size(allocation);
    advise(start, own - static_cast<const char*>(start));
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
