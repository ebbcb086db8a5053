// Rendering the SVG artwork into the three variants a tool button shows.
#include "widgets/Icons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

QImage Render(const QString& name, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

QImage Brighter(QImage image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int a = qAlpha(p);
            const auto up = [a](int c) { return std::min(a, c + (a - c) / 3); };
            line[x] = qRgba(up(qRed(p)), up(qGreen(p)), up(qBlue(p)), a);
        }
    }
    return image;
}

QImage Greyed(QImage image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int a = qAlpha(p) * 45 / 100;
            const int grey = qGray(p) * 45 / 100 + a * 30 / 100;
            line[x] = qRgba(std::min(grey, a), std::min(grey, a), std::min(grey, a), a);
        }
    }
    return image;
}

} // namespace

QIcon ToolIcon(const QString& name, int size) {
    const QImage normal = Render(name, size);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(Brighter(normal)), QIcon::Active);
    icon.addPixmap(QPixmap::fromImage(Greyed(normal)), QIcon::Disabled);
    return icon;
}
