// Renders quorvane.svg into the PNG sizes committed beside it. Run by hand after
// changing the drawing (needs Qt's SVG module, Debian qt6-svg-dev):
//   cmake --build build --target quorvane_render_icons && build/packaging/quorvane_render_icons packaging/icons
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QSvgRenderer svg(dir + QStringLiteral("/quorvane.svg"));
    if (!svg.isValid()) {
        std::fprintf(stderr, "cannot read %s/quorvane.svg\n", qPrintable(dir));
        return 1;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p);
        p.end();
        const QString file = dir + QStringLiteral("/quorvane-%1.png").arg(size);
        if (!image.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
