#pragma once

#include <QVector>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QShortcut;
class QTabWidget;
class QWidget;

namespace meterlink {

class ChartTab;
class GridModel;
class RecordGrid;

// The layout is given in twips; at 96 DPI fifteen make a pixel.
int px(int twips);

// The window's controls under their given names, built at their given places. The window
// connects them to its handlers; nothing here reacts to anything.
struct DownloadTabControls {
    QGroupBox* Frame5 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QGroupBox* Frame6 = nullptr;
    QGroupBox* Frame7 = nullptr;
    QVector<QLineEdit*> Text3;
    QVector<QLabel*> Label3;
    QLineEdit* Text2 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Command3 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Command2 = nullptr;
    // Why the latest download or export failed, across the tab under its frames.
    QLabel* reason = nullptr;
};

struct ViewTabControls {
    RecordGrid* MSHFlexGrid1 = nullptr;
    // Over the grid after a download that stopped or failed part way.
    QLabel* notSaved = nullptr;
};

struct SettingsTabControls {
    QVector<QRadioButton*> Option1;
    QVector<QRadioButton*> Option2;
    QVector<QRadioButton*> Option3;
    QButtonGroup* baudGroup = nullptr;
    QButtonGroup* portGroup = nullptr;
    QButtonGroup* flowGroup = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text1 = nullptr;
};

struct DisplayTabControls {
    QGroupBox* Frame8_0 = nullptr;
    QVector<QLineEdit*> Text4;
    QLabel* noAnswer = nullptr;
    QVector<QPushButton*> Command1;
    // The PC keyboard's keys for the keypad, on while the display tab is shown.
    QVector<QShortcut*> keypadShortcuts;
};

struct WindowTabs {
    DownloadTabControls download;
    ViewTabControls view;
    SettingsTabControls settings;
    DisplayTabControls display;
    ChartTab* chart = nullptr;
};

// Fills SSTab1 with the Download, View, Settings and Display Meter tabs, then the Chart tab;
// `grid` is the View tab's cells.
WindowTabs buildWindowTabs(QTabWidget* SSTab1, GridModel& grid);

} // namespace meterlink
