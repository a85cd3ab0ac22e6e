#pragma once

#include <QString>

#include <array>

namespace meterlink {

// Captions of the baud options, index = option index; the text doubles as BaudText.
inline constexpr std::array<const char*, 7> kBaudCaptions = {"1200",  "2400",  "4800", "9600",
                                                             "14400", "19200", "38400"};
inline constexpr int kPortOptionCount = 4;
inline constexpr int kFlowNone = 0;
inline constexpr int kFlowHardware = 1;

// What the Settings and Download tabs show, as plain values: the window copies this to and
// from its widgets. An option index of -1 means no option of that group is selected.
// The initial values are the design-time state of the controls.
struct SettingsControls {
    int portOption = 0;
    int baudOption = 6;
    int flowOption = kFlowHardware;
    QString slaveIdText = QStringLiteral("001");
    QString saveFileText = QStringLiteral("Logdata.csv");
};

} // namespace meterlink
