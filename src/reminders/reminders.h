#pragma once

#include "due_tasks.h"
#include "reminder_notifier.h"
#include "reminder_settings.h"
#include "settings_store.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>

class ReminderClock;
class ReminderHost;

// Reminds the user of due tasks while the program runs, shown or in the tray: it looks for
// them at start, at the reminder time of every day, after a saving command changed an active
// list and when the clock jumps or the machine wakes; with nothing due it does no more than
// wait for the next reminder time. What was reminded when is kept in the store.
class Reminders : public QObject
{
    Q_OBJECT

public:
    Reminders(SettingsStore& store, ReminderHost& host, ReminderClock& clock,
              QObject* parent = nullptr);
    ~Reminders() override;

    // The first look: overdue tasks at once, those due today at the reminder time.
    void start();
    // The stored choices changed.
    void settingsChanged();

    ReminderNotifier& notifier() { return m_notifier; }
    const ReminderSettings& settings() const { return m_settings; }

    // What the last look found due, for tests.
    const QList<DueTask>& due() const { return m_due; }

private:
    void look();
    void lookSoon();
    void remind(const QList<DueTask>& tasks);
    void onShown(const QList<QUuid>& tasks, bool reached);
    void onAction(ReminderNotifier::Action action, const QList<QUuid>& tasks);
    void storeMarks(const QHash<QUuid, SettingsStore::ReminderMark>& changed);

    SettingsStore& m_store;
    ReminderHost& m_host;
    ReminderClock& m_clock;
    ReminderNotifier m_notifier;
    ReminderSettings m_settings;
    QDate m_startDay;
    bool m_started = false;
    bool m_lookPending = false;
    bool m_listsSaved = false;
    QList<DueTask> m_due;
    // What the last look found due; a task not among them that a save made due is reminded at
    // once. Not known before the first look, nor while reminders are off.
    QSet<QUuid> m_knownDue;
    QDate m_knownDueDay;
    QHash<QUuid, SettingsStore::ReminderMark> m_marks;
};
