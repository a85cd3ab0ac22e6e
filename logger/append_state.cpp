#include "logger/append_state.h"

#include <QList>
#include <QSet>
#include <QStringDecoder>

#include <limits>

namespace meterlink {

namespace {

constexpr int maxStateBytes = 16 * 1024;
constexpr int blockBytes = 1024;
constexpr int recordBytes = 8;
// Banks 8 to 255 of 16 KB: the most a state block can announce.
constexpr qint64 maxLogLength = 248LL * 16384;
const QByteArray magic = "meterlink append state ";

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

} // namespace

qint32 AppendState::seamBlock() const {
    return logLength > 0 ? (logLength - 1) / blockBytes * blockBytes : 0;
}

QByteArray AppendState::toText() const {
    QByteArray text = magic + QByteArray::number(version) + '\n';
    text += "file " + fileName.toUtf8().toHex() + '\n';
    text += "log-length " + QByteArray::number(logLength) + '\n';
    text += "first-record " + firstRecord.toHex() + '\n';
    for (size_t k = 0; k < channelNames.size(); ++k)
        text += "channel-" + QByteArray::number(int(k) + 1) + ' ' +
                channelNames[k].toUtf8().toHex() + '\n';
    text += "seam-offset " + QByteArray::number(seamOffset) + '\n';
    text += "csv-size " + QByteArray::number(csvSize) + '\n';
    text += "csv-sha256 " + csvSha256.toHex() + '\n';
    text += QByteArray("timestamps ") + (isoTimestamps ? "iso" : "locale") + '\n';
    text += QByteArray("bom ") + (byteOrderMark ? "1" : "0") + '\n';
    text += "locale " + locale.toUtf8().toHex() + '\n';
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

    AppendState state;
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
            state.isoTimestamps = value == "iso";
        } else if (key == "bom") {
            good = value == "0" || value == "1";
            state.byteOrderMark = value == "1";
        } else if (key == "locale") {
            state.locale = hexText(64);
        } else {
            good = false;
        }
        if (!good)
            return fail(QStringLiteral("line %1 is not understood").arg(i + 1));
    }
    if (seen.size() != 17)
        return fail(QStringLiteral("it lacks some of its lines"));
    if (state.seamOffset > state.csvSize)
        return fail(QStringLiteral("its numbers do not agree"));
    return state;
}

} // namespace meterlink
