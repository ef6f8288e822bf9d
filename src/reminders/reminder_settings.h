#pragma once

#include <QTime>

class SettingsStore;

// The reminder choices of the Settings window, kept in the store beside the other settings.
struct ReminderSettings
{
    bool enabled = true;
    QTime time{9, 0};
    bool startAtLogin = false;

    // What is stored, with the defaults for what is not (or cannot be read as a choice).
    static ReminderSettings read(const SettingsStore& store);
    // All three in one transaction.
    void write(SettingsStore& store) const;
    bool operator==(const ReminderSettings&) const = default;
};
