#pragma once

namespace meterlink::meter {

// Where the meter keeps what both front ends read and write. The simulated meter and the
// tests' literal frames keep their own numbers on purpose: they check these.

// The front panel: a key is written to one register, the display is read line by line.
constexpr int KeyRegister = 209;
constexpr int FirstDisplayRegister = 24;
constexpr int RegistersPerDisplayLine = 10;
constexpr int DisplayLines = 4;

// The logger: its state block (function 3), then function-96 banks of its memory.
constexpr int LoggerStateRegister = 76;
constexpr int LoggerStateRegisters = 8;
constexpr int ChannelBank = 24;
constexpr int FirstLogBank = 8;

} // namespace meterlink::meter
