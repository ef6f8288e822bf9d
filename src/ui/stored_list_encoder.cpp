#include "stored_list_encoder.h"

#include "task_uids.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Room for `size` bytes, reusing what the buffer already has: nothing is kept of its text.
char* room(QByteArray& buffer, qsizetype size)
{
    if (buffer.isDetached() && buffer.capacity() >= size)
        buffer.resize(size);
    else
        buffer = QByteArray(size, Qt::Uninitialized);
    return buffer.data();
}

} // namespace

char* StoredListEncoder::put(char* out, QStringView text)
{
    // Task lists are mostly ASCII, copied a unit to a byte, eight at a time; UTF-8 conversion takes
    // over from the first unit that is not, which cannot be half of a surrogate pair.
    const char16_t* units = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i high = _mm_set1_epi16(qint16(0xff80));
    for (; i + 8 <= size; i += 8) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(eight, high), _mm_setzero_si128())) !=
            0xffff)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(eight, eight));
    }
#endif
    for (; i < size && units[i] < 0x80; ++i)
        out[i] = char(units[i]);
    if (i == size)
        return out + size;
    // As the whole list's conversion would: a lone surrogate becomes "?".
    const QByteArray rest = text.sliced(i).toUtf8();
    return std::copy(rest.cbegin(), rest.cend(), out + i);
}

void StoredListEncoder::encode(const QList<TaskRow>& rows, QStringView beyond)
{
    const QByteArray separators[] = {TaskListCodec::kFieldSeparator.toLatin1(),
                                     TaskListCodec::kTaskSeparator.toLatin1()};
    // UTF-8 takes at most three bytes for a UTF-16 unit.
    qsizetype most = beyond.size();
    for (const TaskRow& row : rows)
        most += TaskListCodec::entrySize(row.fields);
    char* const start = room(m_utf8, 3 * most);
    char* at = start;
    char* uid = room(m_uids, rows.size() * TaskUids::kRecordBytes + 8);
    for (const TaskRow& row : rows) {
        for (int i = 0; i < TaskListCodec::kFieldCount; ++i) {
            at = put(at, row.fields[size_t(i)]);
            const QByteArray& separator = separators[i + 1 < TaskListCodec::kFieldCount ? 0 : 1];
            at = std::copy(separator.cbegin(), separator.cend(), at);
        }
        uid = TaskUids::writeRecord(uid, {row.uid, TaskUids::digest(row.fields)});
    }
    at = put(at, beyond);
    m_utf8.resize(at - start);
    m_uids.resize(rows.size() * TaskUids::kRecordBytes);
    TaskUids::appendListDigest(m_uids, TaskUids::listDigest(m_utf8));
}
