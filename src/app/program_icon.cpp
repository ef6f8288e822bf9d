#include "program_icon.h"

#include <QImage>
#include <QPixmap>
#include <QResource>

// Outside any namespace, as Q_INIT_RESOURCE requires. Tests load the windows without main().
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace ProgramIcon {

QIcon forWindows()
{
    // Built from the pixels in place: a file name would have QIcon search the icon plugins for
    // its suffix, and an image reader the image plugins.
    QIcon icon;
    for (int size : {16, 32, 64, 128}) {
        const QResource pixels(
            QStringLiteral(":/kestrune/window/%1x%1/apps/kestrune.argb32p").arg(size));
        if (pixels.compressionAlgorithm() != QResource::NoCompression ||
            pixels.size() != qint64(size) * size * 4)
            continue;
        icon.addPixmap(QPixmap::fromImage(
            QImage(pixels.data(), size, size, size * 4, QImage::Format_ARGB32_Premultiplied)));
    }
    return icon;
}

QIcon forTray()
{
    initResources();
    return QIcon(QStringLiteral(":/kestrune/kestrune.svg"));
}

} // namespace ProgramIcon
