// Reminders in the running program: the actions reach the task in the category shown and in
// another, a start at login waits in the test panel's tray, and the Settings window stores the
// choices and the autostart entry. On an X display and a session bus of the test's own, with
// the test panel playing the desktop (private_session.sh).
#include "autostart_entry.h"
#include "csystray.h"
#include "form1_session.h"
#include "notification_panel.h"
#include "recording_tray_backend.h"
#include "reminder_clock.h"
#include "reminder_settings.h"
#include "reminders.h"
#include "settings_window.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeEdit>

namespace {

const QDate kToday(2026, 3, 10);

// Work, shown at start, and Home, each with a task overdue since yesterday.
void presetDesk(Form1Session& s)
{
    {
        const QString due = kToday.addDays(-1).toString(Qt::ISODate);
        s.preset(QStringLiteral("Tree Nodes"), QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^"));
        s.preset(QStringLiteral("1_Root_1"),
                 storedTasks({{QStringLiteral("Pay rent"), QStringLiteral("High"),
                               QStringLiteral("General"), due, QString(), QString()}}));
        s.preset(QStringLiteral("1_Root_2"),
                 storedTasks({{QStringLiteral("Sweep"), QStringLiteral("Low"),
                               QStringLiteral("General"), QString(), QString(), QString()},
                              {QStringLiteral("Water plants"), QStringLiteral("Low"),
                               QStringLiteral("General"), due, QString(), QString()}}));
    }
}

// The program's clock, standing at ten in the morning; made before the window and gone after.
struct Run
{
    SettableClock clock{QDateTime(kToday, QTime(10, 0))};
};

} // namespace

class TestForm1Reminders : public QObject
{
    Q_OBJECT

    NotificationPanel m_panel;

    // The notification whose body begins with `text`.
    uint notificationOf(const QString& text)
    {
        for (const NotificationPanel::Notification& n : m_panel.notifications())
            if (n.body.startsWith(text))
                return n.id;
        return 0;
    }

private slots:
    void init()
    {
        Form1::hiddenInTray = false;
        if (m_panel.present())
            m_panel.forget();
    }

    void showAndMarkDone_onTheCategoryShown_andOnAnother()
    {
        if (!m_panel.present())
            QSKIP("needs the test panel on the session bus");
        Run run;
        Form1Session s;
        presetDesk(s);
        Form1& w = s.startShown();
        w.startReminders(&run.clock);
        QTRY_COMPARE(m_panel.notifications().size(), 2);

        const uint shown = notificationOf(QStringLiteral("Pay rent"));
        s.clickTab(1);
        m_panel.invoke(shown, QStringLiteral("show"));
        QTRY_COMPARE(w.TabControl1->currentIndex(), 0);
        QCOMPARE(w.ListView1->selectedRow(), 0);
        m_panel.invoke(shown, QStringLiteral("done"));
        QTRY_COMPARE(Form1Session::column(w.ListView1, DoneCol),
                     QStringList{QStringLiteral("Done")});
        QVERIFY(
            s.stored(QStringLiteral("1_Root_1")).contains(QStringLiteral("DoneMy_Separatora08")));

        const uint other = notificationOf(QStringLiteral("Water plants"));
        m_panel.invoke(other, QStringLiteral("done"));
        QTRY_VERIFY(
            s.stored(QStringLiteral("1_Root_2")).endsWith(QStringLiteral("DoneMy_Separatora08")));
        QCOMPARE(Form1Session::column(w.ListView1, TaskCol),
                 QStringList{QStringLiteral("Pay rent")});
        QTRY_COMPARE(m_panel.closedByClient(), (QList<uint>{shown, other}));
        QVERIFY(s.prompts.errorBoxes().isEmpty());
    }

    void markDone_waitsForTheOpenEditor()
    {
        if (!m_panel.present())
            QSKIP("needs the test panel on the session bus");
        Run run;
        Form1Session s;
        presetDesk(s);
        Form1& w = s.startShown();
        w.startReminders(&run.clock);
        QTRY_COMPARE(m_panel.notifications().size(), 2);
        const QString before = s.stored(QStringLiteral("1_Root_1"));
        QDialog editor(&w);
        editor.setModal(true);
        editor.show();
        QTRY_VERIFY(QApplication::activeModalWidget() == &editor);
        m_panel.invoke(notificationOf(QStringLiteral("Pay rent")), QStringLiteral("done"));
        QTest::qWait(600);
        QCOMPARE(s.stored(QStringLiteral("1_Root_1")), before);
        editor.close();
        QTRY_COMPARE(Form1Session::column(w.ListView1, DoneCol),
                     QStringList{QStringLiteral("Done")});
    }

    void startedAtLogin_waitsInTheTray_showBringsTheTaskForward()
    {
        if (!m_panel.present())
            QSKIP("needs the test panel on the session bus");
        Run run;
        Form1Session s;
        presetDesk(s);
        Form1& w = s.start();
        w.startReminders(&run.clock);
        w.startInTray();
        QVERIFY(Form1::hiddenInTray);
        QVERIFY(!w.isVisible());
        // No balloon, only the reminders.
        QTRY_COMPARE(m_panel.notifications().size(), 2);
        QVERIFY(!m_panel.summaries().contains(QStringLiteral("Tolvendra Software")));

        m_panel.invoke(notificationOf(QStringLiteral("Water plants")), QStringLiteral("show"));
        QTRY_VERIFY(w.isVisible());
        QVERIFY(!Form1::hiddenInTray);
        QCOMPARE(w.tvFolders->selectedNode()->text(0), QStringLiteral("Home"));
        QCOMPARE(w.TabControl1->currentIndex(), 0);
        QCOMPARE(w.ListView1->selectedRow(), 1);
    }

