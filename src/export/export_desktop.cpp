#include "export_desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>
#include <sys/stat.h>
#include <unistd.h>

namespace {

SystemExportDesktop g_system;
ExportDesktop* g_current = &g_system;

// The keys of one group of a desktop-entry style file ("[Desktop Entry]", "[Added Associations]").
QHash<QString, QString> readGroup(const QString& path, const QString& group)
{
    QHash<QString, QString> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entries;
    QTextStream in(&file);
    bool inGroup = false;
    QString line;
    while (in.readLineInto(&line)) {
        const QStringView text = QStringView(line).trimmed();
        if (text.startsWith(u'[')) {
            inGroup = text == QString(u'[' + group + u']');
            continue;
        }
        const qsizetype equals = text.indexOf(u'=');
        if (inGroup && equals > 0)
            entries.insert(text.left(equals).trimmed().toString(),
                           text.mid(equals + 1).trimmed().toString());
    }
    return entries;
}

QStringList listValue(const QString& value)
{
    return value.split(u';', Qt::SkipEmptyParts);
}

QStringList applicationFolders()
{
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

// A desktop id names applications/<id>, where a "-" may stand for a subfolder.
bool desktopEntryInstalled(const QString& id)
{
    for (const QString& folder : applicationFolders()) {
        if (QFile::exists(folder + u'/' + id))
            return true;
        QString nested = id;
        for (qsizetype dash = nested.indexOf(u'-'); dash >= 0; dash = nested.indexOf(u'-', dash)) {
            nested[dash] = u'/';
            if (QFile::exists(folder + u'/' + nested))
                return true;
        }
    }
    return false;
}

} // namespace

ExportDesktop& ExportDesktop::current()
{
    return *g_current;
}

void ExportDesktop::install(ExportDesktop* desktop)
{
    g_current = desktop ? desktop : &g_system;
}

bool SystemExportDesktop::spreadsheetProgramRegistered()
{
    // Associations the user or the system added or removed by hand come first.
    QStringList listFolders = QStandardPaths::standardLocations(QStandardPaths::ConfigLocation);
    listFolders += applicationFolders();
    QSet<QString> removed;
    for (const QString& folder : listFolders) {
        const QString list = folder + QStringLiteral("/mimeapps.list");
        for (const QString& id : listValue(
                 readGroup(list, QStringLiteral("Removed Associations")).value(kXlsxMimeType)))
            removed.insert(id);
        for (const QString& group :
             {QStringLiteral("Default Applications"), QStringLiteral("Added Associations")})
            for (const QString& id : listValue(readGroup(list, group).value(kXlsxMimeType)))
                if (!removed.contains(id) && desktopEntryInstalled(id))
                    return true;
    }
    // Then every installed program that declares the type itself.
    for (const QString& folder : applicationFolders()) {
        QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString id = QDir(folder).relativeFilePath(path).replace(u'/', u'-');
            if (removed.contains(id))
                continue;
            const auto entry = readGroup(path, QStringLiteral("Desktop Entry"));
            if (entry.value(QStringLiteral("Hidden")) == QStringLiteral("true"))
                continue;
            if (listValue(entry.value(QStringLiteral("MimeType"))).contains(kXlsxMimeType))
                return true;
        }
    }
    return false;
}

bool SystemExportDesktop::spreadsheetRunning()
{
    // The process names of the spreadsheet programs found on Linux desktops.
    static const QSet<QString> names = {
        QStringLiteral("soffice.bin"),
        QStringLiteral("soffice"),
        QStringLiteral("localc"),
        QStringLiteral("gnumeric"),
        QStringLiteral("et"),
        QStringLiteral("calligrasheets"),
        QStringLiteral("DesktopEditors"),
        QStringLiteral("onlyoffice-desk"),
    };
    const uid_t me = ::getuid();
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool numeric = false;
        pid.toUInt(&numeric);
        if (!numeric)
            continue;
        const QString folder = QStringLiteral("/proc/") + pid;
        struct stat info;
        if (::stat(QFile::encodeName(folder).constData(), &info) != 0 || info.st_uid != me)
            continue;
        QFile comm(folder + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) &&
            names.contains(QString::fromLocal8Bit(comm.readAll()).trimmed()))
            return true;
    }
    return false;
}

bool SystemExportDesktop::open(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
