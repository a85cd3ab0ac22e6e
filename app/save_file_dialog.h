#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace meterlink {

struct SaveFileRequest {
    QString title;
    QString initialName;
    QString filter;
    QString folder; // where the dialog opens
};

// Asks for a file to save to; the chosen file with its full path, or nothing on cancel.
// The window takes one of these so tests can answer without a modal dialog.
using SaveFileChooser =
    std::function<std::optional<QString>(QWidget* parent, const SaveFileRequest& request)>;

std::optional<QString> askSaveFileName(QWidget* parent, const SaveFileRequest& request);

// A name typed without an extension gets ".csv"; any other name stays as it is.
QString withCsvExtension(const QString& fileName);

} // namespace meterlink
