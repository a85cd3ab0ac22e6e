#include "settings/settings_file.h"

#include "settings/numeric_value.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>

namespace meterlink {

namespace {

constexpr int kLineCount = 5;
// Longer lines are cut here so a runaway file cannot exhaust memory; no real setting
// comes near it.
constexpr qint64 kMaxLineBytes = 4 * 1024 * 1024;

// Reads one line without its end (LF or CR LF); the part beyond kMaxLineBytes is skipped
// so that the next call still starts on the next line. False at end of file.
bool readLine(QFile& file, QByteArray& line) {
    line.clear();
    if (file.atEnd()) {
        return false;
    }
    bool complete = false;
    while (!complete && !file.atEnd()) {
        QByteArray chunk = file.readLine(64 * 1024 + 1);
        if (chunk.isEmpty()) {
            break; // read error: what was read so far is the line
        }
        if (chunk.endsWith('\n')) {
            chunk.chop(1);
            complete = true;
        }
        if (line.size() < kMaxLineBytes) {
            line.append(chunk.left(kMaxLineBytes - line.size()));
        }
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return true;
}

// Lines are 8-bit text. A text that needs characters beyond Latin-1 (a path chosen in the
// save dialog, say) is written as UTF-8 rather than losing them, and recognised on reading.
QByteArray encodeLine(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0xFF) {
            return text.toUtf8();
        }
    }
    return text.toLatin1();
}

QString decodeLine(const QByteArray& bytes) {
    bool beyondLatin1 = false;
    for (const char b : bytes) {
        // Lead bytes from 0xC4 on start UTF-8 sequences above U+00FF.
        if (static_cast<unsigned char>(b) >= 0xC4) {
            beyondLatin1 = true;
            break;
        }
    }
    if (beyondLatin1) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(bytes);
        if (!utf8.hasError()) {
            return decoded;
        }
    }
    return QString::fromLatin1(bytes);
}

QString valueOf(const QString& line) {
    const qsizetype equals = line.indexOf(u'=');
    return equals < 0 ? line : line.mid(equals + 1);
}

bool writeLines(const QString& path, const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += encodeLine(line) + "\r\n";
    }
    // Unbuffered, so a short write (disk full) shows here: a buffered one is lost in the
    // final flush and the truncated file would be committed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

SettingsFile::SettingsFile(QString directory) : directory_(std::move(directory)) {}

QString SettingsFile::path() const {
    return QDir(directory_).filePath(QString::fromLatin1(kSettingsFileName));
}

bool SettingsFile::exists() const {
    return QFileInfo::exists(path());
}

bool SettingsFile::WriteDefaultSettings() const {
    return writeLines(path(),
                      {QStringLiteral("[Commport]=1"), QStringLiteral("[CommBaud]=38400"),
                       QStringLiteral("[CommFlow]=Hardware"), QStringLiteral("[CommSlaveID]=001"),
                       QStringLiteral("[DownloadSaveFile]=Logdata.csv")});
}

bool SettingsFile::LoadSettings(SettingsControls& controls, Settings& settings) const {
    QFile file(path());
    if (QFileInfo(file).isDir() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    QByteArray bytes;
    for (int lineNumber = 1; lineNumber <= kLineCount && readLine(file, bytes); ++lineNumber) {
        const QString line = decodeLine(bytes);
        switch (lineNumber) {
        case 1:
            if (line.contains(QLatin1String("[Commport]"))) {
                const auto port = roundToInt16(numericValue(valueOf(line)));
                if (port && *port >= 1 && *port <= kPortOptionCount) {
                    settings.PortNumber = *port;
                } else {
                    settings.PortNumber = 1;
                }
                controls.portOption = settings.PortNumber - 1;
            }
            break;
        case 2:
            if (line.contains(QLatin1String("[CommBaud]"))) {
                const QString baud = QString::number(numericValue(valueOf(line)), 'g',
                                                     QLocale::FloatingPointShortest);
                controls.baudOption = int(kBaudCaptions.size()) - 1;
                for (int i = 0; i < int(kBaudCaptions.size()); ++i) {
                    if (baud == QLatin1String(kBaudCaptions[i])) {
                        controls.baudOption = i;
                        break;
                    }
                }
                settings.BaudText = QString::fromLatin1(kBaudCaptions[controls.baudOption]);
            }
            break;
        case 3:
            break; // the flow choice is stored but never read back
        case 4:
            if (line.contains(QLatin1String("[CommSlaveID]"))) {
                controls.slaveIdText = valueOf(line);
                settings.SlaveId = roundToInt16Saturating(numericValue(controls.slaveIdText));
            }
            break;
        case 5:
            if (line.contains(QLatin1String("[DownloadSaveFile]"))) {
                settings.SaveFileName = valueOf(line);
                controls.saveFileText = settings.SaveFileName;
            }
            break;
        }
    }
    return true;
}

bool SettingsFile::SaveSettings(const SettingsControls& controls) const {
    QStringList lines;
    if (controls.portOption >= 0 && controls.portOption < kPortOptionCount) {
        lines << QStringLiteral("[Commport]=%1").arg(controls.portOption + 1);
    }
    if (controls.baudOption >= 0 && controls.baudOption < int(kBaudCaptions.size())) {
        lines << QStringLiteral("[CommBaud]=") + QLatin1String(kBaudCaptions[controls.baudOption]);
    }
    if (controls.flowOption == kFlowNone) {
        lines << QStringLiteral("[CommHandshaking]=none");
    } else if (controls.flowOption == kFlowHardware) {
        lines << QStringLiteral("[CommHandshaking]=Hardware");
    }
    lines << QStringLiteral("[CommSlaveID]=") + controls.slaveIdText;
    lines << QStringLiteral("[DownloadSaveFile]=") + controls.saveFileText;
    return writeLines(path(), lines);
}

void putInForce(const SettingsControls& controls, Settings& settings) {
    if (controls.portOption >= 0 && controls.portOption < kPortOptionCount) {
        settings.PortNumber = qint16(controls.portOption + 1);
    }
    if (controls.baudOption >= 0 && controls.baudOption < int(kBaudCaptions.size())) {
        settings.BaudText = QString::fromLatin1(kBaudCaptions[controls.baudOption]);
    }
    settings.SlaveId = roundToInt16Saturating(numericValue(controls.slaveIdText));
    settings.SaveFileName = controls.saveFileText;
}

} // namespace meterlink
