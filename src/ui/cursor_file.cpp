#include "cursor_file.h"

#include "failure.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

QCursor loadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot read the pointer file %1.").arg(path));
    QByteArray data = file.readAll();

    // ICONDIR (reserved, type 2 for cursors, count) and the first 16-byte directory entry, whose
    // two middle words hold the hotspot in a cursor file.
    const auto word = [&data](int offset) {
        return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(data.constData()) +
                                          offset);
    };
    if (data.size() < 22 || word(0) != 0 || word(2) != 2 || word(4) < 1)
        throw Failure(QStringLiteral("The pointer file %1 is not a cursor file.").arg(path));
    const int hotX = word(6 + 4);
    const int hotY = word(6 + 6);

    // Apart from the type and the hotspot a cursor file is laid out as an icon file.
    data[2] = 1;
    data[6 + 4] = 1; // planes
    data[6 + 5] = 0;
    data[6 + 6] = 32; // bits per pixel
    data[6 + 7] = 0;
    QImage image;
    if (!image.loadFromData(data, "ICO") || image.isNull())
        throw Failure(QStringLiteral("The pointer file %1 cannot be read as an image.").arg(path));
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}
