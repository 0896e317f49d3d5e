// Renders one SVG icon into the PNG sizes of the hicolor icon theme at build
// time, so that desktops without an SVG loader still show a sharp icon:
//   quorvane-render-icon ICON.svg OUTDIR NAME SIZE[=DRAWING.svg]...
// writes OUTDIR/<SIZE>x<SIZE>/NAME.png for every size. A size given with a
// drawing of its own (a simplified one on the pixel grid: scaled down, the
// full icon blurs into a blob) takes that drawing instead of ICON.svg.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

// Where the drawing goes in a square of the given size: scaled to fill it,
// except a drawing made up to two pixels larger (a 24 px one for 22 px),
// which keeps its own pixels and loses only its empty margin.
QRectF placement(const QSvgRenderer& renderer, int size) {
    const QSize own = renderer.defaultSize();
    if (own.width() == own.height() && own.width() >= size && own.width() <= size + 2) {
        const qreal margin = (own.width() - size) / 2.0;
        return QRectF(-margin, -margin, own.width(), own.height());
    }
    return QRectF(0, 0, size, size);
}

bool renderSize(QSvgRenderer& renderer, const QString& folder, const QString& name, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, placement(renderer, size));
    }
    const QString sizeFolder = folder + QStringLiteral("/%1x%1").arg(size);
    if (!QDir().mkpath(sizeFolder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(sizeFolder));
        return false;
    }
    const QString target = sizeFolder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!image.save(target, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s ICON.svg OUTDIR NAME SIZE[=DRAWING.svg]...\n", argv[0]);
        return 2;
    }
    // No window is ever shown: the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "not a usable SVG: %s\n", argv[1]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        bool isNumber = false;
        const int size = argument.left(equals).toInt(&isNumber);
        if (!isNumber || size <= 0 || size > 4096) {
            std::fprintf(stderr, "not an icon size: %s\n", argv[i]);
            return 2;
        }
        if (equals < 0) {
            if (!renderSize(renderer, folder, name, size))
                return 1;
            continue;
        }
        QSvgRenderer drawing(argument.mid(equals + 1));
        if (!drawing.isValid()) {
            std::fprintf(stderr, "not a usable SVG: %s\n", argv[i]);
            return 1;
        }
        if (!renderSize(drawing, folder, name, size))
            return 1;
    }
    return 0;
}
