#include "logger/log_image.h"

#include "logger/append_state.h"
#include "logger/csv_export.h"
#include "logger/grid_model.h"
#include "logger/log_reader.h"
#include "logger/logger_memory.h"
#include "logger/record_decoder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <limits>

// The build names the version; a compile of this file alone (the Windows check) does not.
#ifndef METERLINK_VERSION
#define METERLINK_VERSION "unknown"
#endif

namespace meterlink {

namespace {

using namespace logger_memory;

enum BlockKind : quint8 { StateBlock = 1, ChannelBlock = 2, LogBlock = 3 };

constexpr int checksumBytes = 32;
// Magic, version, length, time, slave, speed and the version text's length.
constexpr int fixedHeaderBytes = 8 + 2 + 8 + 8 + 2 + 4 + 1;
constexpr int blockHeaderBytes = 1 + 4 + 4;
// The log memory's banks 8 to 255 and the answers around them; anything longer is no image.
constexpr qint64 largestImageBytes = 8LL * 1024 * 1024;

void putBig(QByteArray& out, quint64 value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

quint64 bigAt(const QByteArray& in, qsizetype at, int bytes) {
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | quint8(in.at(at + i));
    return value;
}

void putBlock(QByteArray& out, BlockKind kind, quint32 key, const QByteArray& data) {
    putBig(out, kind, 1);
    putBig(out, key, 4);
    putBig(out, quint32(data.size()), 4);
    out.append(data);
}

} // namespace

const QByteArray LogImage::magic = QByteArrayLiteral("MLLOGIMG");

QString meterlinkVersion() {
    return QStringLiteral(METERLINK_VERSION);
}

QByteArray LogImage::toBytes() const {
    QByteArray out = magic;
    putBig(out, formatVersion, 2);
    putBig(out, 0, 8); // the length, filled in below
    putBig(out, quint64(readAt.toMSecsSinceEpoch()), 8);
    putBig(out, quint16(slave), 2);
    putBig(out, quint32(baud), 4);
    const QByteArray version = madeBy.toUtf8().left(255);
    putBig(out, quint8(version.size()), 1);
    out.append(version);
    if (stateBlock)
        putBlock(out, StateBlock, 0, *stateBlock);
    for (int k = 1; k <= channelCount; ++k)
        if (channels[size_t(k - 1)])
            putBlock(out, ChannelBlock, quint32(k), *channels[size_t(k - 1)]);
    for (const auto& [offset, data] : logBlocks)
        putBlock(out, LogBlock, quint32(offset), data);
    QByteArray length;
    putBig(length, quint64(out.size() + checksumBytes), 8);
    out.replace(10, 8, length);
    out.append(QCryptographicHash::hash(out, QCryptographicHash::Sha256));
    return out;
}

std::optional<LogImage> LogImage::fromBytes(const QByteArray& bytes, QString* why) {
    const auto refuse = [&](const QString& reason) -> std::optional<LogImage> {
        *why = reason;
        return std::nullopt;
    };
    if (bytes.size() < magic.size() + 2) {
        if (magic.startsWith(bytes) || bytes.startsWith(magic))
            return refuse(QStringLiteral("it is cut short (%1 bytes)").arg(bytes.size()));
        return refuse(QStringLiteral("it is not a meterlink log image"));
    }
    if (!bytes.startsWith(magic))
        return refuse(QStringLiteral("it is not a meterlink log image"));
    const auto version = quint16(bigAt(bytes, 8, 2));
    if (version > formatVersion)
        return refuse(QStringLiteral("it is in image format %1, made by a newer meterlink; this "
                                     "one (%2) reads format %3")
                          .arg(version)
                          .arg(meterlinkVersion())
                          .arg(formatVersion));
    if (version == 0)
        return refuse(QStringLiteral("its image format 0 does not exist"));
    if (bytes.size() < fixedHeaderBytes)
        return refuse(QStringLiteral("it is cut short (%1 bytes)").arg(bytes.size()));
    const quint64 length = bigAt(bytes, 10, 8);
    if (quint64(bytes.size()) < length)
        return refuse(
            QStringLiteral("it is cut short (%1 of its %2 bytes)").arg(bytes.size()).arg(length));
    if (quint64(bytes.size()) > length)
        return refuse(QStringLiteral("it has %1 bytes more than its header says")
                          .arg(quint64(bytes.size()) - length));
    if (length < quint64(fixedHeaderBytes + checksumBytes))
        return refuse(QStringLiteral("its header gives an impossible length (%1)").arg(length));
    const qsizetype body = bytes.size() - checksumBytes;
    if (QCryptographicHash::hash(QByteArrayView(bytes).first(body), QCryptographicHash::Sha256) !=
        bytes.mid(body))
        return refuse(QStringLiteral("its checksum does not match: the file was changed or "
                                     "damaged after it was written"));

    // From here on the bytes are as meterlink wrote them; a fault is a fault of the writer.
    LogImage image;
    image.readAt = QDateTime::fromMSecsSinceEpoch(qint64(bigAt(bytes, 18, 8)), Qt::UTC);
    image.slave = int(bigAt(bytes, 26, 2));
    image.baud = qint32(bigAt(bytes, 28, 4));
    const int versionLength = int(bigAt(bytes, 32, 1));
    qsizetype at = fixedHeaderBytes;
    if (at + versionLength > body)
        return refuse(QStringLiteral("its header runs past its end"));
    image.madeBy = QString::fromUtf8(bytes.mid(at, versionLength));
    at += versionLength;
    while (at < body) {
        if (at + blockHeaderBytes > body)
            return refuse(QStringLiteral("a block's header at byte %1 runs past the end").arg(at));
        const auto kind = quint8(bigAt(bytes, at, 1));
        const auto key = quint32(bigAt(bytes, at + 1, 4));
        const quint64 size = bigAt(bytes, at + 5, 4);
        at += blockHeaderBytes;
        if (size > quint64(body - at))
            return refuse(QStringLiteral("the block at byte %1 runs past the end").arg(at));
        const QByteArray data = bytes.mid(at, qsizetype(size));
        at += qsizetype(size);
        switch (kind) {
        case StateBlock:
            image.stateBlock = data;
            break;
        case ChannelBlock:
            if (key < 1 || key > quint32(channelCount))
                return refuse(QStringLiteral("it holds an answer for channel %1").arg(key));
            image.channels[key - 1] = data;
            break;
        case LogBlock:
            if (key > quint32(std::numeric_limits<qint32>::max()))
                return refuse(QStringLiteral("it holds a log block at byte %1").arg(key));
            image.logBlocks[qint32(key)] = data;
            break;
        default:
            break; // a kind a later meterlink adds without changing the format's meaning
        }
    }
    return image;
}

std::optional<qint32> LogImage::logLength(QString* why) const {
    if (!stateBlock) {
        *why = QStringLiteral("it holds no logger state block");
        return std::nullopt;
    }
    return logLengthFromStateBlock(*stateBlock, why);
}

std::optional<QByteArray> LogImage::logBytes(QString* why) const {
    const auto length = logLength(why);
    if (!length)
        return std::nullopt;
    QByteArray log;
    for (qint32 offset = 0; offset < *length; offset += blockBytes) {
        const auto block = logBlocks.find(offset);
        if (block == logBlocks.end()) {
            *why = QStringLiteral("it lacks the log block at byte %1").arg(offset);
            return std::nullopt;
        }
        log += block->second.left(qMin<qint32>(blockBytes, *length - offset));
    }
    return log;
}

std::optional<QByteArray> LogImage::csv(const QLocale& locale, bool isoTimestamps,
                                        bool byteOrderMark, QString* why,
                                        CsvDialect dialect) const {
    const auto length = logLength(why);
    if (!length)
        return std::nullopt;
    if (*length == 0) {
        *why = QStringLiteral("its log is empty");
        return std::nullopt;
    }
    // The download's own steps: the header row, then each block as it came, through the
    // same decoder and writer.
    GridModel grid;
    grid.setTextMatrix(1, 0, QStringLiteral("Record #"));
    grid.setTextMatrix(1, 1, QStringLiteral("Date / Time"));
    ChannelFlags inUse{};
    for (int k = 1; k <= channelCount; ++k) {
        const auto& answer = channels[size_t(k - 1)];
        if (!answer)
            continue;
        const QString name = QString::fromLatin1(
            LogReader::StripHighChars(answer->mid(channelNameOffset, channelNameLength)));
        if (LogReader::unusedChannelName(name))
            continue;
        inUse[size_t(k)] = true;
        grid.setTextMatrix(1, k + 1, name);
    }
    CsvForm form;
    form.isoTimestamps = isoTimestamps;
    RecordDecoder decoder = formDecoder(grid, form, locale);
    qint32 lastGridRow = 1;
    for (qint32 offset = 0; offset < *length; offset += blockBytes) {
        const auto block = logBlocks.find(offset);
        if (block == logBlocks.end()) {
            *why = QStringLiteral("it lacks the log block at byte %1").arg(offset);
            return std::nullopt;
        }
        decoder.DecodeRecord(block->second, lastGridRow);
    }
    // The years the download gave, counted back from when it read the log.
    if (isoTimestamps && readAt.isValid())
        setIsoYears(grid, 2, lastGridRow, QDate(), readAt.toLocalTime());

    CsvExport writer;
    writer.setDialect(dialect);
    return (byteOrderMark ? QByteArrayLiteral("\xEF\xBB\xBF") : QByteArray()) +
           writer.fileBytes(grid, lastGridRow, inUse);
}

void LogImageRecorder::channelRead(int channel, const QByteArray& data) {
    if (channel >= 1 && channel <= channelCount)
        image_.channels[size_t(channel - 1)] = data;
}

std::optional<LogImage> readLogImage(const QString& path, QString* why) {
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("Cannot read %1: %2").arg(shown, file.errorString());
        return std::nullopt;
    }
    if (file.size() > largestImageBytes) {
        *why = QStringLiteral("%1 is not a meterlink log image: it is %2 bytes long")
                   .arg(shown)
                   .arg(file.size());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    QString reason;
    auto image = LogImage::fromBytes(bytes, &reason);
    if (!image)
        *why = QStringLiteral("%1 cannot be used: %2").arg(shown, reason);
    return image;
}

bool writeLogImage(const QString& path, const LogImage& image, QString* why) {
    const QByteArray bytes = image.toBytes();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *why = QStringLiteral("Cannot write %1: %2")
               .arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

} // namespace meterlink
