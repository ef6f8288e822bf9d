#include "sync_digests.h"

#include "sync_tasks_host.h"
#include "task_uids.h"

namespace SyncDigests {

namespace {

void addBytes(TaskUids::ListDigest& digest, QByteArrayView bytes)
{
    // The length first, so that moving bytes from one value to the next changes the digest.
    const qint64 size = bytes.size();
    digest.add(QByteArrayView(reinterpret_cast<const char*>(&size), sizeof size));
    digest.add(bytes);
}

} // namespace

quint64 ofStoredLists(const SettingsStore& store, const QString& categoryKey, bool withUids)
{
    TaskUids::ListDigest digest;
    for (const QString& key : {categoryKey, TaskListCodec::deletedKey(categoryKey)}) {
        if (!store.readUtf8(key, [&](QByteArrayView utf8) { addBytes(digest, utf8); }))
            addBytes(digest, {});
        if (withUids)
            addBytes(digest, store.readListUids(key));
    }
    return digest.value();
}

quint64 ofChanges(const SettingsStore::Changes& changes, const QString& categoryKey, bool withUids)
{
    const auto valueOf = [&](const QString& key) -> QByteArray {
        for (const auto& [k, v] : changes.utf8Values)
            if (k == key)
                return v;
        for (const auto& [k, v] : changes.values)
            if (k == key)
                return v.toUtf8();
        return {};
    };
    const auto uidsOf = [&](const QString& key) -> QByteArray {
        for (const auto& [k, v] : changes.listUids)
            if (k == key)
                return v;
        return {};
    };
    TaskUids::ListDigest digest;
    for (const QString& key : {categoryKey, TaskListCodec::deletedKey(categoryKey)}) {
        addBytes(digest, valueOf(key));
        if (withUids)
            addBytes(digest, uidsOf(key));
    }
    return digest.value();
}

quint64 ofFields(const TaskListCodec::Fields& fields)
{
    return TaskUids::digest(fields);
}

quint64 ofTree(const QList<SyncCategory>& tree)
{
    TaskUids::ListDigest digest;
    for (const SyncCategory& c : tree) {
        for (const QString& text : {c.key, c.name, c.parentKey, QString::number(c.order)})
            addBytes(digest, text.toUtf8());
    }
    return digest.value();
}

} // namespace SyncDigests

FieldMerge mergeFields(const TaskListCodec::Fields& base, const TaskListCodec::Fields& local,
                       const TaskListCodec::Fields& server)
{
    FieldMerge merged{server, false};
    for (std::size_t i = 0; i < base.size(); ++i) {
        const bool localChanged = local[i] != base[i];
        const bool serverChanged = server[i] != base[i];
        if (localChanged && !serverChanged)
            merged.fields[i] = local[i];
        else if (localChanged && serverChanged && local[i] != server[i])
            merged.conflict = true;
    }
    return merged;
}
