// Snapshots of the store before the commands that change much, the Backups window, and the two
// ways back: a whole snapshot restored, or one category brought back.
#include "auto_backups.h"
#include "backups_dialog.h"
#include "category_tree.h"
#include "category_tree_codec.h"
#include "error_report.h"
#include "failure.h"
#include "form1.h"
#include "prompts.h"
#include "removal_history.h"
#include "snapshot.h"
#include "task_list_codec.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSet>

using namespace CategoryTreeCodec;

namespace {

// No stored value is ever read back as a lone surrogate: it marks an absent key.
const QString kAbsent = QString(QChar(0xDC00));

} // namespace

void Form1::installBackupCommands()
{
    actionBackups = mnuTasks->addAction(QStringLiteral("&Backups..."));
    actionBackups->setObjectName(QStringLiteral("actionBackups"));
    actionBackups->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B));
    addAction(actionBackups);
    connect(actionBackups, &QAction::triggered, this, &Form1::showBackups);
}

AutoBackups& Form1::autoBackups()
{
    if (!m_backups) {
        m_backups = new AutoBackups(m_store.path(), this);
        connect(m_backups, &AutoBackups::failed, this, [this](const QString& description) {
            // Once a run: a full disk would otherwise ask after every command.
            if (m_toldBackupFailure)
                return;
            m_toldBackupFailure = true;
            Prompts::current().message(
                this,
                QStringLiteral("%1\n\nYour tasks are safe in the store and every command goes "
                               "on as before, but no backup of them could be made.")
                    .arg(description),
                applicationTitle(), Prompts::Icon::Exclamation);
        });
    }
    return *m_backups;
}

void Form1::snapshotBefore(SnapshotReason reason)
{
    autoBackups().snapshot(reason);
}

void Form1::snapshotBeforeFirstChangeOfDay()
{
    autoBackups().snapshotFirstOfDay();
}

void Form1::finishBackups()
{
    if (m_backups)
        m_backups->waitUntilIdle();
}

void Form1::showBackups()
{
    Steps step(QStringLiteral("Form1.showBackups"), this);
    // The snapshots asked for a moment ago are listed too.
    finishBackups();
    BackupsDialog dialog(*this, this);
    step(100, [&] { Prompts::current().exec(dialog); });
}

QString Form1::backupsFolder() const
{
    return SnapshotFiles::folderOf(m_store.path());
}

QStringList Form1::categoryKeysNow() const
{
    QStringList keys;
    for (const QTreeWidgetItem* node : tvFolders->nodesInOrder())
        keys.append(CategoryTree::keyOf(node));
    return keys;
}

QHash<QString, QString> Form1::storedValuesNow() const
{
    try {
        return m_store.readSection();
    } catch (const Failure& failure) {
        Prompts::current().message(nullptr, failure.description(), applicationTitle(),
                                   Prompts::Icon::Exclamation);
        return {};
    }
}

QString Form1::treeValueNow() const
{
    QList<Node> nodes;
    for (const QTreeWidgetItem* node : tvFolders->nodesInOrder())
        nodes.append({node->text(0), CategoryTree::keyOf(node), CategoryTree::parentKeyOf(node)});
    return encode(nodes);
}

bool Form1::restoreBackup(const QString& snapshotPath)
{
    const auto refuse = [this](const QString& why) {
        Prompts::current().message(this, why + QStringLiteral("\n\nNothing has been changed."),
                                   applicationTitle(), Prompts::Icon::Exclamation);
        return false;
    };
    try {
        const SettingsStore::Changes contents = SnapshotReader(snapshotPath).contents();
        // The state replaced here is on the disk first, so the restore itself can be taken
        // back; where it cannot be kept, nothing is replaced.
        try {
            autoBackups().snapshotAndWait(SnapshotReason::Restore);
        } catch (const Failure& failure) {
            return refuse(failure.description() +
                          QStringLiteral("\n\nThe backup was not restored: without a backup of "
                                         "the present state, the restore could not be taken "
                                         "back."));
        }
        m_store.replaceAll(contents);
    } catch (const Failure& failure) {
        return refuse(failure.description());
    }
    showStoreAsAtStart();
    return true;
}

void Form1::showStoreAsAtStart()
{
    // What the run removed belongs to the replaced state: Ctrl+Z must not mix it in.
    m_removals = std::make_unique<RemovalHistory>();
    tvFolders->clearNodes();
    ListView1->tasks()->clear();
    ListView2->tasks()->clear();
    m_isLoading = true;
    m_nextCategoryNumber = 1;
    listRoot();
    {
        Steps step(QStringLiteral("Form1.showStoreAsAtStart"), this);
        step(100, [&] {
            const int tab =
                m_store.read(QStringLiteral("TabSel"), QStringLiteral("0")) == QLatin1String("1")
                    ? 1
                    : 0;
            QSignalBlocker quiet(TabControl1);
            TabControl1->setCurrentIndex(tab);
            PushButton9->setText(tab == 1 ? QStringLiteral("Restore Selected Task")
                                          : QStringLiteral("Delete Selected Task"));
            PushButton7->setText(tab == 1 ? QStringLiteral("Restore All Tasks")
                                          : QStringLiteral("Delete All Tasks"));
        });
    }
    m_isLoading = false;
    if (!tvFolders->selectedNode())
        Label1->setText(QStringLiteral("Task(s) for []"));
    updateCommandStates();
}

