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
    PollDisplay(session);
    return true;
}

void DisplayPanel::PollDisplay(LinkSession& session) {
    if (!keys_.isEmpty())
        sendOldestKey(session);
    // After an abort the remaining reads fail at once and the lines keep their text.
    for (int index = 0; index < LineCount; ++index)
        readLine(session, index);
}

void DisplayPanel::sendOldestKey(LinkSession& session) {
    // The key's character in the high byte, 255 in the low one.
    const quint16 value = quint16(static_cast<unsigned char>(keys_.first()) << 8 | 0xFF);
    if (session.WriteMultipleRegisters(settings_.SlaveId, meter::KeyRegister, {value}))
        keys_.removeFirst();
}

void DisplayPanel::readLine(LinkSession& session, int index) {
    const LinkAnswer answer = session.ReadHoldingRegisters(
        settings_.SlaveId, 0, meter::FirstDisplayRegister + meter::RegistersPerDisplayLine * index,
        meter::RegistersPerDisplayLine);
    if (answer) // else the line keeps its text
        showLine(index, displayLineText(CleanDisplayText(answer.data)));
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
