// Renders Kestrune's SVG mark into the PNG sizes of the hicolor icon theme, so menus and docks
// that do not draw SVG still show the blue K sharp at every size they ask for. Run at build
// time: make_icons <icon.svg> <output folder> <icon name> <size>...
// Each size goes to <output folder>/<size>x<size>/apps/<icon name>.png.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

// A name ending so gets the pixels as they are in memory (premultiplied ARGB, rows top-down),
// for a program that builds its icon from them at start with no image reader.
const QLatin1String kRawSuffix(".argb32p");

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: make_icons <icon.svg> <output folder> <icon name> <size>...\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "make_icons: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString outFolder = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            std::fprintf(stderr, "make_icons: %s is no icon size\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            renderer.render(&p, QRectF(0, 0, size, size));
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outFolder).arg(size);
        const bool raw = name.endsWith(kRawSuffix);
        const QString file = QStringLiteral("%1/%2%3").arg(folder, name, raw ? "" : ".png");
        QFile out(file);
        if (!QDir().mkpath(folder) ||
            !(raw ? out.open(QIODevice::WriteOnly) &&
                        out.write(reinterpret_cast<const char*>(image.constBits()),
                                  image.sizeInBytes()) == image.sizeInBytes()
                  : image.save(file, "PNG"))) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
