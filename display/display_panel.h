#pragma once

#include "display/key_buffer.h"
#include "modbus/meter_registers.h"

#include <QString>
#include <array>

namespace meterlink {

class DisplayView;
class LinkSession;
class ModbusLink;
struct Settings;

// The display tab's work: the keypad queues keys, each refresh (the window's Timer1 tick)
// sends at most one of them and reads the meter's four display lines, and the tab change
// switches the refreshes on and off.
class DisplayPanel {
public:
    static constexpr int DisplayTab = 3;
    static constexpr int LineCount = meter::DisplayLines;

    DisplayPanel(ModbusLink& link, const Settings& settings, DisplayView& view);

    // Queues the key of keypad button `index`; an index outside the keypad queues nothing.
    void queueKey(int index);

    // One refresh: PollDisplay in a session of the link, unless another caller holds one
    // further down the call stack (a download, or this panel's previous refresh still
    // waiting). Then the refresh is skipped whole. True when it polled.
    bool refresh();

    // One refresh in `session`: the oldest key to the key register, then the four display
    // lines.
    void PollDisplay(LinkSession& session);

    // Leaving the display tab stops the ticks; entering it blanks the lines and starts them.
    void tabChanged(int previousTab, int currentTab);

    const KeyBuffer& keyBuffer() const { return keys_; }
    // What the display lines show, one character per byte.
    const QString& line(int index) const { return lines_.at(size_t(index)); }
    int skippedTicks() const { return skippedTicks_; }

private:
    void sendOldestKey(LinkSession& session);
    void readLine(LinkSession& session, int index);
    void showLine(int index, const QString& text);

    ModbusLink& link_;
    const Settings& settings_;
    DisplayView& view_;
    KeyBuffer keys_;
    std::array<QString, LineCount> lines_;
    int skippedTicks_ = 0;
};

} // namespace meterlink
