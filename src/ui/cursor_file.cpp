#include "cursor_file.h"

#include "failure.h"

#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

namespace {

// A colour image with alpha, as our own pointer is drawn, read here: the image plugins (and the
// search through them for the icon reader) would be loaded on every start. Anything else in a
// cursor file goes to Qt's icon reader. The image starts at the first entry's offset with a
// BITMAPINFOHEADER whose height counts the colour rows and the AND mask; rows run bottom-up.
QImage colourImageWithAlpha(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const auto size = quint64(data.size());
    const quint32 offset = qFromLittleEndian<quint32>(bytes + 6 + 12);
    if (quint64(offset) + 40 > size)
        return {};
    const uchar* header = bytes + offset;
    const auto width = qint32(qFromLittleEndian<quint32>(header + 4));
    const auto height = qint32(qFromLittleEndian<quint32>(header + 8));
    if (qFromLittleEndian<quint32>(header) != 40 || qFromLittleEndian<quint16>(header + 12) != 1 ||
        qFromLittleEndian<quint16>(header + 14) != 32 ||
        qFromLittleEndian<quint32>(header + 16) != 0 || width <= 0 || width > 256 ||
        height != 2 * width || quint64(offset) + 40 + quint64(width) * quint64(width) * 4 > size)
        return {};
    QImage image(width, width, QImage::Format_ARGB32);
    bool anyAlpha = false;
    for (int y = 0; y < width; ++y) {
        const uchar* row = header + 40 + quint64(width - 1 - y) * quint64(width) * 4;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const uchar* bgra = row + 4 * x;
            out[x] = qRgba(bgra[2], bgra[1], bgra[0], bgra[3]);
            anyAlpha = anyAlpha || bgra[3] != 0;
        }
    }
    // With no alpha at all the AND mask is what says what shows: the icon reader applies it.
    return anyAlpha ? image : QImage();
}

} // namespace

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
    QImage image = colourImageWithAlpha(data);
    if (image.isNull() && (!image.loadFromData(data, "ICO") || image.isNull()))
        throw Failure(QStringLiteral("The pointer file %1 cannot be read as an image.").arg(path));
    return QCursor(QPixmap::fromImage(image), hotX, hotY);
}
