#include "reminder_settings.h"

#include "settings_store.h"

namespace {

const QString kEnabled = QStringLiteral("Remind Due Tasks");
const QString kTime = QStringLiteral("Reminder Time");
const QString kAtLogin = QStringLiteral("Start In Tray At Login");
const QString kTimeFormat = QStringLiteral("HH:mm");

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

ReminderSettings ReminderSettings::read(const SettingsStore& store)
{
    ReminderSettings settings;
    settings.enabled = store.read(kEnabled, flag(true)) != QLatin1String("0");
    const QTime time = QTime::fromString(store.read(kTime, QString()), kTimeFormat);
    if (time.isValid())
        settings.time = time;
    settings.startAtLogin = store.read(kAtLogin, flag(false)) == QLatin1String("1");
    return settings;
}

void ReminderSettings::write(SettingsStore& store) const
{
    store.writeAll({{kEnabled, flag(enabled)},
                    {kTime, time.toString(kTimeFormat)},
                    {kAtLogin, flag(startAtLogin)}});
}
