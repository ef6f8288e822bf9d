// Draws Kestrune's hand pointer and writes it as a Windows cursor file, the format the program
// reads its pointer from. Run at build time: make_hand_cursor <output.cur>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

namespace {

constexpr int kSize = 32;
constexpr int kHotX = 10; // the tip of the index finger
constexpr int kHotY = 1;

QImage drawHand()
{
    QImage image(kSize, kSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath hand;
    hand.addRoundedRect(QRectF(8, 1, 5, 17), 2.5, 2.5);      // index finger
    hand.addRoundedRect(QRectF(12.5, 9, 4.5, 10), 2.2, 2.2); // middle finger
    hand.addRoundedRect(QRectF(16.5, 10, 4.5, 10), 2.2, 2.2);
    hand.addRoundedRect(QRectF(20.5, 11.5, 4, 9), 2, 2); // little finger
    QPainterPath thumb;
    thumb.moveTo(8.5, 17);
    thumb.cubicTo(5, 13, 2, 14, 3.5, 17.5);
    thumb.lineTo(8.5, 25);
    hand.addPath(thumb);
    hand.addRoundedRect(QRectF(7, 15, 17.5, 14.5), 4, 4); // palm
    hand = hand.simplified();

    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    p.setPen(QPen(QColor(90, 90, 90), 0.9));
    for (double x : {12.8, 16.8, 20.7})
        p.drawLine(QPointF(x, 15.5), QPointF(x, 19));
    return image;
}

void put16(QByteArray& out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

QByteArray cursorFile(const QImage& image)
{
    const int maskRowBytes = 4; // 32 pixels, one bit each, rows padded to 4 bytes
    const quint32 imageBytes = 40 + kSize * kSize * 4 + kSize * maskRowBytes;
    QByteArray out;
    put16(out, 0); // reserved
    put16(out, 2); // cursor
    put16(out, 1); // one image
    out.append(char(kSize));
    out.append(char(kSize));
    out.append(char(0)); // no palette
    out.append(char(0));
    put16(out, kHotX);
    put16(out, kHotY);
    put32(out, imageBytes);
    put32(out, 6 + 16);

    put32(out, 40); // BITMAPINFOHEADER
    put32(out, kSize);
    put32(out, kSize * 2); // colour rows and mask rows
    put16(out, 1);
    put16(out, 32);
    put32(out, 0);
    put32(out, kSize * kSize * 4 + kSize * maskRowBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = kSize - 1; y >= 0; --y) // rows run bottom-up
        for (int x = 0; x < kSize; ++x)
            put32(out, image.pixel(x, y)); // 0xAARRGGBB is BGRA in little-endian order
    for (int y = kSize - 1; y >= 0; --y) {
        quint32 bits = 0;
        for (int x = 0; x < kSize; ++x)
            if (qAlpha(image.pixel(x, y)) == 0)
                bits |= 1u << (31 - x);
        char b[4];
        qToBigEndian(bits, b);
        out.append(b, 4);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    return file.write(cursorFile(drawHand())) > 0 ? 0 : 1;
}
