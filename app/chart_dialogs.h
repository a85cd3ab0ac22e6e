#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace meterlink {

// The Chart tab's questions to the user, as dialogs; the tab takes stand-ins from tests.

// A CSV file or log image to chart; empty when the user cancelled.
QString askChartFileToOpen(QWidget* parent);
// Where to save the chart's image, with .png or .svg added as the chosen type says; empty
// when the user cancelled.
QString askChartImageName(QWidget* parent);
// The image's size in pixels, offered the chart's size on screen and the screen's; an
// invalid size when the user cancelled.
QSize askChartImageSize(QWidget* parent, QSize shown, QSize screen);

} // namespace meterlink
