#include "stored_list_encoder.h"

#include "task_uids.h"

#include <algorithm>
#include <cstring>

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

char* StoredListEncoder::put(char* out, QStringView text, bool& lossless)
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
    const QStringView tail = text.sliced(i);
    if (std::any_of(tail.cbegin(), tail.cend(), [](QChar c) { return c.isSurrogate(); }))
        lossless = false;
    const QByteArray rest = tail.toUtf8();
    return std::copy(rest.cbegin(), rest.cend(), out + i);
}

std::optional<quint64> StoredListEncoder::earlierDigest(const char* record, const char* entry,
                                                        qsizetype length, qsizetype& expected) const
{
    // Where a row was edited, moved by one, removed or added, the rows after it are found at,
    // just after or just before where they were; a list sorted anew is digested afresh.
    const auto count = qsizetype(m_earlierEnds.size());
    for (const qsizetype at : {expected, expected + 1, expected - 1}) {
        if (at < 0 || at >= count)
            continue;
        const char* earlier = m_earlierUids.constData() + at * TaskUids::kRecordBytes;
        if (std::memcmp(earlier, record, TaskUids::kUidBytes) != 0)
            continue;
        expected = at + 1;
        const qsizetype begin = at == 0 ? 0 : m_earlierEnds[size_t(at - 1)].end;
        const Entry& was = m_earlierEnds[size_t(at)];
        if (!was.lossless || was.end - begin != length ||
            std::memcmp(m_earlierUtf8.constData() + begin, entry, size_t(length)) != 0)
            return std::nullopt;
        return TaskUids::digestOfRecord(earlier);
    }
    return std::nullopt;
}

void StoredListEncoder::encode(const QList<TaskRow>& rows, QStringView beyond)
{
    const QByteArray separators[] = {TaskListCodec::kFieldSeparator.toLatin1(),
                                     TaskListCodec::kTaskSeparator.toLatin1()};
    m_utf8.swap(m_earlierUtf8);
    m_uids.swap(m_earlierUids);
    m_ends.swap(m_earlierEnds);
    // UTF-8 takes at most three bytes for a UTF-16 unit.
    qsizetype most = beyond.size();
    for (const TaskRow& row : rows)
        most += TaskListCodec::entrySize(row.fields);
    char* const start = room(m_utf8, 3 * most);
    char* at = start;
    char* uid = room(m_uids, rows.size() * TaskUids::kRecordBytes + 8);
    m_ends.resize(size_t(rows.size()));
    qsizetype expected = 0;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const TaskRow& row = rows[r];
        char* const entry = at;
        bool lossless = true;
        for (int i = 0; i < TaskListCodec::kFieldCount; ++i) {
            at = put(at, row.fields[size_t(i)], lossless);
            const QByteArray& separator = separators[i + 1 < TaskListCodec::kFieldCount ? 0 : 1];
            at = std::copy(separator.cbegin(), separator.cend(), at);
        }
        m_ends[size_t(r)] = {at - start, lossless};
        char* const record = uid;
        uid = TaskUids::writeRecord(uid, {row.uid, 0});
        const std::optional<quint64> earlier = earlierDigest(record, entry, at - entry, expected);
        TaskUids::setDigestOfRecord(record,
                                    earlier && lossless ? *earlier : TaskUids::digest(row.fields));
    }
    bool unused = true;
    at = put(at, beyond, unused);
    m_utf8.resize(at - start);
    m_uids.resize(rows.size() * TaskUids::kRecordBytes);
    TaskUids::appendListDigest(m_uids, TaskUids::listDigest(m_utf8));
}
