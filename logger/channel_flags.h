#pragma once

#include <QtGlobal>
#include <array>

namespace meterlink {

// ChannelInUse(1..8): -1 when the channel's name went into the header row, 0 otherwise.
// Index 0 is unused so that channel k is element k.
using ChannelFlags = std::array<qint16, 9>;

constexpr int channelCount = 8;

} // namespace meterlink
