#pragma once

#include <QSize>
#include <QString>

#include <functional>

class QPainter;

namespace meterlink {

// Writes a picture `size` pixels large to `path`, drawn by `draw`: SVG (titled `title`) when
// the name ends in .svg, else PNG; whole or not at all. Empty when written, else why not.
QString writeImageFile(const QString& path, QSize size, const QString& title,
                       const std::function<void(QPainter&)>& draw);

} // namespace meterlink
