#include "logger/append_state.h"

#include "logger/logger_memory.h"
#include "logger/record_decoder.h"

#include <QCryptographicHash>
#include <QList>
#include <QLocale>
#include <QSet>
#include <QStringDecoder>

#include <limits>

namespace meterlink {

namespace {

using logger_memory::blockBytes;
constexpr int maxStateBytes = 16 * 1024;
constexpr int recordBytes = 8;
// Banks 8 to 255 of 16 KB: the most a state block can announce.
constexpr qint64 maxLogLength = 248LL * 16384;
const QByteArray magic = "meterlink append state ";
const QByteArray checksumKey = "checksum ";

std::optional<qint64> boundedNumber(const QByteArray& text, qint64 min, qint64 max) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok || text.isEmpty() || !(text.at(0) >= '0' && text.at(0) <= '9') || value < min ||
        value > max)
        return std::nullopt;
    return value;
}

std::optional<QByteArray> hexBytes(const QByteArray& text, int size) {
    if (text.size() != size * 2)
        return std::nullopt;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
    return QByteArray::fromHex(text);
}

QByteArray hexLine(const char* key, const QString& text) {
    return QByteArray(key) + ' ' + text.toUtf8().toHex() + '\n';
}

CsvForm versionOneForm(bool iso, bool bom, const QString& localeName) {
    // Version 1 kept only the locale's name; its patterns are that locale's.
    CsvForm form;
    form.isoTimestamps = iso;
    form.byteOrderMark = bom;
    if (!iso) {
        const QLocale locale(localeName);
        form.localeName = locale.name();
        form.datePattern = dateFormatWithFullYear(locale);
        form.timePattern = timeFormatWithSeconds(locale);
    }
#ifdef Q_OS_WIN
    form.encoding = QStringLiteral("code-page");
#endif
    return form;
}

} // namespace

bool CsvForm::operator==(const CsvForm& other) const {
    return isoTimestamps == other.isoTimestamps && localeName == other.localeName &&
           datePattern == other.datePattern && timePattern == other.timePattern &&
           byteOrderMark == other.byteOrderMark && encoding == other.encoding &&
           fieldSeparator == other.fieldSeparator && decimalMark == other.decimalMark;
}

qint32 AppendState::lastBlock(qint32 logLength) {
    return logLength > 0 ? (logLength - 1) / blockBytes * blockBytes : 0;
}

QByteArray AppendState::toText() const {
    QByteArray text = magic + QByteArray::number(version) + '\n';
    text += hexLine("file", fileName);
    text += "log-length " + QByteArray::number(logLength) + '\n';
    text += "first-record " + firstRecord.toHex() + '\n';
    for (size_t k = 0; k < channelNames.size(); ++k)
        text += hexLine(QByteArray("channel-" + QByteArray::number(int(k) + 1)).constData(),
                        channelNames[k]);
    text += "seam-block " + QByteArray::number(seamBlock) + '\n';
    text += "seam-offset " + QByteArray::number(seamOffset) + '\n';
    text += "csv-size " + QByteArray::number(csvSize) + '\n';
    text += "csv-sha256 " + csvSha256.toHex() + '\n';
    text += QByteArray("timestamps ") + (form.isoTimestamps ? "iso" : "locale") + '\n';
    text += hexLine("locale", form.localeName);
    text += hexLine("date-pattern", form.datePattern);
    text += hexLine("time-pattern", form.timePattern);
    text += QByteArray("bom ") + (form.byteOrderMark ? "1" : "0") + '\n';
    text += hexLine("encoding", form.encoding);
    text += hexLine("separator", QString(form.fieldSeparator));
    text += hexLine("decimal-mark", QString(form.decimalMark));
    text += checksumKey + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex() + '\n';
    return text;
}

