#pragma once

#include <QString>
#include <QStringList>

// The program's entry in the desktop's autostart folder ($XDG_CONFIG_HOME/autostart), which
// starts it at login hidden in the tray.
namespace AutostartEntry {

// What tells the program that the autostart entry started it.
inline const QString kArgument = QStringLiteral("--autostart");

QString path();
// Whether the entry is there and the desktop has not turned it off (Hidden=true, or GNOME's
// X-GNOME-Autostart-enabled=false, which desktops write into it to do so).
bool enabled();
// The entry's text: the installed desktop entry's command with kArgument.
QString text();
// Both throw Failure with what went wrong; the folder is made when missing.
void write();
void remove();

// Whether the program's arguments say it was started from the entry.
bool startedFromEntry(const QStringList& arguments);

} // namespace AutostartEntry
