#pragma once

#include "logger/channel_flags.h"
#include "modbus/link_failure.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace meterlink {

class DownloadPanel;
class EventPump;
class GridModel;
class LinkSession;
class LogAnswerSink;
class RecordDecoder;

// The reads of one meter's logger that every download makes, whole or appending: the state
// block, the channel names and the log in 1024-byte blocks, each with its attempts and, when
// it fails, its reason; every answer used goes to the sink as it came (for a log image).
// After a stop a read still makes its first try: the session refuses it at once, sending
// nothing, and that is the reason.
class LogReader {
public:
    static constexpr int attemptsPerBlock = 3;

    // Reads in `session`, which must outlive the reader.
    LogReader(LinkSession& session, int slave, DownloadPanel& panel);

    // Handed every answer used, as it came; none by default.
    void setAnswerSink(LogAnswerSink* sink) { sink_ = sink; }

    // The logger's state block (function 3), or none with the reason.
    std::optional<QByteArray> readStateBlock();

    // Channel k's (1..8) name cut to 7-bit text, in up to `attempts` tries, shown in Text3;
    // none with the reason when no try was answered.
    std::optional<QString> readChannelName(int k, int attempts);

    // `length` bytes of the log from byte `offset`, in up to three tries; none with the
    // reason. An odd length is asked for in whole words.
    std::optional<QByteArray> readBlock(qint32 offset, qint32 length);

    // Where an append starts its next run: the last block read whose rows begin in it (its
    // first record has a moment of its own, or it is the first block read), and the grid
    // row its rows follow.
    struct Seam {
        qint32 block = 0;
        qint32 rowsBefore = 1;
    };

    // The blocks from `from` (a multiple of 1024) to the log's end, decoded into the grid
    // after row `lastGridRow`, the progress shown before each. With a pump, events run
    // after each block; without, only inside the link's waits. False, with the reason,
    // at the first block not read or once the session is stopped.
    bool readBlocks(qint32 from, qint32 logLength, RecordDecoder& decoder, qint32& lastGridRow,
                    Seam& seam, EventPump* pump = nullptr);

    // What an append reads before the blocks: the log's length, names and first record.
    struct Head {
        qint32 logLength = 0;
        QByteArray firstRecord;
        std::array<QString, channelCount> names;
        ChannelFlags channelInUse{};
        QString memoryWarning; // see nearlyFullWarning
    };

    // The state block, then, for a log that is not empty, the eight names (each must be
    // read: a file that has a channel must not lose it) and the first record.
    bool readHead(Head& head, EventPump& pump);

    // Puts the header row a whole download writes.
    static void writeHeader(GridModel& grid, const Head& head);

    // Log blocks read by readBlocks.
    int blocksRead() const { return blocksRead_; }
    const QString& failureReason() const { return failureReason_; }
    bool stopped() const;
    // Why the reader's latest transaction failed (fault None after a success).
    const LinkFailure& lastFailure() const { return lastFailure_; }

    // Keeps only the characters below 254 (the meter pads names with 254 and 255).
    static QByteArray StripHighChars(const QByteArray& text);
    // A name that marks its channel unused.
    static bool unusedChannelName(const QString& name);
    // What a reason adds when the meter never answered: where to look instead.
    static QString silentMeterHint();
    static bool silentMeter(const LinkFailure& failure);

private:
    // The link's transactions, each filling `answer` when it succeeds.
    bool readRegisters(int addressHi, int addressLo, int count, QByteArray& answer);
    bool readLogBank(int bank, int addressHi, int words, QByteArray& answer);

    LinkSession& session_;
    int slave_;
    DownloadPanel& panel_;
    LogAnswerSink* sink_ = nullptr;
    int blocksRead_ = 0;
    QString failureReason_;
    LinkFailure lastFailure_;
};

} // namespace meterlink
