#include "app/save_file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace meterlink {

std::optional<QString> askSaveFileName(QWidget* parent, const SaveFileRequest& request) {
    QFileDialog dialog(parent, request.title, request.folder, request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(request.folder.isEmpty()
                          ? request.initialName
                          : QDir(request.folder).filePath(request.initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

QString withCsvExtension(const QString& fileName) {
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty()) {
        return fileName;
    }
    return fileName + QStringLiteral(".csv");
}

} // namespace meterlink
