#include "logger/csv_export.h"

#include "logger/grid_model.h"

#include <QDir>
#include <QSaveFile>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace meterlink {

#ifdef Q_OS_WIN
CodePage systemCsvCodePage() {
    return [](const QString& text) -> std::optional<QByteArray> {
        const UINT codePage = GetACP();
        if (codePage == CP_UTF8)
            return text.toUtf8(); // it takes no default-character report
        if (text.isEmpty())
            return QByteArray();
        const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
        const int length = int(text.size());
        // No best fit: "ö" turned into "o" is a character lost as surely as "?".
        BOOL usedDefault = FALSE;
        const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, length, nullptr,
                                             0, nullptr, &usedDefault);
        if (size <= 0 || usedDefault)
            return std::nullopt;
        QByteArray bytes(size, Qt::Uninitialized);
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, length, bytes.data(), size,
                            nullptr, nullptr);
        return bytes;
    };
}
#else
CodePage systemCsvCodePage() {
    return {};
}
#endif

QByteArray csvFileBytes(const QString& text, const CodePage& codePage) {
    if (!codePage)
        return text.toUtf8();
    if (std::optional<QByteArray> bytes = codePage(text))
        return *std::move(bytes);
    return QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8();
}

QString csvField(const QString& text, QChar separator) {
    for (const QChar c : text) {
        if (c == separator || c == u'"' || c == u'\r' || c == u'\n') {
            QString quoted = text;
            quoted.replace(u'"', QLatin1String("\"\""));
            return u'"' + quoted + u'"';
        }
    }
    return text;
}

QByteArray CsvExport::fileBytes(const GridModel& grid, qint32 LastGridRow,
                                const ChannelFlags& ChannelInUse) const {
    // The whole text first: whether the code page holds it is known only at its end.
    const bool semicolon = dialect_ == CsvDialect::Semicolon;
    const QChar separator = semicolon ? u';' : u',';
    QString text;
    for (qint32 row = 1; row <= LastGridRow; ++row) {
        text += csvField(grid.TextMatrix(row, 1), separator);
        for (int k = 1; k <= channelCount; ++k) {
            if (ChannelInUse[size_t(k)] != 0) {
                text += separator;
                // Row 1 holds the channels' names, the rows below their readings.
                QString field = grid.TextMatrix(row, k + 1);
                if (semicolon && row > 1)
                    field.replace(u'.', u',');
                text += csvField(field, separator);
            }
        }
        text += QLatin1String("\r\n");
    }
    return csvFileBytes(text, codePage_);
}

bool CsvExport::ExportCsv(const GridModel& grid, qint32 LastGridRow,
                          const ChannelFlags& ChannelInUse, const QString& fileName) {
    failureReason_.clear();
    if (fileName.isEmpty()) {
        failureReason_ = QStringLiteral("No file name to write the records to");
        return false;
    }
    return writeFileWhole(fileName, fileBytes(grid, LastGridRow, ChannelInUse), &failureReason_);
}

bool writeFileWhole(const QString& path, const QByteArray& bytes, QString* why) {
    QSaveFile file(path);
    // Unbuffered: a write that fails (a full disk) then keeps the system's words for it.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && writeEveryByte(file, bytes) &&
        file.commit())
        return true;
    *why = QStringLiteral("Cannot write %1: %2")
               .arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

bool writeEveryByte(QIODevice& device, const QByteArray& bytes) {
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = device.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

} // namespace meterlink
