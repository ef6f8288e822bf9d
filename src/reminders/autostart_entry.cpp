#include "autostart_entry.h"

#include "failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#ifndef KESTRUNE_DESKTOP_EXEC
#define KESTRUNE_DESKTOP_EXEC "kestrune"
#endif

namespace AutostartEntry {

QString path()
{
    // As the XDG base directories say: a relative XDG_CONFIG_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart/kestrune.desktop");
}

bool enabled()
{
    const QString file = path();
    if (!QFileInfo::exists(file))
        return false;
    QSettings entry(file, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    const auto is = [&](const QString& key, const QString& value) {
        return entry.value(key).toString().trimmed().compare(value, Qt::CaseInsensitive) == 0;
    };
    return !is(QStringLiteral("Hidden"), QStringLiteral("true")) &&
           !is(QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("false"));
}

QString text()
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Kestrune\n"
                          "Comment=Waits in the tray and reminds you of due tasks\n"
                          "Exec=%1 %2\n"
                          "Icon=org.kestrune.Kestrune\n"
                          "Terminal=false\n"
                          "NoDisplay=true\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(QStringLiteral(KESTRUNE_DESKTOP_EXEC), kArgument);
}

void write()
{
    const QString file = path();
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder))
        throw Failure(QStringLiteral("Cannot create the folder %1.").arg(folder));
    // Written whole or not at all: a desktop reading a half-written entry would skip it.
    QSaveFile out(file);
    const QByteArray bytes = text().toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        throw Failure(QStringLiteral("Cannot write the autostart entry %1: %2.")
                          .arg(file, out.errorString()));
}

void remove()
{
    QFile file(path());
    if (file.exists() && !file.remove())
        throw Failure(QStringLiteral("Cannot remove the autostart entry %1: %2.")
                          .arg(file.fileName(), file.errorString()));
}

bool startedFromEntry(const QStringList& arguments)
{
    return arguments.mid(1).contains(kArgument);
}

} // namespace AutostartEntry
