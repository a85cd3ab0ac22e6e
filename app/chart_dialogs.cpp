#include "app/chart_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>

namespace meterlink {

QString askChartFileToOpen(QWidget* parent) {
    return QFileDialog::getOpenFileName(
        parent, QStringLiteral("Open CSV or log image"), QString(),
        QStringLiteral("CSV files and log images (*.csv *.mlimg);;CSV files (*.csv);;Log images "
                       "(*.mlimg);;All files (*)"));
}

QString askChartImageName(QWidget* parent) {
    const QString png = QStringLiteral("PNG image (*.png)");
    const QString svg = QStringLiteral("SVG image (*.svg)");
    QString filter = png;
    QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("Save image"),
                                                QStringLiteral("chart.png"),
                                                png + QStringLiteral(";;") + svg, &filter);
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    return name;
}

QSize askChartImageSize(QWidget* parent, QSize shown, QSize screen) {
    // Full HD first: what a report or a slide takes; then the screen's own and the chart's
    // size on screen.
    const auto text = [](QSize size) {
        return QStringLiteral("%1 × %2").arg(size.width()).arg(size.height());
    };
    const QList<std::pair<QString, QSize>> sizes = {
        {text(QSize(1920, 1080)) + QStringLiteral(" (full HD)"), QSize(1920, 1080)},
        {text(QSize(1280, 720)), QSize(1280, 720)},
        {text(QSize(3840, 2160)) + QStringLiteral(" (4K)"), QSize(3840, 2160)},
        {text(screen) + QStringLiteral(" (this screen)"), screen},
        {text(shown) + QStringLiteral(" (as shown)"), shown},
    };
    QStringList items;
    for (const auto& size : sizes)
        items << size.first;
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(parent, QStringLiteral("Save image"),
                              QStringLiteral("Image size in pixels:"), items, 0, false, &ok);
    if (!ok)
        return QSize();
    return sizes.value(items.indexOf(chosen)).second;
}

} // namespace meterlink
