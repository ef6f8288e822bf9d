#pragma once

// What the Settings window needs of the window that opens it.
class SettingsHost
{
public:
    virtual ~SettingsHost() = default;
    // The stored reminder choices changed: the reminders go by them from now on.
    virtual void reminderSettingsChanged() = 0;
};
