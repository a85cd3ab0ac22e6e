#include "display/display_panel.h"

#include "display/clean_display_text.h"
#include "display/display_view.h"
#include "display/keypad.h"
#include "modbus/modbus_link.h"
#include "settings/settings.h"

namespace meterlink {

namespace {

// Marks a tick as running for as long as it is on the call stack.
class TickScope {
public:
    TickScope(bool& ticking, bool& abandoned) : ticking_(ticking), abandoned_(abandoned) {
        ticking_ = true;
        abandoned_ = false;
    }
    ~TickScope() {
        ticking_ = false;
        abandoned_ = false;
    }
    TickScope(const TickScope&) = delete;
    TickScope& operator=(const TickScope&) = delete;

private:
    bool& ticking_;
    bool& abandoned_;
};

} // namespace

DisplayPanel::DisplayPanel(ModbusLink& link, const Settings& settings, DisplayView& view)
    : link_(link), settings_(settings), view_(view) {}

void DisplayPanel::Command1_Click(int index) {
    if (const auto key = keypadKey(index))
        keys_.append(*key);
}

bool DisplayPanel::Timer1_Timer() {
    // The timer fires inside the link's waits too; a transaction started there would
    // wreck the one that waits.
    if (ticking_ || downloadRunning_ || link_.busy()) {
        ++skippedTicks_;
        return false;
    }
    TickScope scope(ticking_, abandoned_);
    PollDisplay();
    return true;
}

void DisplayPanel::PollDisplay() {
    if (!keys_.isEmpty())
        sendOldestKey();
    for (int index = 0; index < LineCount && !stopping(); ++index)
        readLine(index);
}

void DisplayPanel::sendOldestKey() {
    TransactionState& state = link_.state();
    state.WriteHiBytes[1] = qint16(static_cast<unsigned char>(keys_.first()));
    state.WriteLoBytes[1] = 255;
    if (link_.WriteMultipleRegisters(settings_.SlaveId, KeyRegister, 1, 2) == -1)
        keys_.removeFirst();
}

void DisplayPanel::readLine(int index) {
    if (link_.ReadHoldingRegisters(settings_.SlaveId, 0, FirstLineRegister + LineRegisters * index,
                                   LineRegisters) != -1) {
        return; // the line keeps its text
    }
    showLine(index, displayLineText(CleanDisplayText(link_.state().ResponseData)));
}

void DisplayPanel::showLine(int index, const QString& text) {
    lines_[size_t(index)] = text;
    view_.setLine(index, text);
}

void DisplayPanel::SSTab1_Click(int previousTab, int currentTab) {
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
