// Reminders of due tasks on their own: a real store, the program's settable clock, and the test
// panel's notification server on a private session bus (private_session.sh); run once more
// without any server.
#include "due_tasks.h"
#include "notification_panel.h"
#include "reminder_clock.h"
#include "reminder_host.h"
#include "reminder_settings.h"
#include "reminders.h"
#include "settings_store.h"
#include "task_list_codec.h"
#include "test_main.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>

namespace {

const QDate kToday(2026, 3, 10);
const QString kWork = QStringLiteral("1_Root_1");
const QString kReports = QStringLiteral("2_Sublist_4");

QString day(int fromToday)
{
    return kToday.addDays(fromToday).toString(Qt::ISODate);
}

QString list(const QList<TaskListCodec::Fields>& tasks)
{
    QString out;
    for (const TaskListCodec::Fields& fields : tasks)
        TaskListCodec::appendEntry(out, fields);
    return out;
}

TaskListCodec::Fields task(const QString& text, const QString& due, bool done = false)
{
    return {text,
            QStringLiteral("Medium"),
            QStringLiteral("General"),
            due,
            QString(),
            done ? QStringLiteral("Done") : QString()};
}

class Host : public ReminderHost
{
public:
    QList<ReminderCategory> categoriesForReminders() const override
    {
        return {{kWork, QStringLiteral("Work"), std::nullopt},
                {kReports, QStringLiteral("Work \u203A Reports"), std::nullopt}};
    }
    void showTask(const QUuid& uid) override { shown.append(uid); }
    void markTaskDone(const QUuid& uid) override { done.append(uid); }
    bool showReminderBalloon(const QString& title, const QString& text) override
    {
        if (trayIcon)
            balloons.append(title + QLatin1Char('|') + text);
        return trayIcon;
    }

    bool trayIcon = true;
    QList<QUuid> shown, done;
    QStringList balloons;
};

// The store of a user with work due yesterday, today and tomorrow, and tasks that never count:
// finished, deleted, and with a due text that is no date.
struct Desk
{
    Desk()
    {
        store.writeAll({{kWork, list({task(QStringLiteral("Pay rent"), day(-1)),
                                      task(QStringLiteral("Call Nessaly"), day(0)),
                                      task(QStringLiteral("Plan trip"), day(1)),
                                      task(QStringLiteral("Old report"), day(-9), true),
                                      task(QStringLiteral("Someday"), QStringLiteral("next week")),
                                      task(QStringLiteral("No date"), QString())})},
                        {TaskListCodec::deletedKey(kWork),
                         list({task(QStringLiteral("Thrown away"), day(-1))})},
                        {kReports, list({task(QStringLiteral("Quarterly figures"), day(0))})}});
    }
    Reminders& start(const QTime& at)
    {
        clock.jump(QDateTime(clock.now().date(), at));
        return restart();
    }
    // The program started again, on the same store and at the clock's time.
    Reminders& restart()
    {
        reminders.reset();
        reminders = std::make_unique<Reminders>(store, host, clock);
        reminders->start();
        return *reminders;
    }
    QUuid uidOf(const QString& text) const
    {
        for (const DueTask& due : reminders->due())
            if (due.text == text)
                return due.uid;
        return {};
    }

    QTemporaryDir folder;
    SettingsStore store{folder.filePath(QStringLiteral("Kestrune.db"))};
    Host host;
    SettableClock clock{QDateTime(kToday, QTime(10, 0))};
    std::unique_ptr<Reminders> reminders;
};

const QStringList kAllActions{QStringLiteral("default"),  QStringLiteral("Show"),
                              QStringLiteral("show"),     QStringLiteral("Show"),
                              QStringLiteral("done"),     QStringLiteral("Mark Done"),
                              QStringLiteral("tomorrow"), QStringLiteral("Tomorrow")};

// A notification server of the least kind, on a connection of its own, registered when made.
class LateServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    LateServer()
    {
        m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                             QDBusConnection::ExportAllSlots);
        m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~LateServer() override { QDBusConnection::disconnectFromBus(m_bus.name()); }
    bool registered() const
    {
        return m_bus.interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.Notifications"));
    }
    QStringList summaries;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&,
                const QStringList&, const QVariantMap&, int)
    {
        summaries.append(summary);
        return uint(summaries.size());
    }

