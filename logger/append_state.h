#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace meterlink {

// What an appending download remembers beside its CSV file: how far the meter's log was
// read, what identifies that log, and the file as it was left, so that the next run can
// add only the new rows, or see that it must not.
struct AppendState {
    static constexpr int version = 1;

    QString fileName;       // the CSV the rows go to, in the state file's folder
    qint32 logLength = 0;   // T of the last run, in bytes
    QByteArray firstRecord; // the log's first 8 bytes: a restarted log has others
    std::array<QString, 8> channelNames;
    qint64 seamOffset = 0; // where in the CSV the rows of the log's last block begin
    qint64 csvSize = 0;
    QByteArray csvSha256; // 32 bytes
    bool isoTimestamps = false;
    bool byteOrderMark = false;
    QString locale; // the locale's name, when timestamps follow it

    // The 1024-byte block that held the last record read: the next run starts there.
    qint32 seamBlock() const;

    QByteArray toText() const;
    // The file's bytes are taken as untrusted: anything not written by toText() (of this
    // version) gives no state and `why` says what is wrong.
    static std::optional<AppendState> parse(const QByteArray& text, QString* why);
};

} // namespace meterlink