    void startedAtLogin_withoutATray_aMinimisedWindow()
    {
        if (m_panel.present())
            QSKIP("needs a session without a tray");
        Run run;
        Form1Session s;
        presetDesk(s);
        Form1& w = s.start();
        w.startReminders(&run.clock);
        w.startInTray();
        QTRY_VERIFY(w.isVisible());
        QVERIFY(w.windowState() & Qt::WindowMinimized);
        QVERIFY(!Form1::hiddenInTray);
        // Nothing shows the reminders here, and nothing fails.
        QTRY_COMPARE(w.reminders()->due().size(), 2);
        QVERIFY(s.prompts.errorBoxes().isEmpty());
    }

    void noNotificationServer_theBalloonOnTheTrayIcon()
    {
        if (m_panel.present())
            QSKIP("needs a session without a notification server");
        RecordingTrayBackend* tray = nullptr;
        TrayBackend::setFactory([&tray] {
            auto backend = std::make_unique<RecordingTrayBackend>();
            tray = backend.get();
            return backend;
        });
        Run run;
        Form1Session s;
        presetDesk(s);
        Form1& w = s.start();
        TrayBackend::setFactory({});
        w.startReminders(&run.clock);
        w.startInTray();
        QVERIFY(Form1::hiddenInTray);
        QTRY_COMPARE(tray->balloons().size(), 2);
        const TrayRecord balloon = tray->balloons().first();
        QCOMPARE(balloon.balloonTitle, QStringLiteral("Overdue"));
        QCOMPARE(balloon.balloonText,
                 QStringLiteral("Pay rent\nWork\n") + kToday.addDays(-1).toString(Qt::ISODate));
    }

    void settings_storesTheChoices_writesAndRemovesTheAutostartEntry()
    {
        Run run;
        Form1Session s;
        presetDesk(s);
        Form1& w = s.startShown();
        w.startReminders(&run.clock);
        QTRY_VERIFY(run.clock.wakeTime().isValid());
        // The keys are the action's; a window left without focus by a minimised one before it
        // would not get them on a desktop without a window manager.
        auto* settingsAction = w.findChild<QAction*>(QStringLiteral("actionSettings"));
        QCOMPARE(settingsAction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
        QCOMPARE(settingsAction->text(), QStringLiteral("&Settings..."));
        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& settings = static_cast<SettingsWindow&>(dialog);
            QVERIFY(settings.remindCheck->isChecked());
            QCOMPARE(settings.reminderTime->time(), QTime(9, 0));
            QVERIFY(!settings.atLoginCheck->isChecked());
            settings.reminderTime->setTime(QTime(7, 30));
            settings.atLoginCheck->setChecked(true);
            settings.accept();
        });
        settingsAction->trigger();
        QCOMPARE(s.prompts.shown.size(), 1);
        QCOMPARE(s.prompts.shown[0].title, QStringLiteral("Settings"));
        QCOMPARE(ReminderSettings::read(*s.store).time, QTime(7, 30));
        QCOMPARE(w.reminders()->settings().time, QTime(7, 30));
        QCOMPARE(run.clock.wakeTime(), QDateTime(kToday.addDays(1), QTime(7, 30)));

        QFile entry(AutostartEntry::path());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains("\nExec=kestrune --autostart\n"));
        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), {entry.fileName()});
        QVERIFY(validate.waitForFinished(30000));
        QCOMPARE(validate.readAll(), QByteArray());
        QCOMPARE(validate.exitCode(), 0);

        s.prompts.dialogActions.push_back([](QDialog& dialog) {
            auto& settings = static_cast<SettingsWindow&>(dialog);
            QVERIFY(settings.atLoginCheck->isChecked());
            settings.atLoginCheck->setChecked(false);
            settings.remindCheck->setChecked(false);
            settings.accept();
        });
        settingsAction->trigger();
        QVERIFY(!QFileInfo::exists(entry.fileName()));
        QVERIFY(!ReminderSettings::read(*s.store).enabled);
        QVERIFY(!w.reminders()->settings().enabled);

        // An entry the desktop turned off is shown off.
        entry.close();
        for (const char* off : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
            QVERIFY(entry.open(QIODevice::WriteOnly));
            entry.write(
                AutostartEntry::text().toUtf8().replace("X-GNOME-Autostart-enabled=true", off));
            entry.close();
            s.prompts.dialogActions.push_back([](QDialog& dialog) {
                QVERIFY(!static_cast<SettingsWindow&>(dialog).atLoginCheck->isChecked());
                dialog.reject();
            });
            settingsAction->trigger();
        }
    }
};

int main(int argc, char** argv)
{
    // The tray shows a StatusNotifierItem only on a real display.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    QStandardPaths::setTestModeEnabled(true);
    TestForm1Reminders test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_form1_reminders.moc"