private:
    QDBusConnection m_bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("late-server"));
};

} // namespace

class TestReminders : public QObject
{
    Q_OBJECT

    NotificationPanel m_panel;

    bool needsPanel() { return m_panel.present(); }

private slots:
    // A fresh desktop for every test.
    void init()
    {
        if (m_panel.present())
            m_panel.forget();
    }

    void dueTasks_onlyActiveUnfinishedDatedUpToToday_longestOverdueFirst()
    {
        Desk desk;
        const QList<DueTask> due =
            findDueTasks(desk.store, desk.host.categoriesForReminders(), kToday);
        QStringList texts;
        for (const DueTask& task : due)
            texts.append(task.text + QLatin1Char('@') + task.path);
        QCOMPARE(texts,
                 QStringList({QStringLiteral("Pay rent@Work"), QStringLiteral("Call Nessaly@Work"),
                              QStringLiteral("Quarterly figures@Work \u203A Reports")}));
        // The same tasks every time: their UIDs are the ones the store keeps for them.
        const QList<DueTask> again =
            findDueTasks(desk.store, desk.host.categoriesForReminders(), kToday);
        QCOMPARE(again, due);
        QVERIFY(!due[0].uid.isNull());
    }

    void systemClock_wakesAtTheTimeAskedFor()
    {
        SystemClock clock;
        QSignalSpy woke(&clock, &ReminderClock::woke);
        const QDateTime when = clock.now().addMSecs(300);
        // It also wakes, early, when the system clock is set, so that the reminders look again
        // and ask anew; a machine whose clock is stepped meanwhile gets the same second chance.
        for (int asked = 1; asked <= 3; ++asked) {
            clock.wakeAt(when);
            QVERIFY(woke.wait(5000));
            QCOMPARE(woke.size(), asked);
            if (clock.now() >= when)
                return;
        }
        QFAIL("woke before the time asked for, three times");
    }

    void memory_aTableOfItsOwn_settingsUntouched_daysGoneByForgotten()
    {
        Desk desk;
        const QHash<QString, QString> settings = desk.store.readSection();
        const QUuid old = QUuid::createUuid(), quiet = QUuid::createUuid(),
                    recent = QUuid::createUuid();
        desk.store.writeReminderMarks({{old, {kToday.addDays(-3), {}}},
                                       {quiet, {kToday.addDays(-3), kToday}},
                                       {recent, {kToday, {}}}},
                                      {});
        QCOMPARE(desk.store.readReminderMarks().size(), 3);
        desk.store.writeReminderMarks({}, kToday);
        const QHash<QUuid, SettingsStore::ReminderMark> kept = desk.store.readReminderMarks();
        QCOMPARE(kept.keys().size(), 2);
        QCOMPARE(kept.value(quiet).quietUntil, kToday);
        QCOMPARE(kept.value(recent).reminded, kToday);
        QCOMPARE(desk.store.readSection(), settings);
    }

    void startAfterReminderTime_eachDueTaskItsNotification()
    {
        if (!needsPanel())
            QSKIP("needs the test panel's notification server");
        Desk desk;
        desk.start(QTime(10, 0));
        QTRY_COMPARE(m_panel.notifications().size(), 3);
        const QList<NotificationPanel::Notification> sent = m_panel.notifications();
        QCOMPARE(sent[0].summary, QStringLiteral("Overdue"));
        QCOMPARE(sent[0].body, QStringLiteral("Pay rent\nWork\n") + day(-1));
        QCOMPARE(sent[1].summary, QStringLiteral("Due today"));
        QCOMPARE(sent[1].body, QStringLiteral("Call Nessaly\nWork\n") + day(0));
        QCOMPARE(sent[2].body, QStringLiteral("Quarterly figures\nWork \u203A Reports\n") + day(0));
        QCOMPARE(sent[2].actions, kAllActions);
        QVERIFY(desk.host.balloons.isEmpty());
    }

