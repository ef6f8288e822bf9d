#include "task_entry_reader.h"

namespace {

// What both separators share; the two characters after it tell them apart.
const QString kCommonStart = TaskListCodec::kFieldSeparator.left(13);
constexpr qsizetype kSeparatorLength = 15;
// Longer texts are seldom repeated, and comparing them would cost more than it saves.
constexpr qsizetype kLongestShared = 24;

} // namespace

TaskEntryReader::TaskEntryReader(QStringView stored)
    : m_all(stored), m_matcher(kCommonStart, Qt::CaseSensitive)
{
    Q_ASSERT(TaskListCodec::kTaskSeparator.startsWith(kCommonStart) &&
             TaskListCodec::kFieldSeparator.size() == kSeparatorLength &&
             TaskListCodec::kTaskSeparator.size() == kSeparatorLength);
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
            const qsizetype at = m_matcher.indexIn(m_all, from);
            if (at < 0 || at + kSeparatorLength > m_all.size())
                break;
            const QStringView kind = m_all.sliced(at + 13, 2);
            if (kind == fieldEnd) {
                m_fields.append(m_all.sliced(fieldStart, at - fieldStart));
                fieldStart = from = at + kSeparatorLength;
            } else if (kind == taskEnd) {
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
    auto& seen = m_seen[size_t(i)];
    for (const QString& known : seen)
        if (known == text)
            return known;
    QString made = text.toString();
    if (seen.size() < seen.capacity())
        seen.append(made);
    return made;
}
