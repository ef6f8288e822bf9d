#include "task_uids.h"

#include "failure.h"
#include "settings_store.h"

#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QVarLengthArray>
#include <QtEndian>
#include <cstring>
#include <xxhash.h>

namespace TaskUids {

QUuid create()
{
    // The global generator is seeded from the system's entropy once; a UUID per read of
    // /dev/urandom would cost a system call for each of 32767 rows of an older list.
    quint32 words[4];
    QRandomGenerator::global()->fillRange(words);
    QByteArray bytes(reinterpret_cast<const char*>(words), kUidBytes);
    bytes[6] = char((bytes[6] & 0x0f) | 0x40); // version 4
    bytes[8] = char((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    return QUuid::fromRfc4122(bytes);
}

QUuid fromCalendarUid(const QString& text)
{
    if (text.isEmpty())
        return create();
    if (const QUuid uuid = QUuid::fromString(text); !uuid.isNull())
        return uuid;
    // Kestrune's own namespace for the UIDs of other programs.
    static const QUuid kNamespace(QStringLiteral("6f1d3c52-8a4e-4b8e-9d0f-2c7a5e9b4d31"));
    return QUuid::createUuidV5(kNamespace, text);
}

namespace {

quint64 digestOfText(const QChar* text, qsizetype length)
{
    // A digest that stays the same across versions of Qt and of this program: it is stored.
    return XXH3_64bits(text, size_t(length) * sizeof(QChar));
}

} // namespace

quint64 digestOfEntry(const QChar* entry, qsizetype length)
{
    return digestOfText(entry, length - TaskListCodec::kTaskSeparator.size());
}

quint64 digest(const TaskListCodec::Fields& fields)
{
    QVarLengthArray<QChar, 1024> entry(TaskListCodec::entrySize(fields));
    TaskListCodec::writeEntry(entry.data(), fields);
    return digestOfEntry(entry.constData(), entry.size());
}

quint64 digest(const TaskListCodec::Entry& entry)
{
    // An entry of six fields is stored just as they are written.
    if (entry.fieldCount == TaskListCodec::kFieldCount && !entry.stored.isNull())
        return digestOfText(entry.stored.data(), entry.stored.size());
    return digest(entry.fields);
}

char* writeRecord(char* at, const Stored& row)
{
    // The RFC 4122 byte order, written in place: a QByteArray per task would cost more than the
    // rest of the record.
    qToBigEndian(row.uid.data1, at);
    qToBigEndian(row.uid.data2, at + 4);
    qToBigEndian(row.uid.data3, at + 6);
    std::memcpy(at + 8, row.uid.data4, 8);
    setDigestOfRecord(at, row.digest);
    return at + kRecordBytes;
}

quint64 digestOfRecord(const char* record)
{
    return qFromLittleEndian<quint64>(record + kUidBytes);
}

void setDigestOfRecord(char* record, quint64 digest)
{
    qToLittleEndian(digest, record + kUidBytes);
}

QByteArray encode(const QList<Stored>& rows)
{
    QByteArray out(rows.size() * kRecordBytes, Qt::Uninitialized);
    char* at = out.data();
    for (const Stored& row : rows)
        at = writeRecord(at, row);
    return out;
}

QList<Stored> decode(QByteArrayView bytes)
{
    QList<Stored> rows;
    rows.reserve(bytes.size() / kRecordBytes);
    for (qsizetype at = 0; at + kRecordBytes <= bytes.size(); at += kRecordBytes) {
        const QByteArrayView record = bytes.sliced(at, kRecordBytes);
        rows.append({QUuid::fromRfc4122(record.first(kUidBytes)), digestOfRecord(record.data())});
    }
    return rows;
}

QList<QUuid> match(QByteArrayView stored, const QList<quint64>& digests, bool* changed)
{
    const QList<Stored> known = decode(stored);
    QList<QUuid> uids;
    uids.reserve(digests.size());
    // The usual case: the list is as we stored it.
    bool same = known.size() == digests.size();
    for (qsizetype i = 0; same && i < known.size(); ++i)
        same = known[i].digest == digests[i] && !known[i].uid.isNull();
    if (same) {
        for (const Stored& row : known)
            uids.append(row.uid);
        if (changed)
            *changed = false;
        return uids;
    }
    // Someone else changed the list: each unchanged entry claims its old UID, the first one
    // stored with its digest first (equal entries keep their order).
    QHash<quint64, QList<qsizetype>> byDigest;
    for (qsizetype i = known.size() - 1; i >= 0; --i)
        if (!known[i].uid.isNull())
            byDigest[known[i].digest].append(i);
    // A table written by someone else may name a UID twice; a task's UID is its own.
    QSet<QUuid> given;
    for (const quint64 d : digests) {
        QUuid uid;
        auto found = byDigest.find(d);
        if (found != byDigest.end() && !found->isEmpty())
            uid = known[found->takeLast()].uid;
        if (uid.isNull() || given.contains(uid))
            uid = create();
        given.insert(uid);
        uids.append(uid);
    }
    if (changed)
        *changed = true;
    return uids;
}

ListDigest::ListDigest() : m_state(XXH3_createState())
{
    XXH3_64bits_reset(m_state);
}

ListDigest::~ListDigest()
{
    XXH3_freeState(m_state);
}

void ListDigest::add(QByteArrayView bytes)
{
    XXH3_64bits_update(m_state, bytes.data(), size_t(bytes.size()));
}

quint64 ListDigest::value() const
{
    return XXH3_64bits_digest(m_state);
}

quint64 listDigest(QByteArrayView utf8)
{
    return XXH3_64bits(utf8.data(), size_t(utf8.size()));
}

void appendListDigest(QByteArray& records, quint64 digest)
{
    char bytes[8];
    qToLittleEndian(digest, bytes);
    records.append(bytes, sizeof bytes);
}

std::optional<QList<QUuid>> ofUnchangedList(QByteArrayView stored, quint64 digest, qsizetype count)
{
    if (stored.size() != count * kRecordBytes + 8 ||
        qFromLittleEndian<quint64>(stored.data() + count * kRecordBytes) != digest)
        return std::nullopt;
    QList<QUuid> uids;
    uids.reserve(count);
    for (qsizetype at = 0; at < count * kRecordBytes; at += kRecordBytes) {
        const QUuid uid = QUuid::fromRfc4122(stored.sliced(at, kUidBytes));
        if (uid.isNull())
            return std::nullopt;
        uids.append(uid);
    }
    return uids;
}

void storeMatched(SettingsStore& store, const QString& key, const QList<QUuid>& uids,
                  const QList<quint64>& digests, std::optional<quint64> listDigest)
{
    QList<Stored> rows;
    rows.reserve(uids.size());
    for (qsizetype i = 0; i < uids.size(); ++i)
        rows.append({uids[i], digests[i]});
    QByteArray records = encode(rows);
    if (listDigest)
        appendListDigest(records, *listDigest);
    try {
        store.apply({{}, {{key, records}}, {}, {}});
    } catch (const StoreFailure&) {
        // A store that cannot be written now loses nothing by it: the rows have their UIDs,
        // and the next save stores them with the list.
    }
}

QList<QUuid> ofStoredList(SettingsStore& store, const QString& key, const QList<quint64>& digests,
                          std::optional<quint64> listDigest)
{
    bool changed = false;
    const QList<QUuid> uids = match(store.readListUids(key), digests, &changed);
    if (changed)
        storeMatched(store, key, uids, digests, listDigest);
    return uids;
}

} // namespace TaskUids