QString Form1::placeCategory(const QString& parentKey, const QString& oldKey, const QString& name,
                             bool oldListsAreItsOwn)
{
    // The key says its level: it is kept only where it still tells the truth, and only when no
    // category and no stored lists of another have it.
    bool keep = !tvFolders->containsKey(oldKey);
    if (keep) {
        try {
            const int number = numberOf(oldKey);
            const QString fitting =
                parentKey.isEmpty() ? rootKey(number) : subKey(depthOf(parentKey) + 1, number);
            keep = fitting == oldKey;
        } catch (const Failure&) {
            keep = false;
        }
    }
    if (keep && !oldListsAreItsOwn)
        keep = m_store.read(oldKey, kAbsent) == kAbsent &&
               m_store.read(TaskListCodec::deletedKey(oldKey), kAbsent) == kAbsent;
    if (!keep)
        return addCategory(parentKey, name);
    tvFolders->addNode(parentKey, oldKey, name);
    m_nextCategoryNumber = qMin(32767, qMax(m_nextCategoryNumber, numberOf(oldKey) + 1));
    return oldKey;
}

bool Form1::bringBack(const std::function<void(QTreeWidgetItem*& broughtBack)>& work)
{
    QTreeWidgetItem* broughtBack = nullptr;
    try {
        work(broughtBack);
    } catch (const Failure& failure) {
        if (broughtBack)
            tvFolders->removeNode(broughtBack);
        Prompts::current().message(
            this, failure.description() + QStringLiteral("\n\nNothing has been brought back."),
            applicationTitle(), Prompts::Icon::Exclamation);
        return false;
    }
    tvFolders->selectNode(broughtBack);
    tvFolders->scrollToItem(broughtBack);
    showCategory(broughtBack);
    return true;
}

bool Form1::bringBackCategory(const QString& snapshotPath, const QString& categoryKey)
{
    return bringBack([&](QTreeWidgetItem*& broughtBack) {
        SnapshotReader snapshot(snapshotPath);
        // The category and everything under it, in node order: a parent before its children.
        QList<Node> branch;
        QSet<QString> inBranch;
        for (const Node& node : treeOf(snapshot.value(kKey, kDefaultText)))
            if (node.key == categoryKey || inBranch.contains(node.parentKey)) {
                branch.append(node);
                inBranch.insert(node.key);
            }
        if (branch.isEmpty())
            throw Failure(
                QStringLiteral("The backup has no category with the key \"%1\".").arg(categoryKey));
        SettingsStore::Changes changes;
        QHash<QString, QString> keyNow;
        for (const Node& node : branch) {
            const QString parent =
                node.key == categoryKey
                    ? (tvFolders->containsKey(node.parentKey) ? node.parentKey : QString())
                    : keyNow.value(node.parentKey);
            const QString active = snapshot.value(node.key, QString());
            const QString deleted = snapshot.value(TaskListCodec::deletedKey(node.key), QString());
            // Lists still stored under the old key that are the snapshot's own are simply taken
            // up again; any others are kept, and the category goes to a new key.
            const auto sameAs = [this](const QString& key, const QString& value) {
                const QString stored = m_store.read(key, kAbsent);
                return stored == kAbsent || stored == value;
            };
            const bool ownLists =
                sameAs(node.key, active) && sameAs(TaskListCodec::deletedKey(node.key), deleted);
            const QString key = placeCategory(parent, node.key, node.text, ownLists);
            if (!broughtBack)
                broughtBack = tvFolders->nodeByKey(key);
            keyNow.insert(node.key, key);
            for (const auto& [list, value] :
                 {std::pair{node.key, active},
                  std::pair{TaskListCodec::deletedKey(node.key), deleted}}) {
                const QString listNow = key + list.mid(node.key.size());
                changes.values.emplace_back(listNow, value);
                // Under its own key a task keeps its identity; a copy elsewhere gets new ones,
                // as the same tasks may be in today's tree too.
                if (key == node.key)
                    changes.listUids.emplace_back(listNow, snapshot.listUids(list));
            }
        }
        changes.values.emplace_back(kKey, treeValueNow());
        m_store.apply(changes);
    });
}

bool Form1::bringBackRemovedCategory(const RemovedCategory& category)
{
    return bringBack([&](QTreeWidgetItem*& broughtBack) {
        const QString parent =
            tvFolders->containsKey(category.parentKey) ? category.parentKey : QString();
        const QString key = placeCategory(parent, category.key, category.name, true);
        broughtBack = tvFolders->nodeByKey(key);
        SettingsStore::Changes changes;
        if (key != category.key) {
            // Its lists move to the new key; the old ones are left empty, in the same
            // transaction, so the same tasks are not offered again as removed.
            for (const QString& suffix : {QString(), TaskListCodec::deletedKey(QString())}) {
                changes.values.emplace_back(key + suffix,
                                            m_store.read(category.key + suffix, QString()));
                changes.listUids.emplace_back(key + suffix,
                                              m_store.readListUids(category.key + suffix));
                changes.values.emplace_back(category.key + suffix, QString());
                changes.listUids.emplace_back(category.key + suffix, QByteArray());
            }
        }
        changes.values.emplace_back(kKey, treeValueNow());
        m_store.apply(changes);
    });
}
