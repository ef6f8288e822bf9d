#pragma once

#include "reminder_settings.h"

#include <QDialog>

class QCheckBox;
class QTimeEdit;
class SettingsHost;
class SettingsStore;

// "Settings": whether and when to be reminded of due tasks, and whether Kestrune starts in the
// tray at login. "OK" stores the choices and writes or removes the autostart entry.
class SettingsWindow : public QDialog
{
    Q_OBJECT

public:
    SettingsWindow(SettingsStore& store, SettingsHost& host, QWidget* parent = nullptr);

    QCheckBox* remindCheck;
    QTimeEdit* reminderTime;
    QCheckBox* atLoginCheck;

    void accept() override;

private:
    SettingsStore& m_store;
    SettingsHost& m_host;
};