    void beforeReminderTime_overdueAtStart_dueTodayAtTheTime_thenTheNextDay()
    {
        if (!needsPanel())
            QSKIP("needs the test panel's notification server");
        Desk desk;
        desk.start(QTime(8, 0));
        QTRY_COMPARE(m_panel.summaries(), QStringList{QStringLiteral("Overdue")});
        QCOMPARE(desk.clock.wakeTime(), QDateTime(kToday, QTime(9, 0)));

        desk.clock.pass(QDateTime(kToday, QTime(9, 0)));
        QTRY_COMPARE(m_panel.notifications().size(), 3);
        QCOMPARE(desk.clock.wakeTime(), QDateTime(kToday.addDays(1), QTime(9, 0)));

        // Past midnight, and a clock set by hand: nothing before the new day's reminder time.
        desk.clock.pass(QDateTime(kToday.addDays(1), QTime(0, 1)));
        // Nor after a save: what the new day made due was not made due by the save.
        desk.store.write(kWork, desk.store.read(kWork, QString()));
        desk.clock.jump(QDateTime(kToday.addDays(1), QTime(0, 30)));
        QTest::qWait(200);
        QCOMPARE(m_panel.notifications().size(), 3);

        // Three overdue and one due today now: more than three at once share one.
        desk.clock.pass(QDateTime(kToday.addDays(1), QTime(9, 0)));
        QTRY_COMPARE(m_panel.notifications().size(), 4);
        const NotificationPanel::Notification summary = m_panel.notifications().last();
        QCOMPARE(summary.summary, QStringLiteral("4 tasks are due"));
        QCOMPARE(summary.body, QStringLiteral("Pay rent (Work)\nCall Nessaly (Work)\n"
                                              "Quarterly figures (Work \u203A Reports)\n"
                                              "and 1 more"));
        QVERIFY(!summary.actions.contains(QStringLiteral("done")));
    }

    void onceADay_alsoAcrossRestarts()
    {
        if (!needsPanel())
            QSKIP("needs the test panel's notification server");
        Desk desk;
        desk.start(QTime(10, 0));
        QTRY_COMPARE(m_panel.notifications().size(), 3);
        desk.clock.jump(QDateTime(kToday, QTime(11, 0)));
        desk.restart();
        QTest::qWait(300);
        QCOMPARE(m_panel.notifications().size(), 3);

        desk.clock.jump(QDateTime(kToday.addDays(1), QTime(7, 0)));
        desk.restart();
        QTRY_COMPARE(m_panel.notifications().size(), 6);
        QCOMPARE(m_panel.summaries().mid(3), QStringList(3, QStringLiteral("Overdue")));
    }

