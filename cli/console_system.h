#pragma once

namespace meterlink {

// The C runtime's descriptors of the standard streams, the same on every system.
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

// True when the descriptor is a terminal (a console window on Windows), where progress
// may be redrawn in place.
bool isTerminal(int descriptor);

// Processor time this process has used so far, user and system, in seconds.
double processCpuSeconds();

} // namespace meterlink
