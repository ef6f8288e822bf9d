#include "app_folder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace AppFolder {

namespace {
QString g_override;
}

QString path()
{
    return g_override.isEmpty() ? QCoreApplication::applicationDirPath() : g_override;
}

void setPath(const QString& folder)
{
    g_override = folder;
}

bool fileExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

} // namespace AppFolder