    void actions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("Show") << QStringLiteral("show");
        QTest::newRow("a click on it") << QStringLiteral("default");
        QTest::newRow("Mark Done") << QStringLiteral("done");
        QTest::newRow("Tomorrow") << QStringLiteral("tomorrow");
    }
    void actions()
    {
        QFETCH(QString, action);
        if (!needsPanel())
            QSKIP("needs the test panel's notification server");
        Desk desk;
        desk.start(QTime(10, 0));
        QTRY_COMPARE(m_panel.notifications().size(), 3);
        const QUuid rent = desk.uidOf(QStringLiteral("Pay rent"));
        const uint id = m_panel.notifications().first().id;
        m_panel.invoke(id, action);
        const bool show = action == QLatin1String("show") || action == QLatin1String("default");
        if (show)
            QTRY_COMPARE(desk.host.shown, QList<QUuid>{rent});
        else
            QTRY_COMPARE(m_panel.closedByClient(), QList<uint>{id});
        QCOMPARE(desk.host.done,
                 action == QLatin1String("done") ? QList<QUuid>{rent} : QList<QUuid>{});

        // The next day: "Tomorrow" keeps the task quiet until the reminder time, not longer.
        const bool quiet = action == QLatin1String("tomorrow");
        desk.clock.jump(QDateTime(kToday.addDays(1), QTime(8, 0)));
        desk.restart();
        QTRY_COMPARE(m_panel.notifications().size(), quiet ? 5 : 6);
        desk.clock.pass(QDateTime(kToday.addDays(1), QTime(9, 0)));
        QTRY_COMPARE(m_panel.notifications().size(), 7);
        QVERIFY(m_panel.notifications()[quiet ? 5 : 3].body.startsWith(QStringLiteral("Pay rent")));
    }

    void savingCommandMakesATaskDue_remindedAtOnce()
    {
        if (!needsPanel())
            QSKIP("needs the test panel's notification server");
        Desk desk;
        desk.start(QTime(8, 0));
        QTRY_COMPARE(m_panel.notifications().size(), 1);
        desk.store.write(kReports, list({task(QStringLiteral("Quarterly figures"), day(0)),
                                         task(QStringLiteral("Sign contract"), day(0))}));
        QTRY_COMPARE(m_panel.notifications().size(), 2);
        QCOMPARE(m_panel.notifications().last().body,
                 QStringLiteral("Sign contract\nWork \u203A Reports\n") + day(0));
        // Writing settings is no saving command of a list.
        desk.store.write(QStringLiteral("TabSel"), QStringLiteral("1"));
        QTest::qWait(200);
        QCOMPARE(m_panel.notifications().size(), 2);
    }

    void remindersOff_nothingIsSaid()
    {
        Desk desk;
        ReminderSettings off;
        off.enabled = false;
        off.write(desk.store);
        desk.start(QTime(10, 0));
        QTest::qWait(300);
        if (m_panel.present())
            QCOMPARE(m_panel.notifications().size(), 0);
        QVERIFY(desk.host.balloons.isEmpty());
        QVERIFY(desk.reminders->due().isEmpty());
    }

    void aSaveBeforeTheFirstLook_makesNothingDueAtOnce()
    {
        if (!needsPanel())
            QSKIP("needs the test panel's notification server");
        Desk desk;
        desk.clock.jump(QDateTime(kToday, QTime(8, 0)));
        desk.reminders = std::make_unique<Reminders>(desk.store, desk.host, desk.clock);
        desk.store.write(kWork, desk.store.read(kWork, QString()));
        desk.reminders->start();
        QTRY_COMPARE(m_panel.summaries(), QStringList{QStringLiteral("Overdue")});
        QTest::qWait(300);
        QCOMPARE(m_panel.notifications().size(), 1);
    }

    // A notification server that starts after the program (a session still starting) is
    // found by the next reminder.
    void serverStartedLater_takesTheNextReminder()
    {
        if (m_panel.present())
            QSKIP("needs a session without a notification server");
        Desk desk;
        desk.host.trayIcon = false;
        desk.start(QTime(8, 0));
        QTest::qWait(300);
        LateServer server;
        QVERIFY(server.registered());
        desk.store.write(kReports, list({task(QStringLiteral("Quarterly figures"), day(0)),
                                         task(QStringLiteral("Sign contract"), day(0))}));
        // With the overdue task that nothing showed at the start.
        QTRY_COMPARE(server.summaries,
                     (QStringList{QStringLiteral("Overdue"), QStringLiteral("Due today")}));
    }

    void noServer_theTrayBalloon_orNothingAndNothingFails()
    {
        if (m_panel.present())
            QSKIP("needs a session without a notification server");
        Desk desk;
        desk.host.trayIcon = false;
        desk.start(QTime(10, 0));
        QTest::qWait(300);
        QVERIFY(desk.host.balloons.isEmpty());
        // Nothing reached the user, so nothing counts as told.
        desk.host.trayIcon = true;
        desk.restart();
        QTRY_COMPARE(desk.host.balloons.size(), 3);
        QCOMPARE(desk.host.balloons.first(), QStringLiteral("Overdue|Pay rent\nWork\n") + day(-1));
    }
};

KESTRUNE_TEST_MAIN(TestReminders)

#include "test_reminders.moc"
