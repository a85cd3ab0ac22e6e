#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace meterlink {

// Sees the data bytes of each answer a download used, exactly as the meter sent them: the
// logger state block, a channel's configuration, a block of the log at its byte offset.
class LogAnswerSink {
public:
    virtual ~LogAnswerSink() = default;
    virtual void stateBlockRead(const QByteArray& data) = 0;
    virtual void channelRead(int channel, const QByteArray& data) = 0;
    virtual void logBlockRead(qint32 offset, const QByteArray& data) = 0;
};

} // namespace meterlink
