#include "export_files.h"

#include "failure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ExportFiles {

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Ours alone: a real folder (not a link to one), owned by this user, closed to everyone else.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat info;
    if (::lstat(path.constData(), &info) != 0)
        return false;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return false;
    return true;
}

} // namespace

QString privateFolder()
{
    const QString temp = QDir::tempPath();
    const QString usual = temp + QStringLiteral("/Kestrune-") + QString::number(::geteuid());
    const QByteArray usualName = QFile::encodeName(usual);
    if (::mkdir(usualName.constData(), 0700) == 0 || errno == EEXIST) {
        if (isPrivateFolder(usualName))
            return usual;
    }
    // Someone else holds the usual name: a folder with a random name cannot be taken first.
    QByteArray pattern = QFile::encodeName(temp + QStringLiteral("/Kestrune-XXXXXX"));
    if (::mkdtemp(pattern.data()))
        return QFile::decodeName(pattern);
    throw Failure(QStringLiteral("No private folder for the export could be made in %1: %2.")
                      .arg(native(temp), systemError(errno)));
}

QString reserveUniqueFile(const QString& folder, const QString& nameTemplate)
{
    QTemporaryFile file(folder + u'/' + nameTemplate);
    if (!file.open())
        throw Failure(QStringLiteral("No file for the export could be made in %1: %2.")
                          .arg(native(folder), file.errorString()));
    file.setAutoRemove(false);
    return file.fileName();
}

QString pdfPath()
{
    return QDir::tempPath() + QStringLiteral("/ExportTasks.pdf");
}

void deleteQuietly(const QString& path)
{
    // unlink() removes a link itself and also a read-only file in a folder we may write to;
    // anything it cannot remove is left for the rename that follows.
    ::unlink(QFile::encodeName(path).constData());
}

void moveInPlace(const QString& freshFile, const QString& path)
{
    if (std::rename(QFile::encodeName(freshFile).constData(),
                    QFile::encodeName(path).constData()) == 0)
        return;
    const int error = errno;
    QString reason = systemError(error);
    if (error == EPERM || error == EACCES)
        reason += QStringLiteral(" (a file of that name may belong to another user; remove it "
                                 "or set TMPDIR to a folder of your own)");
    throw Failure(
        QStringLiteral("The export could not be saved as %1: %2.").arg(native(path), reason));
}

} // namespace ExportFiles
