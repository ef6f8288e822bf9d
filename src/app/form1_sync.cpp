// Sync with a CalDAV account: the main window's triggers and its question on removing a category.
#include "error_report.h"
#include "form1.h"
#include "prompts.h"
#include "sync_account_link.h"
#include "sync_controller.h"
#include "sync_link.h"
#include "task_directory.h"

#include <QAction>
#include <QMenu>
#include <QShortcut>
#include <QTimer>

namespace {

SyncLink* syncLinkOf(const Form1* window)
{
    return window->findChild<SyncLink*>(QStringLiteral("syncLink"), Qt::FindDirectChildrenOnly);
}

} // namespace

void Form1::installSync()
{
    auto* link = new SyncLink(*this);
    auto* account = new SyncAccountLink(link->controller(), this);
    QAction* openSync = mnuTasks->addAction(QStringLiteral("S&ync..."));
    openSync->setObjectName(QStringLiteral("actionSync"));
    openSync->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    addAction(openSync);
    connect(openSync, &QAction::triggered, account, &SyncAccountLink::open);
    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this,
            [link] { link->controller().syncNow(); });
    // At start, once the window is up.
    QTimer::singleShot(0, link, [link] { link->controller().syncNow(); });
}

SyncController* Form1::syncController() const
{
    SyncLink* link = syncLinkOf(this);
    return link ? &link->controller() : nullptr;
}

void Form1::syncAfterSave()
{
    if (SyncController* sync = syncController()) {
        sync->syncAfterSaving();
        sync->shownCategorySettled();
    }
}

void Form1::syncCategoryRemoval(const QList<QString>& keys, const QString& name)
{
    SyncController* sync = syncController();
    if (!sync || !sync->isSetUp())
        return;
    QStringList linked;
    for (const QString& key : keys)
        if (sync->isLinked(key))
            linked.append(key);
    if (linked.isEmpty())
        return;
    int taskCount = 0;
    const TaskDirectory tasks(m_store, *this, linked);
    for (const QString& key : std::as_const(linked))
        taskCount += tasks.rowCount(key, false);
    const bool deleteThere = Prompts::current().askYesNo(
        this,
        QStringLiteral("Also delete \"%1\" and its %2 tasks on the server and on every device "
                       "that syncs with it?")
            .arg(name)
            .arg(taskCount),
        applicationTitle());
    for (const QString& key : std::as_const(linked))
        sync->categoryRemoved(key, deleteThere);
}
