#include "reminders.h"

#include "failure.h"
#include "reminder_clock.h"
#include "reminder_host.h"
#include "reminder_schedule.h"
#include "reminder_texts.h"

#include <QRegularExpression>
#include <QTimer>
#include <algorithm>

namespace {

// A category's key names its active list; its deleted list's key ends in "Del".
bool isActiveListKey(const QString& key)
{
    static const QRegularExpression category(QStringLiteral("^[0-9]+_(Root|Sublist)_[0-9]+$"));
    return category.match(key).hasMatch();
}

} // namespace

Reminders::Reminders(SettingsStore& store, ReminderHost& host, ReminderClock& clock,
                     QObject* parent)
    : QObject(parent), m_store(store), m_host(host), m_clock(clock)
{
    m_notifier.setFallback([this](const ReminderText& text) {
        return m_host.showReminderBalloon(text.title, text.body);
    });
    connect(&m_notifier, &ReminderNotifier::shown, this, &Reminders::onShown);
    connect(&m_notifier, &ReminderNotifier::actionInvoked, this, &Reminders::onAction);
    connect(&m_clock, &ReminderClock::woke, this, &Reminders::look);
    m_store.setCommitListener([this](const SettingsStore::Changes& changes) {
        const auto saves = [](const auto& values) {
            return std::any_of(values.begin(), values.end(),
                               [](const auto& value) { return isActiveListKey(value.first); });
        };
        if (m_started && (saves(changes.values) || saves(changes.utf8Values))) {
            m_listsSaved = true;
            lookSoon();
        }
    });
}

Reminders::~Reminders()
{
    m_store.setCommitListener({});
}

void Reminders::start()
{
    m_started = true;
    m_startDay = m_clock.now().date();
    try {
        m_marks = m_store.readReminderMarks();
    } catch (const Failure& failure) {
        // Without the memory a task may be reminded twice today; that is all.
        qWarning("%s", qPrintable(failure.description()));
    }
    settingsChanged();
}

void Reminders::settingsChanged()
{
    try {
        m_settings = ReminderSettings::read(m_store);
    } catch (const Failure& failure) {
        qWarning("%s", qPrintable(failure.description()));
    }
    if (m_started)
        look();
}

void Reminders::lookSoon()
{
    // A command may save several lists in a row; one look after it is enough.
    if (m_lookPending || !m_started)
        return;
    m_lookPending = true;
    QTimer::singleShot(0, this, [this] {
        m_lookPending = false;
        look();
    });
}

void Reminders::look()
{
    const QDateTime now = m_clock.now();
    const bool saved = std::exchange(m_listsSaved, false);
    if (!m_settings.enabled) {
        m_due.clear();
        m_knownDue.clear();
        m_knownDueDay = {};
        m_clock.wakeAt(ReminderSchedule::nextReminderTime(now, m_settings.time));
        return;
    }
    QList<DueTask> due;
    try {
        due = findDueTasks(m_store, m_host.categoriesForReminders(), now.date());
    } catch (const Failure& failure) {
        qWarning("%s", qPrintable(failure.description()));
    }
    // Made due by a saving command: what was not due at the last look on the same day. A
    // task due today after midnight was made due by the date, not the save: it waits for the
    // reminder time.
    QSet<QUuid> atOnce;
    if (saved && m_knownDueDay == now.date()) {
        for (const DueTask& task : std::as_const(due))
            if (!m_knownDue.contains(task.uid))
                atOnce.insert(task.uid);
    }
    m_knownDue.clear();
    for (const DueTask& task : std::as_const(due))
        m_knownDue.insert(task.uid);
    m_knownDueDay = now.date();
    const ReminderSchedule::Plan plan =
        ReminderSchedule::plan(due, m_marks, now, m_settings.time, m_startDay, atOnce);
    m_due = std::move(due);
    m_clock.wakeAt(plan.next);
    if (!plan.now.isEmpty())
        remind(plan.now);
}

void Reminders::remind(const QList<DueTask>& tasks)
{
    const QDate today = m_clock.now().date();
    // Marked at once, so that a look before the server answers does not remind them again;
    // stored once the reminder reached the user.
    for (const DueTask& task : tasks)
        m_marks[task.uid].reminded = today;
    if (tasks.size() > ReminderTexts::kSingleMost) {
        QList<QUuid> uids;
        for (const DueTask& task : tasks)
            uids.append(task.uid);
        m_notifier.show(ReminderTexts::forMany(tasks), uids, false);
        return;
    }
    for (const DueTask& task : tasks)
        m_notifier.show(ReminderTexts::forTask(task, today), {task.uid}, true);
}

void Reminders::onShown(const QList<QUuid>& tasks, bool reached)
{
    QHash<QUuid, SettingsStore::ReminderMark> changed;
    for (const QUuid& uid : tasks) {
        const auto mark = m_marks.find(uid);
        if (mark == m_marks.end())
            continue;
        if (reached)
            changed.insert(uid, *mark);
        else
            mark->reminded = {}; // nothing showed it: not counted as told
    }
    storeMarks(changed);
}

void Reminders::onAction(ReminderNotifier::Action action, const QList<QUuid>& tasks)
{
    if (tasks.isEmpty())
        return;
    switch (action) {
    case ReminderNotifier::Action::Show:
        m_host.showTask(tasks.first());
        return;
    case ReminderNotifier::Action::MarkDone:
        for (const QUuid& uid : tasks) {
            m_notifier.closeFor(uid);
            m_host.markTaskDone(uid);
        }
        return;
    case ReminderNotifier::Action::Tomorrow: {
        const QDate tomorrow = m_clock.now().date().addDays(1);
        QHash<QUuid, SettingsStore::ReminderMark> changed;
        for (const QUuid& uid : tasks) {
            SettingsStore::ReminderMark& mark = m_marks[uid];
            mark.quietUntil = tomorrow;
            changed.insert(uid, mark);
            m_notifier.closeFor(uid);
        }
        storeMarks(changed);
        return;
    }
    }
}

void Reminders::storeMarks(const QHash<QUuid, SettingsStore::ReminderMark>& changed)
{
    if (changed.isEmpty())
        return;
    try {
        m_store.writeReminderMarks(changed, m_clock.now().date());
    } catch (const Failure& failure) {
        // Kept in memory for this run; only a restart could remind them again today.
        qWarning("%s", qPrintable(failure.description()));
    }
}
