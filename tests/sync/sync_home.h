#pragma once

// A Kestrune home for the sync tests: a store of its own, the real main window on it, synced
// with the test's Radicale; and the foreign client that shares the account.
#include "category_tree.h"
#include "form1.h"
#include "radicale_server.h"
#include "settings_store.h"
#include "sync_controller.h"
#include "task_directory.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

class Home
{
public:
    // `lists`: key -> tasks, each task the six fields joined by '|'.
    // `address`: where the home reaches the server, when not at the server's own.
    Home(const RadicaleServer& server, const QString& tree,
         const QHash<QString, QStringList>& lists = {}, const QString& storePath = {},
         const QUrl& address = {})
    {
        store = std::make_unique<SettingsStore>(
            storePath.isEmpty() ? dir.filePath(QStringLiteral("Kestrune.db")) : storePath);
        if (!tree.isNull())
            store->write(QStringLiteral("Tree Nodes"), tree);
        for (auto list = lists.cbegin(); list != lists.cend(); ++list) {
            QString value;
            for (const QString& task : *list)
                value += task.split(u'|').join(QStringLiteral("My_Separatora12")) +
                         QStringLiteral("My_Separatora08");
            store->write(list.key(), value);
        }
        open(server, address);
    }
    void open(const RadicaleServer& server, const QUrl& address = {})
    {
        window = std::make_unique<Form1>(*store);
        QTest::qWait(1); // the sync at start finds nothing set up
        sync().setAccount(
            {(address.isEmpty() ? server.url() : address).toString(), server.user(), false});
        sync().setPassword(server.password());
    }

    SyncController& sync() const { return *window->syncController(); }

    // One whole sync, after any under way.
    bool syncNow()
    {
        QSignalSpy finished(&sync(), &SyncController::finished);
        while (sync().isRunning())
            if (!finished.wait(60000))
                return false;
        finished.clear();
        sync().syncNow();
        return finished.wait(60000);
    }

    // One whole sync, and those it starts straight after it.
    bool syncUntilSettled()
    {
        QSignalSpy finished(&sync(), &SyncController::finished);
        if (!syncNow())
            return false;
        QElapsedTimer waited;
        waited.start();
        while ((finished.wait(1500) || sync().isRunning()) && waited.elapsed() < 120000) {
        }
        return !sync().isRunning();
    }

    // Every category's path, depth first in sibling order: names, nesting and order.
    QStringList tree() const
    {
        QStringList paths;
        const std::function<void(QTreeWidgetItem*, const QString&)> walk =
            [&](QTreeWidgetItem* node, const QString& parent) {
                const QString path =
                    parent.isEmpty() ? node->text(0) : parent + u'/' + node->text(0);
                paths.append(path);
                for (int i = 0; i < node->childCount(); ++i)
                    walk(node->child(i), path);
            };
        for (int i = 0; i < window->tvFolders->topLevelItemCount(); ++i)
            walk(window->tvFolders->topLevelItem(i), QString());
        return paths;
    }
    QString keyOf(const QString& name) const
    {
        const auto found =
            window->tvFolders->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QString() : CategoryTree::keyOf(found.first());
    }
    QStringList keys() const
    {
        QStringList all;
        for (QTreeWidgetItem* node : window->tvFolders->nodesInOrder())
            all.append(CategoryTree::keyOf(node));
        return all;
    }
    QList<TaskRow> rows(const QString& category, bool deleted = false) const
    {
        const TaskDirectory tasks(*store, *window, keys());
        return tasks.rows(keyOf(category), deleted);
    }
    // The tasks' texts, each with the other fields that are set, "Text|Priority|...".
    QStringList tasks(const QString& category, bool deleted = false) const
    {
        QStringList texts;
        for (const TaskRow& row : rows(category, deleted))
            texts.append(QStringList(row.fields.begin(), row.fields.end()).join(u'|'));
        return texts;
    }
    QStringList texts(const QString& category, bool deleted = false) const
    {
        QStringList texts;
        for (const TaskRow& row : rows(category, deleted))
            texts.append(row.fields[0]);
        return texts;
    }
    QUuid uidOf(const QString& category, const QString& text, bool deleted = false) const
    {
        for (const TaskRow& row : rows(category, deleted))
            if (row.fields[0] == text)
                return row.uid;
        return {};
    }
    // Changes one field of a task through the one way to change a task by its UID.
    void edit(const QString& category, const QString& text, int field, const QString& value)
    {
        TaskDirectory tasks(*store, *window, keys());
        const QUuid uid = uidOf(category, text);
        TaskListCodec::Fields fields = *tasks.fields(uid);
        fields[field] = value;
        tasks.update(uid, fields);
        tasks.save();
    }

    // --- the window's own commands ---
    void show(const QString& category)
    {
        const auto found =
            window->tvFolders->findItems(category, Qt::MatchExactly | Qt::MatchRecursive);
        window->tvFolders->selectNode(found.first());
        window->tvFolders_NodeClick(found.first());
    }
    void selectTask(const QString& category, const QString& text, bool deleted)
    {
        show(category);
        window->TabControl1->setCurrentIndex(deleted ? 1 : 0);
        TaskListView* list = deleted ? window->ListView2 : window->ListView1;
        const QList<TaskRow>& rows = list->tasks()->rows();
        for (int row = 0; row < int(rows.size()); ++row)
            if (rows[row].fields[0] == text)
                list->selectRow(row);
    }
    // "Delete Selected Task" on the active tab, "Restore Selected Task" on the deleted one.
    void moveBetweenLists(const QString& category, const QString& text, bool fromDeleted)
    {
        selectTask(category, text, fromDeleted);
        window->PushButton9_Click();
    }
    // The Delete key, then a saving command.
    void deleteForGood(const QString& category, const QString& text)
    {
        selectTask(category, text, false);
        window->ListView_KeyDelete(window->ListView1);
        window->saveTaskLists();
    }
    // "Move Up", then a saving command.
    void moveUp(const QString& category, const QString& text)
    {
        selectTask(category, text, false);
        window->PushButton5_Click();
        window->saveTaskLists();
    }

    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Form1> window;
};

// The other program: Python's caldav library on the same account (foreign_client.py).
inline QByteArray foreign(const RadicaleServer& server, const QStringList& args)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(FOREIGN_CLIENT), server.url().toString(), server.user(),
                             server.password()} +
                     args);
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qWarning("foreign client %s: %s", qPrintable(args.join(u' ')),
                 python.readAllStandardError().constData());
    return python.readAllStandardOutput();
}
inline QJsonArray foreignTasks(const RadicaleServer& server, const QString& calendar)
{
    return QJsonDocument::fromJson(foreign(server, {QStringLiteral("list"), calendar})).array();
}
inline QStringList foreignSummaries(const RadicaleServer& server, const QString& calendar)
{
    QStringList summaries;
    for (const QJsonValue& task : foreignTasks(server, calendar))
        summaries.append(task[QStringLiteral("summary")].toString());
    return summaries;
}
