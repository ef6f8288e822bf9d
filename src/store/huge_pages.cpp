#include "huge_pages.h"

#include <sys/mman.h>

namespace HugePages {

void advise(void* start, qsizetype bytes)
{
    if (bytes < kWorthAsking)
        return;
    constexpr quintptr kPage = 4096;
    const quintptr from = reinterpret_cast<quintptr>(start) & ~(kPage - 1);
    const quintptr to = reinterpret_cast<quintptr>(start) + quintptr(bytes);
    madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE); // only advice: may fail
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
