#include "sim/image_log.h"

#include <QCryptographicHash>

#include <map>

namespace meterlink {

namespace {

quint64 big(const QByteArray& bytes, qsizetype at, int count) {
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | static_cast<quint8>(bytes.at(at + i));
    return value;
}

} // namespace

std::optional<MeterLog> meterLogFromImage(const QByteArray& image, QString* why) {
    const auto refuse = [&](const QString& reason) -> std::optional<MeterLog> {
        *why = reason;
        return std::nullopt;
    };
    // Magic, version, length, time, slave, speed, version text length; SHA-256 at the end.
    constexpr int header = 33;
    constexpr int digest = 32;
    if (!image.startsWith("MLLOGIMG"))
        return refuse(QStringLiteral("not a log image"));
    if (image.size() < header + digest)
        return refuse(QStringLiteral("the image is cut short"));
    if (big(image, 8, 2) != 1)
        return refuse(QStringLiteral("image format %1 is not format 1").arg(big(image, 8, 2)));
    if (big(image, 10, 8) != static_cast<quint64>(image.size()))
        return refuse(QStringLiteral("the image is %1 bytes, its header says %2")
                          .arg(image.size())
                          .arg(big(image, 10, 8)));
    const qsizetype body = image.size() - digest;
    if (QCryptographicHash::hash(image.left(body), QCryptographicHash::Sha256) != image.mid(body))
        return refuse(QStringLiteral("the image's checksum does not match"));

    MeterLog log;
    for (int k = 1; k <= MeterLog::ChannelCount; ++k)
        log.setChannelName(k, QStringLiteral("Not Used")); // an answer missing from the image
    std::map<qint64, QByteArray> blocks;
    qsizetype at = header + static_cast<quint8>(image.at(32));
    while (at + 9 <= body) {
        const int kind = static_cast<quint8>(image.at(at));
        const quint64 key = big(image, at + 1, 4);
        const quint64 size = big(image, at + 5, 4);
        at += 9;
        if (size > static_cast<quint64>(body - at))
            return refuse(QStringLiteral("a block runs past the image's end"));
        const QByteArray data = image.mid(at, static_cast<qsizetype>(size));
        at += static_cast<qsizetype>(size);
        if (kind == 1)
            log.setRawStateBlock(data);
        else if (kind == 2 && key >= 1 && key <= MeterLog::ChannelCount)
            log.setRawConfigBlock(static_cast<int>(key), data);
        else if (kind == 3)
            blocks[static_cast<qint64>(key)] = data;
    }
    if (at != body)
        return refuse(QStringLiteral("a block header runs past the image's end"));

    // The memory as the answers showed it; whatever no answer covered reads erased.
    QByteArray memory;
    for (const auto& [offset, data] : blocks) {
        if (memory.size() < offset + data.size())
            memory.append(QByteArray(offset + data.size() - memory.size(), '\xFF'));
        memory.replace(offset, data.size(), data);
    }
    if (memory.size() % MeterLog::RecordBytes != 0)
        memory.append(
            QByteArray(MeterLog::RecordBytes - memory.size() % MeterLog::RecordBytes, '\xFF'));
    for (qsizetype r = 0; r < memory.size(); r += MeterLog::RecordBytes) {
        if (!log.append(LogRecord::fromRaw(memory.mid(r, MeterLog::RecordBytes))))
            return refuse(QStringLiteral("the image's log is larger than the simulator's memory"));
    }
    return log;
}

} // namespace meterlink
