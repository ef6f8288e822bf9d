#pragma once

#include "task_list_codec.h"

class SharedTextBlock;

#include <QByteArrayView>
#include <QVarLengthArray>
#include <type_traits>
#include <utility>

// Walks a stored task list entry by entry in one pass over the text, given as the UTF-16 text
// or as the store's own UTF-8 bytes. Both separators start with the same thirteen characters and
// hold an "M" only at their start, so no two of them can overlap: one search finds every
// boundary, the fields' and the entries' alike. Texts that repeat in a column (priorities, types,
// "Done") share one copy instead of one allocation per task.
template <typename Unit> class BasicTaskEntryReader
{
public:
    using View = std::conditional_t<std::is_same_v<Unit, char>, QByteArrayView, QStringView>;

    // The UTF-8 reader decodes the fields into `block` where one is given.
    explicit BasicTaskEntryReader(View stored, SharedTextBlock* block = nullptr);

    // Moves to the next non-empty entry; false when there is none left.
    bool next();
    // The current entry as stored, without its closing separator.
    View stored() const { return m_entry; }
    qsizetype fieldCount() const { return m_fields.size(); }
    // The UTF-8 bytes must be valid UTF-8 (isPlainUtf8) for the field to be what decoding the
    // whole text and splitting it gives.
    QString field(qsizetype i);

private:
    struct Column
    {
        QVarLengthArray<std::pair<View, QString>, 8> seen;
        int hits = 0;
        int misses = 0;
        bool stopped = false;
    };

    qsizetype findSeparator(qsizetype from) const;
    QString textOf(View field) const;

    View m_all;
    SharedTextBlock* m_block;
    qsizetype m_pos = 0;
    View m_entry;
    QVarLengthArray<View, TaskListCodec::kFieldCount> m_fields;
    std::array<Column, TaskListCodec::kFieldCount> m_columns;
};

using TaskEntryReader = BasicTaskEntryReader<char16_t>;
using Utf8TaskEntryReader = BasicTaskEntryReader<char>;

// Well-formed UTF-8 with no byte order mark anywhere: bytes whose fields, each decoded apart,
// are exactly the pieces of the whole text decoded at once.
bool isPlainUtf8(QByteArrayView bytes);
