#pragma once

#include "display/key_buffer.h"
#include "modbus/meter_registers.h"

#include <QString>
#include <array>

namespace meterlink {

class DisplayView;
class ModbusLink;
struct Settings;

// The display tab's handlers: the keypad queues keys, each tick of Timer1 sends at most
// one of them and reads the meter's four display lines, and the tab change switches the
// ticks on and off.
class DisplayPanel {
public:
    static constexpr int DisplayTab = 3;
    static constexpr int LineCount = meter::DisplayLines;

    DisplayPanel(ModbusLink& link, const Settings& settings, DisplayView& view);

    // Queues the key of keypad button `index`; an index outside the keypad queues nothing.
    void Command1_Click(int index);

    // One tick: PollDisplay in a session of the link, unless another caller holds one
    // further down the call stack (a download, or this panel's previous tick still
    // waiting). Then the tick is skipped whole. True when it polled.
    bool Timer1_Timer();

    // One refresh: the oldest key to the key register, then the four display lines.
    void PollDisplay();

    // Leaving the display tab stops the ticks; entering it blanks the lines and starts them.
    void SSTab1_Click(int previousTab, int currentTab);

    const KeyBuffer& keyBuffer() const { return keys_; }
    // What the display lines show, one character per byte.
    const QString& line(int index) const { return lines_.at(size_t(index)); }
    int skippedTicks() const { return skippedTicks_; }

private:
    void sendOldestKey();
    void readLine(int index);
    void showLine(int index, const QString& text);

    ModbusLink& link_;
    const Settings& settings_;
    DisplayView& view_;
    KeyBuffer keys_;
    std::array<QString, LineCount> lines_;
    int skippedTicks_ = 0;
};

} // namespace meterlink
