#pragma once

#include "task_list_model.h"

#include <QByteArray>
#include <optional>
#include <vector>

// A task list as the store keeps it: its UTF-8 text and its UIDs, written straight from the
// rows into buffers kept from one save to the next. A list of 32767 tasks is megabytes; fresh
// memory for it at every save, and a UTF-16 copy on the way, cost more than the writing.
// Each row's digest is taken from the last encoding where the row's text is the same, so a save
// after one change digests that one row, not the list.
class StoredListEncoder
{
public:
    // `beyond` is what the store held past the list's limit; it is kept after the rows.
    void encode(const QList<TaskRow>& rows, QStringView beyond);
    // Until the next encode(); copies share the buffers rather than copy them.
    const QByteArray& utf8() const { return m_utf8; }
    const QByteArray& uids() const { return m_uids; }

private:
    // `lossless` is cleared where the text holds a surrogate: a lone one is written as "?", so
    // the same bytes could stand for another text.
    static char* put(char* out, QStringView text, bool& lossless);
    // The digest the last encoding gave the row with `record`'s UID, near `expected` in it, if
    // that row's entry had the bytes [entry, entry + length); `expected` moves past it.
    std::optional<quint64> earlierDigest(const char* record, const char* entry, qsizetype length,
                                         qsizetype& expected) const;

    struct Entry
    {
        qsizetype end = 0; // where the row's entry ends in the text
        bool lossless = true;
    };
    QByteArray m_utf8;
    QByteArray m_uids;
    std::vector<Entry> m_ends;
    // The encoding before, read for its digests; its buffers are written next time.
    QByteArray m_earlierUtf8;
    QByteArray m_earlierUids;
    std::vector<Entry> m_earlierEnds;
};
