#include "app/image_file.h"

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

namespace meterlink {

QString writeImageFile(const QString& path, QSize size, const QString& title,
                       const std::function<void(QPainter&)>& draw) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool drawn = false;
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter painter;
        drawn = painter.begin(&svg);
        if (drawn) {
            draw(painter);
            drawn = painter.end();
        }
    } else {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        QPainter painter;
        drawn = painter.begin(&image);
        if (drawn) {
            painter.setRenderHint(QPainter::TextAntialiasing);
            draw(painter);
            drawn = painter.end() && image.save(&file, "PNG");
        }
    }
    if (!drawn)
        return QStringLiteral("the image was not made");
    if (!file.commit())
        return file.errorString();
    return QString();
}

} // namespace meterlink