std::optional<AppendState> AppendState::parse(const QByteArray& text, QString* why) {
    const auto fail = [&](const QString& reason) -> std::optional<AppendState> {
        *why = reason;
        return std::nullopt;
    };
    if (text.size() > maxStateBytes)
        return fail(QStringLiteral("it is larger than a state file can be"));
    if (!text.startsWith(magic))
        return fail(QStringLiteral("it is not a meterlink state file"));
    QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || !lines.last().isEmpty())
        return fail(QStringLiteral("it is cut short"));
    lines.removeLast();
    const auto fileVersion = boundedNumber(lines.first().mid(magic.size()), 1, 1000000);
    if (!fileVersion)
        return fail(QStringLiteral("its version is not readable"));
    if (*fileVersion > version)
        return fail(QStringLiteral("it was made by a newer version of meterlink-cli"));
    if (*fileVersion > 1) {
        // The checksum covers every byte before its own line.
        const QByteArray last = lines.last();
        const qsizetype covered = text.size() - last.size() - 1;
        if (!last.startsWith(checksumKey))
            return fail(QStringLiteral("its checksum line is missing"));
        if (last.mid(checksumKey.size()) !=
            QCryptographicHash::hash(text.left(covered), QCryptographicHash::Sha256).toHex())
            return fail(QStringLiteral("its checksum does not match its lines (edited by hand?)"));
        lines.removeLast();
    }

    AppendState state;
    state.readVersion = int(*fileVersion);
    bool iso = false;
    bool bom = false;
    QString locale;
    QString separator;
    QString decimalMark;
    QSet<QByteArray> seen;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype blank = line.indexOf(' ');
        const QByteArray key = line.left(blank);
        const QByteArray value = blank < 0 ? QByteArray() : line.mid(blank + 1);
        if (blank < 0 || seen.contains(key))
            return fail(QStringLiteral("line %1 is not understood").arg(i + 1));
        seen.insert(key);
        bool good = true;
        const auto hexText = [&](int maxBytes) -> QString {
            const auto bytes = value.size() <= 2 * maxBytes ? hexBytes(value, int(value.size() / 2))
                                                            : std::nullopt;
            good = good && bytes.has_value();
            if (!bytes)
                return QString();
            // Text this program wrote is UTF-8; anything else was edited by hand.
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString text = utf8(*bytes);
            good = good && !utf8.hasError();
            return text;
        };
        const bool later = *fileVersion > 1;
        if (key == "file") {
            state.fileName = hexText(1024);
            good = good && !state.fileName.isEmpty() &&
                   !state.fileName.contains(QLatin1Char('/')) &&
                   !state.fileName.contains(QLatin1Char('\\')) &&
                   state.fileName != QLatin1String("..") && state.fileName != QLatin1String(".");
        } else if (key == "log-length") {
            const auto v = boundedNumber(value, recordBytes, maxLogLength);
            good = v.has_value();
            state.logLength = qint32(v.value_or(0));
        } else if (key == "first-record") {
            const auto v = hexBytes(value, recordBytes);
            good = v.has_value();
            state.firstRecord = v.value_or(QByteArray());
        } else if (key.startsWith("channel-") && key.size() == 9 && key.at(8) >= '1' &&
                   key.at(8) <= '8') {
            // 32 Latin-1 characters take up to 64 bytes as UTF-8.
            state.channelNames[size_t(key.at(8) - '1')] = hexText(64);
        } else if (key == "seam-block" && later) {
            const auto v = boundedNumber(value, 0, maxLogLength);
            good = v.has_value() && *v % blockBytes == 0;
            state.seamBlock = qint32(v.value_or(0));
        } else if (key == "seam-offset") {
            const auto v = boundedNumber(value, 0, std::numeric_limits<qint64>::max() / 2);
            good = v.has_value();
            state.seamOffset = v.value_or(0);
        } else if (key == "csv-size") {
            const auto v = boundedNumber(value, 0, std::numeric_limits<qint64>::max() / 2);
            good = v.has_value();
            state.csvSize = v.value_or(0);
        } else if (key == "csv-sha256") {
            const auto v = hexBytes(value, 32);
            good = v.has_value();
            state.csvSha256 = v.value_or(QByteArray());
        } else if (key == "timestamps") {
            good = value == "iso" || value == "locale";
            iso = value == "iso";
        } else if (key == "bom") {
            good = value == "0" || value == "1";
            bom = value == "1";
        } else if (key == "locale") {
            locale = hexText(64);
        } else if (key == "date-pattern" && later) {
            state.form.datePattern = hexText(256);
        } else if (key == "time-pattern" && later) {
            state.form.timePattern = hexText(256);
        } else if (key == "encoding" && later) {
            state.form.encoding = hexText(64);
            good = good && (state.form.encoding == QLatin1String("utf-8") ||
                            state.form.encoding == QLatin1String("code-page"));
        } else if (key == "separator" && later) {
            separator = hexText(4);
            good = good && separator.size() == 1;
        } else if (key == "decimal-mark" && later) {
            decimalMark = hexText(4);
            good = good && decimalMark.size() == 1;
        } else {
            good = false;
        }
        if (!good)
            return fail(QStringLiteral("line %1 is not understood").arg(i + 1));
    }
    if (seen.size() != (*fileVersion > 1 ? 23 : 17))
        return fail(QStringLiteral("it lacks some of its lines"));
    if (*fileVersion == 1) {
        state.form = versionOneForm(iso, bom, locale);
        state.seamBlock = lastBlock(state.logLength);
    } else {
        state.form.isoTimestamps = iso;
        state.form.byteOrderMark = bom;
        state.form.localeName = locale;
        state.form.fieldSeparator = separator.at(0);
        state.form.decimalMark = decimalMark.at(0);
        if (iso != (state.form.datePattern.isEmpty() && state.form.timePattern.isEmpty()))
            return fail(QStringLiteral("its timestamp patterns do not agree with its form"));
    }
    if (state.seamOffset > state.csvSize || state.seamBlock >= state.logLength)
        return fail(QStringLiteral("its numbers do not agree"));
    return state;
}

RecordDecoder formDecoder(GridModel& grid, const CsvForm& form, const QLocale& locale) {
    RecordDecoder decoder(grid, locale);
    if (form.isoTimestamps)
        decoder.useIsoTimestamps();
    else if (!form.datePattern.isEmpty() || !form.timePattern.isEmpty())
        decoder.useTimestampPatterns(form.datePattern, form.timePattern);
    return decoder;
}

RecordDecoder formDecoder(GridModel& grid, const CsvForm& form) {
    return formDecoder(grid, form, QLocale(form.localeName));
}

CsvForm environmentCsvForm(bool isoTimestamps, bool byteOrderMark) {
    CsvForm form;
    form.isoTimestamps = isoTimestamps;
    form.byteOrderMark = byteOrderMark;
#ifdef Q_OS_WIN
    form.encoding = QStringLiteral("code-page");
#endif
    if (isoTimestamps)
        return form;
    const QLocale system = QLocale::system();
#ifdef Q_OS_WIN
    form.localeName = system.name();
#else
    // The locale the system's time formats come from, as Qt itself finds it.
    QString name = qEnvironmentVariable("LC_ALL");
    if (name.isEmpty())
        name = qEnvironmentVariable("LC_TIME");
    if (name.isEmpty())
        name = qEnvironmentVariable("LANG");
    form.localeName = QLocale(name.isEmpty() ? QStringLiteral("C") : name).name();
#endif
    form.datePattern = dateFormatWithFullYear(system);
    form.timePattern = timeFormatWithSeconds(system);
    return form;
}

} // namespace meterlink
