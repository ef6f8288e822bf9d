#pragma once

#include "task_list_codec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QUuid>
#include <optional>

struct XXH3_state_s;

class SettingsStore;

// Every task keeps one UID for as long as it lives. The UIDs of a stored list are kept beside
// it, in a table of their own (never inside the list's value, whose bytes other programs and
// older versions read), each with a digest of the entry it belonged to when stored. A list
// that someone else changed in the meantime keeps the UIDs of the entries that are still there.
namespace TaskUids {

// A random (version 4) UUID.
QUuid create();

// The UID of a task from another program's calendar, whose UIDs may be any text: a UUID is
// taken as it is, any other text gives the same name-based UUID every time, so that the same
// file read twice finds its tasks again. An empty text gives a new UID.
QUuid fromCalendarUid(const QString& text);

// The digest of an entry as written by TaskListCodec::writeEntry, from its UTF-16 text
// (the task separator that ends it is left out).
quint64 digestOfEntry(const QChar* entry, qsizetype length);
quint64 digest(const TaskListCodec::Fields& fields);
// The same for an entry read from a stored list: straight from its stored text where that is
// what the six fields write.
quint64 digest(const TaskListCodec::Entry& entry);

// A list's UIDs as stored: for each row its UUID's 16 bytes, then its digest.
struct Stored
{
    QUuid uid;
    quint64 digest = 0;
};
QByteArray encode(const QList<Stored>& rows);
constexpr qsizetype kUidBytes = 16;
constexpr qsizetype kRecordBytes = 24;
// One row's record written at `at`; the position after it.
char* writeRecord(char* at, const Stored& row);
// The digest of the record at `record`.
quint64 digestOfRecord(const char* record);
void setDigestOfRecord(char* record, quint64 digest);
// What an encoded text holds; bytes that make no whole record are ignored.
QList<Stored> decode(QByteArrayView bytes);

// A digest of a list's whole stored text, its UTF-8 bytes, kept after the records. While it
// matches the list as read, the records are the list's own, in order, and no entry needs a
// digest of its own to find its UID. Readers that do not know it find no whole record in it.
class ListDigest
{
public:
    ListDigest();
    ~ListDigest();
    ListDigest(const ListDigest&) = delete;
    ListDigest& operator=(const ListDigest&) = delete;
    void add(QByteArrayView bytes);
    quint64 value() const;

private:
    XXH3_state_s* m_state;
};
quint64 listDigest(QByteArrayView utf8);
void appendListDigest(QByteArray& records, quint64 digest);
// The stored UIDs, in order, when `stored` ends with `digest` and holds `count` of them, none
// missing; nothing otherwise (see match()).
std::optional<QList<QUuid>> ofUnchangedList(QByteArrayView stored, quint64 digest, qsizetype count);

// The UIDs for a list whose entries have `digests`, in order, given what was stored for it.
// A stored UID goes to the first unclaimed entry with the same digest, in stored order;
// entries that match nothing get new UIDs. `changed` tells whether the stored set must be
// written again (anything new, or anything stored that matched nothing).
QList<QUuid> match(QByteArrayView stored, const QList<quint64>& digests, bool* changed = nullptr);

// The UIDs of the stored list under `key`, whose entries have `digests`: those stored for it,
// matched as above. UIDs made here are stored at once, beside the untouched list, so that
// every reader of the store (the window, an export) sees the same ones; when that write fails
// they are still given, and stored with the list's next save.
// `listDigest`, where the caller has it, is kept with them.
QList<QUuid> ofStoredList(SettingsStore& store, const QString& key, const QList<quint64>& digests,
                          std::optional<quint64> listDigest = {});
// Stores what match() gave for the list under `key`, as ofStoredList does.
void storeMatched(SettingsStore& store, const QString& key, const QList<QUuid>& uids,
                  const QList<quint64>& digests, std::optional<quint64> listDigest = {});

} // namespace TaskUids
