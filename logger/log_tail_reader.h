#pragma once

#include "logger/channel_flags.h"

#include <QByteArray>
#include <QString>
#include <array>

namespace meterlink {

class DownloadPanel;
class EventPump;
class GridModel;
class LogAnswerSink;
class LinkSession;
class RecordDecoder;

// The reads an appending download makes: the log's length, names and first record, then
// the log from a given block on, in the same 1024-byte blocks a whole download reads, so
// that its rows split exactly where a whole download's do.
class LogTailReader {
public:
    struct Head {
        qint32 logLength = 0;
        QByteArray firstRecord;
        std::array<QString, channelCount> names;
        ChannelFlags channelInUse{};
        QString memoryWarning; // see nearlyFullWarning
    };

    // Reads in `session`, which must outlive the reader.
    LogTailReader(LinkSession& session, EventPump& pump, int slave, DownloadPanel& panel);

    // The state block, the eight names and (for a log that is not empty) the first record.
    bool readHead(Head& head);

    // Where the next run starts: the last block read whose rows begin in it (its first
    // record has a moment of its own, or it is the first block read), and the grid row its
    // rows follow.
    struct Seam {
        qint32 block = 0;
        qint32 rowsBefore = 1;
    };

    // Blocks from `from` (a multiple of 1024) to the log's end, decoded into the grid from
    // row `lastGridRow` on.
    bool readBlocks(qint32 from, qint32 logLength, RecordDecoder& decoder, qint32& lastGridRow,
                    Seam& seam);

    // Puts the header row a whole download writes.
    static void writeHeader(GridModel& grid, const Head& head);

    // Handed every answer used, as it came (for a log image); none by default.
    void setAnswerSink(LogAnswerSink* sink) { sink_ = sink; }

    int blocksRead() const { return blocksRead_; }
    const QString& failureReason() const { return failureReason_; }

private:
    bool readLog(qint32 offset, qint32 length, QByteArray& block);

    LinkSession& session_;
    EventPump& pump_;
    int slave_;
    DownloadPanel& panel_;
    int blocksRead_ = 0;
    QString failureReason_;
    LogAnswerSink* sink_ = nullptr;
};

} // namespace meterlink
