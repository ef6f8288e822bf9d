#include "task_entry_reader.h"

#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// What both separators share; the two characters after it tell them apart.
const QString kCommonStart = TaskListCodec::kFieldSeparator.left(13);
constexpr qsizetype kSeparatorLength = 15;
// Longer texts are seldom repeated, and comparing them would cost more than it saves.
constexpr qsizetype kLongestShared = 24;

} // namespace

TaskEntryReader::TaskEntryReader(QStringView stored) : m_all(stored)
{
    Q_ASSERT(kCommonStart.indexOf(u'_') == 2 && kCommonStart.lastIndexOf(u'_') == 2 &&
             TaskListCodec::kTaskSeparator.startsWith(kCommonStart) &&
             TaskListCodec::kFieldSeparator.size() == kSeparatorLength &&
             TaskListCodec::kTaskSeparator.size() == kSeparatorLength);
}

qsizetype TaskEntryReader::findSeparator(qsizetype from) const
{
    // The underscore is the separators' third character and rare in what users write. Eight
    // characters are looked at in one step: the list's text is read once, at memory speed.
    const auto* text = reinterpret_cast<const char16_t*>(m_all.data());
    const qsizetype size = m_all.size();
    const auto* common = reinterpret_cast<const char16_t*>(kCommonStart.constData());
    const auto isSeparatorAt = [&](qsizetype underscore) {
        return underscore - 2 + kSeparatorLength <= size &&
               std::memcmp(text + underscore - 2, common, 13 * sizeof(char16_t)) == 0;
    };
    qsizetype at = from + 2;
#ifdef __SSE2__
    const __m128i underscore = _mm_set1_epi16(u'_');
    for (; at + 8 <= size; at += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        auto mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(chars, underscore)));
        while (mask) {
            const qsizetype found = at + (__builtin_ctz(mask) >> 1);
            if (found - 2 + kSeparatorLength > size)
                return -1;
            if (isSeparatorAt(found))
                return found - 2;
            mask &= mask - 1; // each character sets two bits
            mask &= mask - 1;
        }
    }
#endif
    for (; at < size; ++at)
        if (text[at] == u'_' && isSeparatorAt(at))
            return at - 2;
    return -1;
}

bool TaskEntryReader::next()
{
    const QStringView fieldEnd = QStringView(TaskListCodec::kFieldSeparator).sliced(13);
    const QStringView taskEnd = QStringView(TaskListCodec::kTaskSeparator).sliced(13);
    while (m_pos < m_all.size()) {
        const qsizetype start = m_pos;
        m_fields.clear();
        qsizetype fieldStart = start;
        qsizetype end = m_all.size();
        for (qsizetype from = start;;) {
            const qsizetype at = findSeparator(from);
            if (at < 0)
                break;
            const QStringView kind(m_all.data() + at + 13, 2);
            if (kind[0] == fieldEnd[0] && kind[1] == fieldEnd[1]) {
                m_fields.append(m_all.sliced(fieldStart, at - fieldStart));
                fieldStart = from = at + kSeparatorLength;
            } else if (kind[0] == taskEnd[0] && kind[1] == taskEnd[1]) {
                end = at;
                break;
            } else {
                from = at + 1;
            }
        }
        m_pos = end + kSeparatorLength;
        if (end > start) {
            m_fields.append(m_all.sliced(fieldStart, end - fieldStart));
            m_entry = m_all.sliced(start, end - start);
            return true;
        }
    }
    m_fields.clear();
    m_entry = {};
    return false;
}

QString TaskEntryReader::field(qsizetype i)
{
    const QStringView text = m_fields[i];
    if (text.isEmpty() || i >= TaskListCodec::kFieldCount || text.size() > kLongestShared)
        return text.toString();
    Column& column = m_columns[size_t(i)];
    if (column.stopped)
        return text.toString();
    for (const QString& known : column.seen)
        if (known == text) {
            ++column.hits;
            return known;
        }
    // A column whose texts seldom repeat (dates, notes) is not worth the comparing.
    if (++column.misses > 32 && column.misses > column.hits)
        column.stopped = true;
    QString made = text.toString();
    if (column.seen.size() < column.seen.capacity())
        column.seen.append(made);
    return made;
}
