// Reminders of due tasks and their actions, the Settings window, and the start at login.
#include "category_tree.h"
#include "csystray.h"
#include "error_report.h"
#include "form1.h"
#include "program_icon.h"
#include "prompts.h"
#include "reminder_clock.h"
#include "reminder_host.h"
#include "reminders.h"
#include "settings_host.h"
#include "settings_window.h"
#include "task_directory.h"
#include "task_index.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QApplication>
#include <QTimer>
#include <functional>
#include <memory>

namespace {

// The window shows first; the first look for due tasks follows a moment later.
constexpr int kFirstLookDelayMs = 500;
constexpr int kBalloonMs = 10000;
constexpr int kModalRetryMs = 250;
const QString kDone = QStringLiteral("Done");

// The main window as the reminders and the Settings window see it.
class RemindersLink : public QObject, public ReminderHost, public SettingsHost
{
public:
    RemindersLink(Form1& window, ReminderClock* clock)
        : QObject(&window), m_window(window),
          m_ownClock(clock ? nullptr : std::make_unique<SystemClock>()),
          m_reminders(window.store(), *this, clock ? *clock : *m_ownClock)
    {
        setObjectName(QStringLiteral("remindersLink"));
    }

    Reminders& reminders() { return m_reminders; }

    QList<ReminderCategory> categoriesForReminders() const override
    {
        QList<ReminderCategory> categories;
        const QString shown = m_window.shownCategoryKey();
        for (const FindCategory& found : m_window.categoriesForFind()) {
            ReminderCategory category{found.key, found.path, std::nullopt};
            if (found.key == shown) {
                // Only rows that can be due are handed over.
                QList<ReminderCategory::Row> rows;
                // Room for all at once: growing a list of thousands moves it again and again.
                rows.reserve(m_window.ListView1->tasks()->rowCount());
                for (const TaskRow& row : m_window.ListView1->tasks()->rows())
                    if (!row.fields[DueDateCol].isEmpty() && row.fields[DoneCol] != kDone)
                        rows.append({row.fields, row.uid});
                category.onScreen = std::move(rows);
            }
            categories.append(std::move(category));
        }
        return categories;
    }

    void showTask(const QUuid& uid) override
    {
        m_window.bringForward();
        whenNoModalWindow([this, uid] { goToTask(uid); });
    }

    void markTaskDone(const QUuid& uid) override
    {
        whenNoModalWindow([this, uid] { markDone(uid); });
    }

    bool showReminderBalloon(const QString& title, const QString& text) override
    {
        cSysTray* tray = m_window.cSysTray1;
        if (!tray->iconAdded())
            return false;
        // Sent straight to the icon: the control's own balloon would hold everything up
        // while it waits.
        TrayRecord record;
        record.flags = TrayRecord::BalloonValid;
        record.id = tray->iconId();
        record.balloonTitle = title.left(TrayRecord::kBalloonTitleLength);
        record.balloonText = text.left(TrayRecord::kBalloonTextLength);
        record.balloonTimeoutMs = kBalloonMs;
        tray->backend()->send(TrayBackend::Command::Modify, record);
        return true;
    }

    void reminderSettingsChanged() override { m_reminders.settingsChanged(); }

private:
    // The editor and the other windows of the program write into the lists on screen when
    // they close: the task is shown or changed only once none of them is open.
    void whenNoModalWindow(std::function<void()> action)
    {
        if (!QApplication::activeModalWidget()) {
            action();
            return;
        }
        QTimer::singleShot(kModalRetryMs, this, [this, action = std::move(action)]() mutable {
            whenNoModalWindow(std::move(action));
        });
    }

    void goToTask(const QUuid& uid)
    {
        Steps step(QStringLiteral("Form1.showTask"), &m_window);
        std::optional<TaskDirectory::Place> place;
        step(100, [&] { place = directory().find(uid); });
        if (!place)
            return;
        // As going to a find result, then the row by its UID, wherever sorting put it.
        FindHit hit;
        hit.categoryKey = place->categoryKey;
        hit.place.list = place->deleted ? 1 : 0;
        hit.onScreen = true;
        step(102, [&] { m_window.goToFindHit(hit); });
        TaskListView* list = place->deleted ? m_window.ListView2 : m_window.ListView1;
        const QList<TaskRow>& rows = list->tasks()->rows();
        for (int row = 0; row < int(rows.size()); ++row) {
            if (rows[row].uid == uid) {
                list->selectRow(row);
                list->scrollTo(list->model()->index(row, 0));
                break;
            }
        }
    }

    void markDone(const QUuid& uid)
    {
        Steps step(QStringLiteral("Form1.markTaskDone"), &m_window);
        step(100, [&] {
            TaskDirectory tasks = directory();
            std::optional<TaskListCodec::Fields> fields = tasks.fields(uid);
            if (!fields)
                return;
            (*fields)[DoneCol] = kDone;
            if (tasks.update(uid, *fields))
                tasks.save();
        });
    }

    TaskDirectory directory() const
    {
        QStringList keys;
        for (const CategoryHost::Category& category : m_window.categories())
            keys.append(category.key);
        return TaskDirectory(m_window.store(), m_window, keys);
    }

    Form1& m_window;
    std::unique_ptr<SystemClock> m_ownClock;
    Reminders m_reminders;
};

RemindersLink* linkOf(const Form1* window)
{
    return window->findChild<RemindersLink*>(QStringLiteral("remindersLink"),
                                             Qt::FindDirectChildrenOnly);
}

// For a Settings window opened while no reminders run.
class StoreOnly : public SettingsHost
{
public:
    void reminderSettingsChanged() override {}
};

} // namespace

void Form1::startReminders(ReminderClock* clock)
{
    if (linkOf(this))
        return;
    if (clock) {
        auto* link = new RemindersLink(*this, clock);
        QTimer::singleShot(0, link, [link] { link->reminders().start(); });
        return;
    }
    // Made when the first look is due, not before the window shows: reaching the session bus
    // is no part of showing the window.
    QTimer::singleShot(kFirstLookDelayMs, this, [this] {
        if (!linkOf(this))
            (new RemindersLink(*this, nullptr))->reminders().start();
    });
}

Reminders* Form1::reminders() const
{
    RemindersLink* link = linkOf(this);
    return link ? &link->reminders() : nullptr;
}

void Form1::startInTray()
{
    if (!cSysTray1->trayAvailable()) {
        showMinimized();
        return;
    }
    Steps step(QStringLiteral("Form1.startInTray"), this);
    step(100, [&] {
        if (cSysTray1->TrayIcon().isNull())
            cSysTray1->setTrayIcon(ProgramIcon::forTray());
        cSysTray1->setTrayTip(QStringLiteral("Tolvendra Software"));
    });
    step(102, [&] { cSysTray1->setInTray(true); });
    step(104, [&] { hiddenInTray = cSysTray1->iconAdded(); });
    if (!hiddenInTray)
        showMinimized();
}

void Form1::openSettings()
{
    StoreOnly storeOnly;
    RemindersLink* link = linkOf(this);
    SettingsWindow window(
        m_store, link ? static_cast<SettingsHost&>(*link) : static_cast<SettingsHost&>(storeOnly),
        this);
    Prompts::current().exec(window);
}
