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

// A line is UTF-8 when its bytes are valid UTF-8 (what Notepad and Linux editors save),
// else 8-bit Latin-1 (what earlier versions wrote).
QString decodeLine(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : decoded;
}

// Latin-1 where that reads back as the same text, so that 8-bit files stay 8-bit; UTF-8
// for characters beyond it and for Latin-1 bytes that would pass for UTF-8 ("\xC3\xB6").
QByteArray encodeLine(const QString& text) {
    const QByteArray latin1 = text.toLatin1();
    return decodeLine(latin1) == text ? latin1 : text.toUtf8();
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
                controls.slaveIdText = singleLineValue(valueOf(line));
                settings.SlaveId = roundToInt16Saturating(numericValue(controls.slaveIdText));
            }
            break;
        case 5:
            if (line.contains(QLatin1String("[DownloadSaveFile]"))) {
                settings.SaveFileName = singleLineValue(valueOf(line));
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
    lines << QStringLiteral("[CommSlaveID]=") + singleLineValue(controls.slaveIdText);
    lines << QStringLiteral("[DownloadSaveFile]=") + singleLineValue(controls.saveFileText);
    return writeLines(path(), lines);
}

QString singleLineValue(const QString& text) {
    QString value = text;
    value.remove(u'\r');
    value.remove(u'\n');
    return value;
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
