#include "task_index.h"

#include <algorithm>

namespace {

constexpr QChar kFieldEnd = QChar(0);

// Simple case folding, code point by code point as Qt's case-insensitive search compares, but
// an order of magnitude faster than QString::toCaseFolded() over the text of 65534 tasks.
// Empty when a character would fold to one of another length: the offsets could not be shared.
QString foldedAligned(const QString& text)
{
    QString out(text.size(), Qt::Uninitialized);
    const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = in[i];
        if (c < 0x80) {
            to[i] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(in[i + 1])) {
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, in[i + 1]));
            if (!QChar::requiresSurrogates(folded))
                return {};
            to[i] = QChar::highSurrogate(folded);
            to[i + 1] = QChar::lowSurrogate(folded);
            ++i;
        } else {
            const char32_t folded = QChar::toCaseFolded(char32_t(c));
            if (QChar::requiresSurrogates(folded))
                return {};
            to[i] = char16_t(folded);
        }
    }
    return out;
}

} // namespace

TaskIndex::TaskIndex(const QList<FindCategory>& categories, const QHash<QString, QString>& stored)
{
    m_keys.reserve(categories.size());
    m_paths.reserve(categories.size());
    // Room for everything at once: the stored texts are longer than the fields kept of them.
    qsizetype room = 0;
    qsizetype tasks = 0;
    for (const FindCategory& category : categories) {
        m_keys.push_back(category.key);
        m_paths.push_back(category.path);
        for (int list : {0, 1}) {
            if (category.onScreen[list]) {
                tasks += category.onScreen[list]->size();
                room += category.onScreen[list]->size() * 64;
            } else {
                room +=
                    stored.value(list == 0 ? category.key : TaskListCodec::deletedKey(category.key))
                        .size();
            }
        }
    }
    m_text.reserve(room);
    m_tasks.reserve(tasks + room / 64);
    for (int c = 0; c < int(categories.size()); ++c) {
        const FindCategory& category = categories[c];
        for (int list : {0, 1}) {
            if (category.onScreen[list]) {
                addList(c, list, true, *category.onScreen[list]);
                continue;
            }
            const QString key = list == 0 ? category.key : TaskListCodec::deletedKey(category.key);
            if (std::optional<QList<TaskRow>> rows = readStored(c, list, stored.value(key)))
                addList(c, list, false, std::move(*rows));
        }
    }
    m_start.push_back(m_text.size());
    m_folded = foldedAligned(m_text);
    m_foldedAligned = m_folded.size() == m_text.size();
}

std::optional<QList<TaskRow>> TaskIndex::readStored(int category, int list, const QString& value)
{
    QList<QStringList> entries = TaskListCodec::decode(value);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        // A field that held a separator, or a list written by something else: the fields no
        // longer line up, so any match in them would be a guess.
        if (entries[i].size() != TaskListCodec::kFieldCount) {
            m_skipped.append(
                QStringLiteral("The %1 tasks of \"%2\" are stored in a form that cannot be "
                               "read (task %3 has %4 fields instead of %5); they were not "
                               "searched.")
                    .arg(list == 0 ? QStringLiteral("active") : QStringLiteral("deleted"),
                         m_paths[category])
                    .arg(i + 1)
                    .arg(entries[i].size())
                    .arg(TaskListCodec::kFieldCount));
            return std::nullopt;
        }
    }
    // The main window shows no more than a list can hold, so only those can be gone to.
    const qsizetype count = std::min<qsizetype>(entries.size(), TaskListCodec::kMaxTasks);
    QList<TaskRow> rows;
    rows.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        TaskRow row;
        for (int f = 0; f < TaskListCodec::kFieldCount; ++f)
            row.fields[f] = std::move(entries[i][f]);
        rows.append(std::move(row));
    }
    return rows;
}

void TaskIndex::addList(int category, int list, bool onScreen, QList<TaskRow> rows)
{
    m_lists.push_back({category, list, onScreen, int(m_tasks.size())});
    const int number = int(m_lists.size()) - 1;
    for (int position = 0; position < int(rows.size()); ++position) {
        const TaskRow& row = rows[position];
        m_start.push_back(m_text.size());
        for (int field : {int(TaskCol), int(TypeCol), int(NotesCol)}) {
            m_text += row.fields[field];
            m_text += kFieldEnd;
        }
        m_tasks.push_back({row, number, position});
    }
}

std::vector<int> TaskIndex::find(const FindQuery& query, const std::vector<int>* within) const
{
    std::vector<int> matches;
    if (query.text.isEmpty() || query.text.contains(kFieldEnd))
        return matches;
    QString needle = query.text;
    bool folded = false;
    if (!query.matchCase && m_foldedAligned) {
        QString foldedNeedle = foldedAligned(query.text);
        folded = foldedNeedle.size() == query.text.size();
        if (folded)
            needle = std::move(foldedNeedle);
    }
    const QStringView text(folded ? m_folded : m_text);
    const Qt::CaseSensitivity sensitivity =
        query.matchCase || folded ? Qt::CaseSensitive : Qt::CaseInsensitive;

    if (within) {
        for (int i : *within)
            if ((query.includeDeleted || !isDeleted(i)) &&
                text.sliced(m_start[i], m_start[i + 1] - m_start[i])
                        .indexOf(needle, 0, sensitivity) >= 0)
                matches.push_back(i);
        return matches;
    }
    for (size_t l = 0; l < m_lists.size(); ++l) {
        if (m_lists[l].list == 1 && !query.includeDeleted)
            continue;
        int i = m_lists[l].firstTask;
        const int end = l + 1 < m_lists.size() ? m_lists[l + 1].firstTask : size();
        // One search over the whole list; a hit names its task, and the search goes on at the
        // next task so that each task is counted once.
        const QStringView list = text.first(m_start[end]);
        qsizetype at = m_start[i];
        while (i < end) {
            at = list.indexOf(needle, at, sensitivity);
            if (at < 0)
                break;
            while (m_start[i + 1] <= at)
                ++i;
            matches.push_back(i);
            at = m_start[++i];
        }
    }
    return matches;
}

DueDates::Colour TaskIndex::dueColourOf(int i) const
{
    // Only the matches in sight are coloured, and a stored row as showing it would colour it.
    const Task& task = m_tasks[i];
    return m_lists[task.list].onScreen ? task.row.dueColour
                                       : DueDates::colourFor(task.row.fields[DueDateCol]);
}

FindPlace TaskIndex::placeOf(int i) const
{
    const List& list = m_lists[m_tasks[i].list];
    return {list.category, list.list, m_tasks[i].position};
}

FindHit TaskIndex::hit(int i) const
{
    const Task& task = m_tasks[i];
    const List& list = m_lists[task.list];
    FindHit hit{m_keys[list.category], placeOf(i), list.onScreen, task.row.fields, 0};
    for (int j = list.firstTask; j < i; ++j)
        if (m_tasks[j].row.fields == task.row.fields)
            ++hit.sameBefore;
    return hit;
}

int TaskIndex::stepFrom(const std::vector<int>& matches, const FindPlace& from, bool forward) const
{
    if (matches.empty())
        return -1;
    if (forward) {
        const auto after =
            std::upper_bound(matches.begin(), matches.end(), from,
                             [this](const FindPlace& place, int i) { return place < placeOf(i); });
        return after == matches.end() ? matches.front() : *after;
    }
    const auto notBefore =
        std::lower_bound(matches.begin(), matches.end(), from,
                         [this](int i, const FindPlace& place) { return placeOf(i) < place; });
    return notBefore == matches.begin() ? matches.back() : *(notBefore - 1);
}
