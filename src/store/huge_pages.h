#pragma once

#include <QList>
#include <QtGlobal>

// Megabytes the program fills at once are asked for in 2 MiB pages where the system gives them
// on request: on machines where a fault of fresh memory is dear, thousands of 4 KiB faults cost
// more than the work that fills them. Smaller ranges are left alone.
namespace HugePages {

constexpr qsizetype kSize = qsizetype(2) << 20;
constexpr qsizetype kWorthAsking = qsizetype(4) << 20;

// The pages from the one `start` is in to the end of the allocation it is in, as malloc gave it,
// when they are worth asking; when that is a mapping of its own, its pages are also left out of
// forked children, which only ever start another program.
void adviseToEnd(void* start, void* allocation);

// The first 2 MiB boundary at or after `at`: a page written before the advice keeps its whole
// 2 MiB stretch in small pages, and malloc writes its header before the program can ask.
template <typename T> T* firstBoundaryAfter(T* at)
{
    constexpr quintptr kMask = quintptr(kSize) - 1;
    const auto address = reinterpret_cast<quintptr>(at);
    return at + (((address + kMask) & ~kMask) - address + sizeof(T) - 1) / sizeof(T);
}

// At least `count` elements of `elementSize` bytes, rounded up to where an array of them, with
// the allocator's and the container's headers before it (`headerBytes`), takes whole 2 MiB
// pages. The system places an allocation of whole huge pages at a huge-page boundary (Linux 6.7
// on), so that all of it can be huge pages; otherwise the stretches at either end are small
// pages. Counts too small to be worth asking stay as they are.
qsizetype wholePagesOf(qsizetype count, qsizetype elementSize, qsizetype headerBytes = 32);

// An empty list with room for `count` elements, which are megabytes: the list's first element
// sits at a 2 MiB boundary, after room the allocator and the list write their headers into,
// and its pages are advised. A page written before the advice keeps its whole 2 MiB stretch in
// small pages. Smaller lists are reserved as usual.
template <typename T> QList<T> emptyListWithRoomFor(qsizetype count)
{
    constexpr auto elementSize = qsizetype(sizeof(T));
    QList<T> list;
    if (count * elementSize < kWorthAsking) {
        list.reserve(count);
        return list;
    }
    const qsizetype capacity = wholePagesOf(count + kSize / elementSize + 1, elementSize);
    auto [header, data] = QTypedArrayData<T>::allocate(capacity);
    Q_CHECK_PTR(header);
    T* const first = firstBoundaryAfter(data);
    adviseToEnd(first, header);
    return QList<T>(QArrayDataPointer<T>(header, first, 0));
}

} // namespace HugePages
