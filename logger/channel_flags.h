#pragma once

#include <QtGlobal>
#include <array>

namespace meterlink {

// ChannelInUse(1..8): whether the channel's name went into the header row.
// Index 0 is unused so that channel k is element k.
using ChannelFlags = std::array<bool, 9>;

constexpr int channelCount = 8;

} // namespace meterlink
