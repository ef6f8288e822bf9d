#include "task_entry_reader.h"

#include "shared_text_block.h"

#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// What both separators share; the two characters after it tell them apart.
constexpr char kCommonStart[] = "My_Separatora";
constexpr qsizetype kCommonLength = 13;
constexpr qsizetype kSeparatorLength = 15;
// Longer texts are seldom repeated, and comparing them would cost more than it saves.
constexpr qsizetype kLongestShared = 24;

template <typename Unit> bool startsWithCommon(const Unit* text)
{
    for (qsizetype i = 0; i < kCommonLength; ++i)
        if (text[i] != Unit(kCommonStart[i]))
            return false;
    return true;
}

template <typename View> bool sameText(View a, View b)
{
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), size_t(a.size()) * sizeof(*a.data())) == 0;
}

} // namespace

template <typename Unit>
BasicTaskEntryReader<Unit>::BasicTaskEntryReader(View stored, SharedTextBlock* block)
    : m_all(stored), m_block(block)
{
    Q_ASSERT(TaskListCodec::kFieldSeparator.startsWith(QLatin1String(kCommonStart)) &&
             TaskListCodec::kTaskSeparator.startsWith(QLatin1String(kCommonStart)) &&
             TaskListCodec::kFieldSeparator.size() == kSeparatorLength &&
             TaskListCodec::kTaskSeparator.size() == kSeparatorLength);
}

template <typename Unit> QString BasicTaskEntryReader<Unit>::textOf(View field) const
{
    if constexpr (std::is_same_v<Unit, char>)
        return m_block ? m_block->text(field) : QString::fromUtf8(field);
    else
        return field.toString();
}

template <typename Unit> qsizetype BasicTaskEntryReader<Unit>::findSeparator(qsizetype from) const
{
    // The underscore is the separators' third character and rare in what users write. Sixteen
    // bytes are looked at in one step: the list's text is read once, at memory speed.
    const auto* text = reinterpret_cast<const Unit*>(m_all.data());
    const qsizetype size = m_all.size();
    const auto isSeparatorAt = [&](qsizetype underscore) {
        return underscore - 2 + kSeparatorLength <= size && startsWithCommon(text + underscore - 2);
    };
    qsizetype at = from + 2;
#ifdef __SSE2__
    constexpr qsizetype perStep = 16 / sizeof(Unit);
    const __m128i underscore = sizeof(Unit) == 1 ? _mm_set1_epi8('_') : _mm_set1_epi16(u'_');
    for (; at + perStep <= size; at += perStep) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        auto mask =
            unsigned(_mm_movemask_epi8(sizeof(Unit) == 1 ? _mm_cmpeq_epi8(units, underscore)
                                                         : _mm_cmpeq_epi16(units, underscore)));
        while (mask) {
            const qsizetype found = at + qsizetype(unsigned(__builtin_ctz(mask)) / sizeof(Unit));
            if (found - 2 + kSeparatorLength > size)
                return -1;
            if (isSeparatorAt(found))
                return found - 2;
            for (size_t bit = 0; bit < sizeof(Unit); ++bit) // one bit per byte of the unit
                mask &= mask - 1;
        }
    }
#endif
    for (; at < size; ++at)
        if (text[at] == Unit('_') && isSeparatorAt(at))
            return at - 2;
    return -1;
}

template <typename Unit> bool BasicTaskEntryReader<Unit>::next()
{
    const QChar fieldEnd[] = {TaskListCodec::kFieldSeparator[13],
                              TaskListCodec::kFieldSeparator[14]};
    const QChar taskEnd[] = {TaskListCodec::kTaskSeparator[13], TaskListCodec::kTaskSeparator[14]};
    const auto* text = reinterpret_cast<const Unit*>(m_all.data());
    const auto is = [&](qsizetype at, const QChar(&end)[2]) {
        return char16_t(text[at]) == end[0].unicode() && char16_t(text[at + 1]) == end[1].unicode();
    };
    while (m_pos < m_all.size()) {
        const qsizetype start = m_pos;
        m_fields.clear();
        qsizetype fieldStart = start;
        qsizetype end = m_all.size();
        for (qsizetype from = start;;) {
            const qsizetype at = findSeparator(from);
            if (at < 0)
                break;
            if (is(at + kCommonLength, fieldEnd)) {
                m_fields.append(m_all.sliced(fieldStart, at - fieldStart));
                fieldStart = from = at + kSeparatorLength;
            } else if (is(at + kCommonLength, taskEnd)) {
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

template <typename Unit> QString BasicTaskEntryReader<Unit>::field(qsizetype i)
{
    const View text = m_fields[i];
    if (text.isEmpty() || i >= TaskListCodec::kFieldCount || text.size() > kLongestShared)
        return textOf(text);
    Column& column = m_columns[size_t(i)];
    if (column.stopped)
        return textOf(text);
    for (const auto& [bytes, known] : column.seen)
        if (sameText(bytes, text)) {
            ++column.hits;
            return known;
        }
    // A column whose texts seldom repeat (dates, notes) is not worth the comparing.
    if (++column.misses > 32 && column.misses > column.hits)
        column.stopped = true;
    QString made = textOf(text);
    if (column.seen.size() < column.seen.capacity())
        column.seen.append({text, made});
    return made;
}

template class BasicTaskEntryReader<char16_t>;
template class BasicTaskEntryReader<char>;

bool isPlainUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* const end = p + bytes.size();
    while (p < end) {
#ifdef __SSE2__
        // Task lists are mostly ASCII: sixteen bytes at a time until a byte that is not.
        while (end - p >= 16 &&
               _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0)
            p += 16;
        if (p == end)
            break;
#endif
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        // The second byte's range rules out overlong forms, surrogates and code points past
        // U+10FFFF (RFC 3629); the byte order mark is refused as well.
        qsizetype length = 0;
        unsigned char low = 0x80, high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf)
            length = 2;
        else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            low = lead == 0xe0 ? 0xa0 : 0x80;
            high = lead == 0xed ? 0x9f : 0xbf;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            low = lead == 0xf0 ? 0x90 : 0x80;
            high = lead == 0xf4 ? 0x8f : 0xbf;
        } else {
            return false;
        }
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (qsizetype i = 2; i < length; ++i)
            if (p[i] < 0x80 || p[i] > 0xbf)
                return false;
        if (length == 3 && lead == 0xef && p[1] == 0xbb && p[2] == 0xbf)
            return false;
        p += length;
    }
    return true;
}
