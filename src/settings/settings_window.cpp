#include "settings_window.h"

#include "autostart_entry.h"
#include "failure.h"
#include "prompts.h"
#include "settings_host.h"
#include "settings_store.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QTimeEdit>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(SettingsStore& store, SettingsHost& host, QWidget* parent)
    : QDialog(parent), m_store(store), m_host(host)
{
    setWindowTitle(QStringLiteral("Settings"));
    setObjectName(QStringLiteral("SettingsWindow"));
    ReminderSettings settings;
    try {
        settings = ReminderSettings::read(store);
    } catch (const Failure&) {
        // The defaults are shown; storing them is what "OK" then does.
    }
    // The entry itself tells whether Kestrune starts at login: the user may have removed it
    // through the desktop's own settings.
    settings.startAtLogin = AutostartEntry::enabled();

    remindCheck = new QCheckBox(QStringLiteral("Remind me of due tasks"), this);
    remindCheck->setObjectName(QStringLiteral("remindCheck"));
    remindCheck->setChecked(settings.enabled);
    reminderTime = new QTimeEdit(settings.time, this);
    reminderTime->setObjectName(QStringLiteral("reminderTime"));
    reminderTime->setDisplayFormat(QStringLiteral("HH:mm"));
    reminderTime->setEnabled(settings.enabled);
    connect(remindCheck, &QCheckBox::toggled, reminderTime, &QWidget::setEnabled);
    atLoginCheck = new QCheckBox(QStringLiteral("Start Kestrune in the tray when I log in"), this);
    atLoginCheck->setObjectName(QStringLiteral("atLoginCheck"));
    atLoginCheck->setChecked(settings.startAtLogin);

    auto* form = new QFormLayout;
    form->addRow(remindCheck);
    form->addRow(QStringLiteral("Reminder time:"), reminderTime);
    form->addRow(atLoginCheck);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void SettingsWindow::accept()
{
    ReminderSettings settings;
    settings.enabled = remindCheck->isChecked();
    settings.time = reminderTime->time();
    settings.startAtLogin = atLoginCheck->isChecked();
    try {
        if (settings.startAtLogin)
            AutostartEntry::write();
        else
            AutostartEntry::remove();
        settings.write(m_store);
    } catch (const Failure& failure) {
        // The window stays open with the choices as they were made, to try again or cancel.
        Prompts::current().message(this, failure.description(), QStringLiteral("Settings"),
                                   Prompts::Icon::Exclamation);
        return;
    }
    m_host.reminderSettingsChanged();
    QDialog::accept();
}
