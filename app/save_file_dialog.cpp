#include "app/save_file_dialog.h"

#include <QFileDialog>

namespace meterlink {

std::optional<QString> askSaveFileName(QWidget* parent, const SaveFileRequest& request) {
    const QString chosen =
        QFileDialog::getSaveFileName(parent, request.title, request.initialName, request.filter);
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen;
}

} // namespace meterlink
