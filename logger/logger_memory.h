#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace meterlink {

// Where the meter keeps what a download reads, shared by the whole and the appending
// download.
namespace logger_memory {
// A download reads the log in blocks of this many bytes; the meter addresses it in banks.
constexpr int blockBytes = 1024;
constexpr int bankBytes = 16384;
constexpr int stateBytes = 16;
constexpr int channelConfigLength = 100;
constexpr int channelNameOffset = 64;
constexpr int channelNameLength = 32;
} // namespace logger_memory

// The log length T in bytes that a state block gives: (last + 8) - start. None, with the
// reason, when the block is short or its last record lies before its start.
std::optional<qint32> logLengthFromStateBlock(const QByteArray& stateBlock, QString* why);

// A warning when "Records available" is below a tenth of the memory (used + available):
// soon the oldest records are overwritten or logging stops. Empty otherwise.
QString nearlyFullWarning(const QByteArray& stateBlock);

} // namespace meterlink
