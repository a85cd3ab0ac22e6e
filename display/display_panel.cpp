#include "display/display_panel.h"

#include "display/clean_display_text.h"
#include "display/display_view.h"
#include "display/keypad.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

namespace meterlink {

DisplayPanel::DisplayPanel(ModbusLink& link, const Settings& settings, DisplayView& view)
    : link_(link), settings_(settings), view_(view) {}

void DisplayPanel::queueKey(int index) {
    if (const auto key = keypadKey(index))
        keys_.append(*key);
}

bool DisplayPanel::refresh() {
    // The timer fires inside the link's waits too; a transaction started there would
    // wreck the one that waits.
    LinkSession session(link_);
    if (!session.owns()) {
        ++skippedTicks_;
        return false;
    }
    PollDisplay();
    return true;
}

void DisplayPanel::PollDisplay() {
    if (!keys_.isEmpty())
        sendOldestKey();
    // After an abort the remaining reads fail at once and the lines keep their text.
    for (int index = 0; index < LineCount; ++index)
        readLine(index);
}

void DisplayPanel::sendOldestKey() {
    // The key's character in the high byte, 255 in the low one.
    const quint16 value = quint16(static_cast<unsigned char>(keys_.first()) << 8 | 0xFF);
    if (link_.writeRegisters(settings_.SlaveId, meter::KeyRegister, {value}) == -1)
        keys_.removeFirst();
}

void DisplayPanel::readLine(int index) {
    if (link_.ReadHoldingRegisters(settings_.SlaveId, 0,
                                   meter::FirstDisplayRegister +
                                       meter::RegistersPerDisplayLine * index,
                                   meter::RegistersPerDisplayLine) != -1) {
        return; // the line keeps its text
    }
    showLine(index, displayLineText(CleanDisplayText(link_.state().ResponseData)));
}

void DisplayPanel::showLine(int index, const QString& text) {
    lines_[size_t(index)] = text;
    view_.setLine(index, text);
}

void DisplayPanel::tabChanged(int previousTab, int currentTab) {
    if (previousTab == DisplayTab) {
        view_.setTimerEnabled(false);
        return;
    }
    if (currentTab == DisplayTab) {
        for (int index = 0; index < LineCount; ++index)
            showLine(index, QString());
        view_.setTimerEnabled(true);
    }
}

} // namespace meterlink
