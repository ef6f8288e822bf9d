#pragma once

#include "task_list_codec.h"

#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

// One category as the reminders see it: its active list only, the deleted one is never
// reminded of.
struct ReminderCategory
{
    QString key;
    // The names from the top of the tree down, joined by " › ".
    QString path;
    // The active list as on screen, for the category shown: its rows there are the working
    // copy. Every other category is read as stored.
    struct Row
    {
        TaskListCodec::Fields fields;
        QUuid uid;
    };
    std::optional<QList<Row>> onScreen;
};

// What the reminders need of the main window.
class ReminderHost
{
public:
    virtual ~ReminderHost() = default;
    // Every category in the stored tree's order.
    virtual QList<ReminderCategory> categoriesForReminders() const = 0;
    // Brings the window forward and shows the task in its category and tab, selected.
    virtual void showTask(const QUuid& uid) = 0;
    // Marks the task finished as the editor would, saved with its category.
    virtual void markTaskDone(const QUuid& uid) = 0;
    // The tray's own balloon, for a desktop without a notification server; false where there
    // is no icon in a tray to show it on.
    virtual bool showReminderBalloon(const QString& title, const QString& text) = 0;
};
