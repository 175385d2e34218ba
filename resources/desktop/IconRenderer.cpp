// Renders the program's SVG icon into PNG files of the given pixel sizes, for
// desktops and packages that want the hicolor bitmaps beside the SVG.
//
//   tervolo_icon_renderer <icon.svg> <output folder> <size>...
//
// writes <output folder>/<size>x<size>/apps/<icon file name>.png.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <icon.svg> <output folder> <size>...\n", argv[0]);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const QString name = QFileInfo(QString::fromLocal8Bit(argv[1])).completeBaseName();
    const QDir output(QString::fromLocal8Bit(argv[2]));
    for (int index = 3; index < argc; ++index) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[index]).toInt(&ok);
        if (!ok || size <= 0 || size > 4096) {
            std::fprintf(stderr, "%s: not a size: %s\n", argv[0], argv[index]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!output.mkpath(folder)) {
            std::fprintf(stderr, "%s: cannot make %s\n", argv[0], qPrintable(output.filePath(folder)));
            return 1;
        }
        const QString file = output.filePath(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (!image.convertToFormat(QImage::Format_ARGB32).save(file, "PNG", 0)) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
