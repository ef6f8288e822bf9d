#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class SharedTextBlock;

// A task list is stored as one entry per task: six fields joined by the field separator, each
// entry closed by the task separator. Nothing is escaped, so no field may contain either.
namespace TaskListCodec {

inline const QString kFieldSeparator = QStringLiteral("My_Separatora12");
inline const QString kTaskSeparator = QStringLiteral("My_Separatora08");
constexpr int kFieldCount = 6;
// Row indexes were signed 16-bit numbers: no list holds more.
constexpr int kMaxTasks = 32767;

using Fields = std::array<QString, kFieldCount>;

// The key of a category's deleted list.
inline QString deletedKey(const QString& categoryKey)
{
    return categoryKey + QStringLiteral("Del");
}

// The stored fields of every non-empty entry, as many as the entry has (possibly fewer or
// more than six).
QList<QStringList> decode(const QString& value);
// The same for a list that is shown: only the first six fields are copied, the others counted.
struct Entry
{
    Fields fields;
    qsizetype fieldCount = 0;
    QStringView stored; // the entry as stored, in the decoded text
};
QList<Entry> decodeEntries(QStringView value);
// The same entries straight from the store's UTF-8 bytes, with no UTF-16 copy of the whole list
// in between, each handed to `take` as it is found; `stored` is left empty, as a list that fits
// on screen never needs it. False, after handing over some or none, when that would not give
// the same fields (the bytes are not plain UTF-8, see isPlainUtf8, or hold more entries than a
// list shows) or when `take` refuses an entry. The text is to be decoded then.
bool forEachShownEntryInUtf8(QByteArrayView utf8, const std::function<bool(Entry&)>& take);
// The same for bytes handed over piece by piece as they are read, cut anywhere: a list of
// megabytes is then never in memory whole. Each call false once forEachShownEntryInUtf8 would
// have given up on the bytes so far, or on all of them at finish().
class ShownEntriesInPieces
{
public:
    explicit ShownEntriesInPieces(std::function<bool(Entry&)> take);
    ~ShownEntriesInPieces();
    // The bytes to come in all, when known before the first piece: the fields, all kept, are
    // then decoded into one block (SharedTextBlock) instead of one allocation each.
    void expectBytes(qsizetype size);
    bool add(QByteArrayView piece);
    bool finish();

private:
    std::function<bool(Entry&)> m_take;
    std::unique_ptr<SharedTextBlock> m_block;
    QByteArray m_rest; // the start of an entry whose end has not come yet
    qsizetype m_count = 0;
    bool m_failed = false;
};
// All of them in a list, their fields decoded into one block; nothing where
// forEachShownEntryInUtf8 gives up.
std::optional<QList<Entry>> decodeShownEntriesFromUtf8(QByteArrayView utf8);
void appendEntry(QString& out, const Fields& fields);
// The length of the entry as stored, and writing it into room made for it beforehand: a whole
// list is written into one text sized once, with no growing and no checks per field.
qsizetype entrySize(const Fields& fields);
QChar* writeEntry(QChar* out, const Fields& fields);

// Whether a field text would split into extra fields or tasks when read back.
bool containsSeparator(const QString& text);

} // namespace TaskListCodec

// "List1Cols"/"List2Cols": each column's width in twips followed by the field separator.
namespace ColumnWidthsCodec {

QString encode(const QList<double>& twips);
// The pieces in column order; empty pieces mean "leave that column alone".
QStringList split(const QString& value);

} // namespace ColumnWidthsCodec

// "Task Types": each type followed by ";". Read back with empty pieces skipped.
namespace TaskTypesCodec {

inline const QString kKey = QStringLiteral("Task Types");
inline const QString kDefaultText = QStringLiteral("General;Idea;Personal;Work");

QStringList decode(const QString& value);
QString encode(const QStringList& types);

} // namespace TaskTypesCodec
