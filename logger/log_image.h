#pragma once

#include "logger/channel_flags.h"
#include "logger/csv_export.h"
#include "logger/log_answer_sink.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <array>
#include <map>
#include <optional>

namespace meterlink {

// What the meter answered to one download, kept so that its CSV can be made again in any
// form, or the log served again by the simulator. Only the answers' data bytes are kept:
// they are all the decoder reads, and each answer's CRC was checked when it came.
struct LogImage {
    static constexpr quint16 formatVersion = 1;
    static const QByteArray magic;

    QDateTime readAt; // when the download ended (UTC)
    int slave = 0;
    qint32 baud = 0;
    QString madeBy; // meterlink's version
    std::optional<QByteArray> stateBlock;
    // Channel k's configuration answer at index k - 1; none when it was not read.
    std::array<std::optional<QByteArray>, channelCount> channels;
    std::map<qint32, QByteArray> logBlocks; // by the log's byte offset

    QByteArray toBytes() const;
    // None, with a reason that names what is wrong, for a file that is not a whole image
    // of a format this meterlink reads.
    static std::optional<LogImage> fromBytes(const QByteArray& bytes, QString* why);

    // The log length the state block gives, or none (with the reason).
    std::optional<qint32> logLength(QString* why) const;
    // The log's bytes as one run, each block at its offset; none when a block is missing.
    std::optional<QByteArray> logBytes(QString* why) const;

    // The CSV bytes a download of these answers writes with these options.
    std::optional<QByteArray> csv(const QLocale& locale, bool isoTimestamps, bool byteOrderMark,
                                  QString* why, CsvDialect dialect = CsvDialect::Comma) const;
};

// Keeps the answers a download hands it, for an image.
class LogImageRecorder : public LogAnswerSink {
public:
    explicit LogImageRecorder(LogImage& image) : image_(image) {}
    void stateBlockRead(const QByteArray& data) override { image_.stateBlock = data; }
    void channelRead(int channel, const QByteArray& data) override;
    void logBlockRead(qint32 offset, const QByteArray& data) override {
        image_.logBlocks[offset] = data;
    }

private:
    LogImage& image_;
};

// meterlink's version, as images name it.
QString meterlinkVersion();

// Reads an image file; none with the reason (which names the file) when it cannot be used.
std::optional<LogImage> readLogImage(const QString& path, QString* why);
// Replaces the file whole.
bool writeLogImage(const QString& path, const LogImage& image, QString* why);

} // namespace meterlink
