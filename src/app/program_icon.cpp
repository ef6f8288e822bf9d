#include "program_icon.h"

#include <QPixmap>

// Outside any namespace, as Q_INIT_RESOURCE requires. Tests load the windows without main().
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace ProgramIcon {

QIcon forWindows()
{
    // Added as pixmaps, not files: a file's name would make QIcon look through the icon plugins
    // for one that takes its suffix.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128})
        icon.addPixmap(
            QPixmap(QStringLiteral(":/kestrune/window/%1x%1/apps/kestrune.png").arg(size)));
    return icon;
}

QIcon forTray()
{
    initResources();
    return QIcon(QStringLiteral(":/kestrune/kestrune.svg"));
}

} // namespace ProgramIcon
