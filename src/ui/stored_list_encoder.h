#pragma once

#include "task_list_model.h"

#include <QByteArray>

// A task list as the store keeps it: its UTF-8 text and its UIDs, written straight from the
// rows into buffers kept from one save to the next. A list of 32767 tasks is megabytes; fresh
// memory for it at every save, and a UTF-16 copy on the way, cost more than the writing.
class StoredListEncoder
{
public:
    // `beyond` is what the store held past the list's limit; it is kept after the rows.
    void encode(const QList<TaskRow>& rows, QStringView beyond);
    // Until the next encode(); copies share the buffers rather than copy them.
    const QByteArray& utf8() const { return m_utf8; }
    const QByteArray& uids() const { return m_uids; }

private:
    static char* put(char* out, QStringView text);

    QByteArray m_utf8;
    QByteArray m_uids;
};
