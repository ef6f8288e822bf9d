#include "removed_categories.h"

#include "failure.h"
#include "snapshot.h"
#include "task_list_codec.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace RemovedCategories {

bool isListKey(const QString& key)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d+_(Root|Sublist)_\\d+$"));
    return pattern.match(key).hasMatch();
}

QList<RemovedCategory> find(const QHash<QString, QString>& section, const QStringList& treeKeys,
                            const QList<SnapshotFile>& snapshotsNewestFirst)
{
    const QSet<QString> inTree(treeKeys.cbegin(), treeKeys.cend());
    const QString del = TaskListCodec::deletedKey(QString());
    QSet<QString> keys;
    for (auto it = section.cbegin(); it != section.cend(); ++it) {
        QString key = it.key();
        if (key.endsWith(del))
            key.chop(del.size());
        if (isListKey(key) && !inTree.contains(key))
            keys.insert(key);
    }
    QList<RemovedCategory> removed;
    for (const QString& key : keys) {
        RemovedCategory category{key, key, {}, 0, 0};
        category.activeTasks = int(TaskListCodec::decodeEntries(section.value(key)).size());
        category.deletedTasks =
            int(TaskListCodec::decodeEntries(section.value(TaskListCodec::deletedKey(key))).size());
        // Lists left empty say nothing worth bringing back.
        if (category.activeTasks + category.deletedTasks > 0)
            removed.append(category);
    }
    std::sort(removed.begin(), removed.end(),
              [](const RemovedCategory& a, const RemovedCategory& b) { return a.key < b.key; });

    // Names come from the newest snapshot that knows each key; most are found in the first.
    QList<bool> named(removed.size(), false);
    qsizetype unnamed = removed.size();
    for (const SnapshotFile& file : snapshotsNewestFirst) {
        if (unnamed == 0)
            break;
        QList<CategoryTreeCodec::Node> tree;
        try {
            tree = treeOf(SnapshotReader(file.path).value(CategoryTreeCodec::kKey,
                                                          CategoryTreeCodec::kDefaultText));
        } catch (const Failure&) {
            continue; // a damaged snapshot names nothing
        }
        for (qsizetype i = 0; i < removed.size(); ++i) {
            RemovedCategory& category = removed[i];
            if (named[i])
                continue;
            for (const CategoryTreeCodec::Node& node : tree)
                if (node.key == category.key) {
                    named[i] = true;
                    category.name = node.text;
                    category.parentKey = node.parentKey;
                    --unnamed;
                    break;
                }
        }
    }
    return removed;
}

} // namespace RemovedCategories
