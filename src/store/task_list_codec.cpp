#include "task_list_codec.h"

#include "numbers.h"
#include "shared_text_block.h"
#include "task_entry_reader.h"

#include <algorithm>
#include <cstring>

namespace TaskListCodec {

QList<QStringList> decode(const QString& value)
{
    QList<QStringList> tasks;
    TaskEntryReader reader(value);
    while (reader.next()) {
        QStringList fields;
        fields.reserve(reader.fieldCount());
        for (qsizetype i = 0; i < reader.fieldCount(); ++i)
            fields.append(reader.field(i));
        tasks.append(std::move(fields));
    }
    return tasks;
}

QList<Entry> decodeEntries(QStringView value)
{
    QList<Entry> entries;
    TaskEntryReader reader(value);
    while (reader.next()) {
        Entry& entry = entries.emplace_back();
        entry.fieldCount = reader.fieldCount();
        entry.stored = reader.stored();
        for (qsizetype i = 0; i < std::min<qsizetype>(entry.fieldCount, kFieldCount); ++i)
            entry.fields[size_t(i)] = reader.field(i);
    }
    return entries;
}

namespace {

// Whole entries from UTF-8 bytes, `count` of them handed over before.
bool takeShownEntries(QByteArrayView utf8, qsizetype& count,
                      const std::function<bool(Entry&)>& take, SharedTextBlock* block = nullptr)
{
    if (!isPlainUtf8(utf8))
        return false;
    Utf8TaskEntryReader reader(utf8, block);
    for (; reader.next(); ++count) {
        if (count == kMaxTasks)
            return false;
        Entry entry;
        entry.fieldCount = reader.fieldCount();
        for (qsizetype i = 0; i < std::min<qsizetype>(entry.fieldCount, kFieldCount); ++i)
            entry.fields[size_t(i)] = reader.field(i);
        if (!take(entry))
            return false;
    }
    return true;
}

} // namespace

bool forEachShownEntryInUtf8(QByteArrayView utf8, const std::function<bool(Entry&)>& take)
{
    qsizetype count = 0;
    return takeShownEntries(utf8, count, take);
}

ShownEntriesInPieces::ShownEntriesInPieces(std::function<bool(Entry&)> take)
    : m_take(std::move(take))
{
}

ShownEntriesInPieces::~ShownEntriesInPieces() = default;

void ShownEntriesInPieces::expectBytes(qsizetype size)
{
    if (!m_block)
        m_block = std::make_unique<SharedTextBlock>(size);
}

bool ShownEntriesInPieces::add(QByteArrayView piece)
{
    if (m_failed)
        return false;
    QByteArrayView bytes = piece;
    if (!m_rest.isEmpty()) {
        // Grown once to a piece and a bit, then used again: the rest is moved to the front of
        // the same memory each time.
        m_rest.reserve(m_rest.size() + piece.size());
        m_rest.append(piece);
        bytes = m_rest;
    }
    // The separators hold an "M" only at their start, so every whole one found here is one the
    // reader finds too: the bytes up to the last are whole entries.
    static const QByteArray taskEnd = kTaskSeparator.toLatin1();
    const qsizetype last = bytes.lastIndexOf(taskEnd);
    const qsizetype whole = last < 0 ? 0 : last + taskEnd.size();
    if (whole > 0 && !takeShownEntries(bytes.first(whole), m_count, m_take, m_block.get())) {
        m_failed = true;
        return false;
    }
    const QByteArrayView rest = bytes.sliced(whole);
    if (m_rest.isEmpty()) {
        m_rest.append(rest);
    } else {
        std::memmove(m_rest.data(), rest.data(), size_t(rest.size()));
        m_rest.resize(rest.size());
    }
    return true;
}

bool ShownEntriesInPieces::finish()
{
    if (m_failed)
        return false;
    m_failed = !takeShownEntries(m_rest, m_count, m_take, m_block.get());
    m_rest.clear();
    return !m_failed;
}

std::optional<QList<Entry>> decodeShownEntriesFromUtf8(QByteArrayView utf8)
{
    QList<Entry> entries;
    SharedTextBlock block(utf8.size());
    qsizetype count = 0;
    if (!takeShownEntries(
            utf8, count,
            [&entries](Entry& entry) {
                entries.append(std::move(entry));
                return true;
            },
            &block))
        return std::nullopt;
    return entries;
}

void appendEntry(QString& out, const Fields& fields)
{
    for (int i = 0; i < kFieldCount; ++i) {
        out += fields[i];
        out += i + 1 < kFieldCount ? kFieldSeparator : kTaskSeparator;
    }
}

qsizetype entrySize(const Fields& fields)
{
    qsizetype size = (kFieldCount - 1) * kFieldSeparator.size() + kTaskSeparator.size();
    for (const QString& field : fields)
        size += field.size();
    return size;
}

QChar* writeEntry(QChar* out, const Fields& fields)
{
    static_assert(kFieldCount > 0);
    const auto put = [&out](const QString& text) {
        std::memcpy(static_cast<void*>(out), text.constData(), size_t(text.size()) * sizeof(QChar));
        out += text.size();
    };
    for (int i = 0; i < kFieldCount; ++i) {
        put(fields[i]);
        put(i + 1 < kFieldCount ? kFieldSeparator : kTaskSeparator);
    }
    return out;
}

bool containsSeparator(const QString& text)
{
    // The two differ in their last two characters only: one search finds where either may
    // stand, and most texts are too short to hold one at all.
    const QStringView common = QStringView(kFieldSeparator).chopped(2);
    Q_ASSERT(kTaskSeparator.startsWith(common));
    return text.size() >= kFieldSeparator.size() && text.contains(common) &&
           (text.contains(kFieldSeparator) || text.contains(kTaskSeparator));
}

} // namespace TaskListCodec

namespace ColumnWidthsCodec {

QString encode(const QList<double>& twips)
{
    QString out;
    for (double width : twips)
        out += Numbers::shortest(width) + TaskListCodec::kFieldSeparator;
    return out;
}

QStringList split(const QString& value)
{
    return value.split(TaskListCodec::kFieldSeparator);
}

} // namespace ColumnWidthsCodec

namespace TaskTypesCodec {

QStringList decode(const QString& value)
{
    return value.split(u';', Qt::SkipEmptyParts);
}

QString encode(const QStringList& types)
{
    QString out;
    for (const QString& type : types)
        out += type + u';';
    return out;
}

} // namespace TaskTypesCodec
