#include "logger/csv_export.h"

#include "logger/grid_model.h"

#include <QDir>
#include <QSaveFile>

namespace meterlink {

qint16 CsvExport::ExportCsv(const GridModel& grid, qint32 LastGridRow,
                            const ChannelFlags& ChannelInUse, const QString& fileName) {
    failureReason_.clear();
    const QString shownName = QDir::toNativeSeparators(fileName);
    if (fileName.isEmpty()) {
        failureReason_ = QStringLiteral("No file name to write the records to");
        return 0;
    }

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        failureReason_ = QStringLiteral("Cannot write %1: %2").arg(shownName, file.errorString());
        return 0;
    }

    QByteArray line;
    for (qint32 row = 1; row <= LastGridRow; ++row) {
        line = grid.TextMatrix(row, 1).toLatin1();
        for (int k = 1; k <= channelCount; ++k) {
            if (ChannelInUse[size_t(k)] != 0) {
                line += ',';
                line += grid.TextMatrix(row, k + 1).toLatin1();
            }
        }
        line += "\r\n";
        if (file.write(line) != line.size()) {
            failureReason_ =
                QStringLiteral("Cannot write %1: %2").arg(shownName, file.errorString());
            file.cancelWriting();
            return 0;
        }
    }
    if (!file.commit()) {
        failureReason_ = QStringLiteral("Cannot write %1: %2").arg(shownName, file.errorString());
        return 0;
    }
    return -1;
}

} // namespace meterlink
