#include "app/window_tabs.h"

#include "app/chart_tab.h"
#include "app/record_grid.h"
#include "app/text_fit.h"
#include "display/keypad.h"
#include "logger/grid_model.h"
#include "modbus/meter_registers.h"
#include "settings/settings_controls.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>

namespace meterlink {

namespace {

void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

QString indexed(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

// A failure reason stands out from the captions around it.
void markAsFailure(QLabel* label) {
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0xa0, 0x10, 0x10));
    label->setPalette(palette);
}

// A caption a little wider than its box in the fallback face grows into the free room of
// its frame rather than being cut.
void widenToFit(QWidget* widget) {
    const int room = widget->parentWidget()->width() - widget->x() - 2;
    const int wanted = qMax(widget->width(), widget->sizeHint().width());
    widget->resize(qMin(wanted, qMax(room, widget->width())), widget->height());
}

template <typename Widget, typename... Args>
Widget* named(const QString& objectName, QWidget* parent, Args&&... args) {
    auto* widget = new Widget(std::forward<Args>(args)..., parent);
    widget->setObjectName(objectName);
    return widget;
}

// Keypad captions, index rising left to right, then top to bottom.
constexpr const char* kKeypadCaptions[16] = {"1",    "2",       "3",     "Help / .", "4", "5",
                                             "6",    "Up/Next", "7",     "8",        "9", "Down",
                                             "Menu", "0",       "Enter", "2nd"};
// Initial heading widths of the grid's columns 0 to 8, in blanks of the grid's font.
constexpr int kHeadingBlanks[9] = {19, 21, 21, 18, 22, 21, 20, 17, 15};

DownloadTabControls buildDownloadTab(QWidget* page) {
    DownloadTabControls c;
    c.Frame5 = named<QGroupBox>(QStringLiteral("Frame5"), page, QStringLiteral("Status"));
    place(c.Frame5, 360, 780, 3975, 1095);
    c.Frame4 = named<QGroupBox>(QStringLiteral("Frame4"), page, QStringLiteral("Channels"));
    place(c.Frame4, 360, 2100, 3975, 3375);

    c.Text3.resize(10);
    c.Label3.resize(10);
    for (int i = 0; i < 8; ++i) {
        const int left = i < 4 ? 120 : 2040;
        const int row = i % 4;
        c.Label3[i] =
            named<QLabel>(indexed("Label3", i), c.Frame4, QStringLiteral("Channel #%1").arg(i + 1));
        place(c.Label3[i], left, 360 + 720 * row, 1695, 255);
        c.Text3[i] = named<QLineEdit>(indexed("Text3", i), c.Frame4);
        place(c.Text3[i], left, 600 + 720 * row, 1695, 285);
        showStartOfText(c.Text3[i]);
    }
    const char* counterCaptions[] = {"Records available", "Records used"};
    for (int i = 8; i < 10; ++i) {
        const int left = i == 8 ? 120 : 2040;
        c.Text3[i] = named<QLineEdit>(indexed("Text3", i), c.Frame5);
        place(c.Text3[i], left, 360, 1695, 285);
        showStartOfText(c.Text3[i]);
        c.Label3[i] = named<QLabel>(indexed("Label3", i), c.Frame5,
                                    QString::fromLatin1(counterCaptions[i - 8]));
        place(c.Label3[i], left, 720, 1695, 255);
    }

    c.Frame6 =
        named<QGroupBox>(QStringLiteral("Frame6"), page, QStringLiteral("DownLoad Filename"));
    place(c.Frame6, 4680, 780, 3855, 2295);
    c.Text2 = named<QLineEdit>(QStringLiteral("Text2"), c.Frame6, QStringLiteral("Logdata.csv"));
    place(c.Text2, 240, 600, 3375, 375);
    showStartOfText(c.Text2);
    c.Label2 = named<QLabel>(QStringLiteral("Label2"), c.Frame6,
                             QStringLiteral("Store Records into File"));
    place(c.Label2, 240, 1080, 3375, 255);
    c.Command3 =
        named<QPushButton>(QStringLiteral("Command3"), c.Frame6, QStringLiteral("Change Filename"));
    place(c.Command3, 600, 1560, 2655, 495);

    c.Frame7 = named<QGroupBox>(QStringLiteral("Frame7"), page, QStringLiteral("Start Download"));
    place(c.Frame7, 4680, 3300, 3855, 2175);
    c.ProgressBar1 = named<QProgressBar>(QStringLiteral("ProgressBar1"), c.Frame7);
    c.ProgressBar1->setRange(0, 100);
    c.ProgressBar1->setValue(0);
    c.ProgressBar1->setTextVisible(false);
    place(c.ProgressBar1, 240, 360, 3375, 255);
    c.Label4 = named<QLabel>(QStringLiteral("Label4"), c.Frame7);
    place(c.Label4, 240, 840, 3375, 255);
    c.Command2 =
        named<QPushButton>(QStringLiteral("Command2"), c.Frame7, QStringLiteral("Download Data"));
    place(c.Command2, 600, 1200, 2655, 615);

    c.reason = named<QLabel>(QStringLiteral("DownloadReason"), page);
    place(c.reason, 360, 5550, 8175, 600);
    markAsFailure(c.reason);
    return c;
}

ViewTabControls buildViewTab(QWidget* page, GridModel& grid) {
    ViewTabControls c;
    c.MSHFlexGrid1 = new RecordGrid(&grid, QLocale::system(), page);
    c.MSHFlexGrid1->setObjectName(QStringLiteral("MSHFlexGrid1"));
    place(c.MSHFlexGrid1, 360, 840, 8655, 5175);
    c.MSHFlexGrid1->growWithWindow();
    c.notSaved = named<QLabel>(QStringLiteral("ViewNotSaved"), page);
    place(c.notSaved, 360, 360, 8655, 465); // two lines between the tabs and the grid
    markAsFailure(c.notSaved);
    c.notSaved->hide();
    const int blank = c.MSHFlexGrid1->fontMetrics().horizontalAdvance(QLatin1Char(' '));
    for (int column = 0; column < 9; ++column) {
        c.MSHFlexGrid1->setGridColumnWidth(column, kHeadingBlanks[column] * blank);
    }
    return c;
}

SettingsTabControls buildSettingsTab(QWidget* page) {
    SettingsTabControls c;
    auto* frame1 = named<QGroupBox>(QStringLiteral("Frame1"), page, QStringLiteral("Baud Rate"));
    place(frame1, 480, 780, 2175, 3015);
    c.baudGroup = new QButtonGroup(page);
    for (int i = 0; i < int(kBaudCaptions.size()); ++i) {
        auto* option =
            named<QRadioButton>(indexed("Option1", i), frame1, QLatin1String(kBaudCaptions[i]));
        place(option, 240, 360 + 360 * i, 1695, 255);
        widenToFit(option);
        c.baudGroup->addButton(option, i);
        c.Option1.append(option);
    }
    c.Option1[6]->setChecked(true);

    auto* frame2 =
        named<QGroupBox>(QStringLiteral("Frame2"), page, QStringLiteral("Communication Port"));
    place(frame2, 3000, 780, 2535, 3015);
    c.portGroup = new QButtonGroup(page);
    for (int i = 0; i < kPortOptionCount; ++i) {
        auto* option =
            named<QRadioButton>(indexed("Option2", i), frame2, QStringLiteral("Comm%1").arg(i + 1));
        place(option, 360, 480 + 360 * i, 1335, 255);
        widenToFit(option);
        c.portGroup->addButton(option, i);
        c.Option2.append(option);
    }
    c.Option2[0]->setChecked(true);

    auto* frame3 = named<QGroupBox>(QStringLiteral("Frame3"), page, QStringLiteral("Flow Control"));
    place(frame3, 6120, 900, 2175, 1215);
    c.flowGroup = new QButtonGroup(page);
    c.Option3.append(named<QRadioButton>(indexed("Option3", 0), frame3, QStringLiteral("None")));
    place(c.Option3[0], 240, 360, 1215, 255);
    c.Option3.append(
        named<QRadioButton>(indexed("Option3", 1), frame3, QStringLiteral("Hardware (Cts/Rts)")));
    place(c.Option3[1], 240, 720, 1815, 255);
    widenToFit(c.Option3[0]);
    widenToFit(c.Option3[1]);
    c.flowGroup->addButton(c.Option3[0], kFlowNone);
    c.flowGroup->addButton(c.Option3[1], kFlowHardware);
    c.Option3[1]->setChecked(true);

    c.Label1 = named<QLabel>(QStringLiteral("Label1"), page, QStringLiteral("Slave ID"));
    place(c.Label1, 6600, 2220, 1335, 255);
    c.Text1 = named<QLineEdit>(QStringLiteral("Text1"), page, QStringLiteral("001"));
    place(c.Text1, 6480, 2700, 1575, 375);
    showStartOfText(c.Text1);
    return c;
}

DisplayTabControls buildDisplayTab(QWidget* page) {
    DisplayTabControls c;
    c.Frame8_0 = named<QGroupBox>(indexed("Frame8", 0), page);
    place(c.Frame8_0, 720, 480, 3255, 1815);
    for (int n = 0; n < 4; ++n) {
        auto* line = named<QLineEdit>(indexed("Text4", n), c.Frame8_0);
        line->setReadOnly(true);
        place(line, 120, 240 + 375 * n, 3015, 345);
        // A monospaced face as large as lets the widest line of 20 characters fit whole.
        line->setFont(largestFittingFont(
            displayLineFont(), QString(meter::RegistersPerDisplayLine * 2, QLatin1Char('W')),
            textRoom(line)));
        c.Text4.append(line);
    }
    c.noAnswer = named<QLabel>(QStringLiteral("DisplayNoAnswer"), page);
    // Three lines: a reason can name a long device path and what the system said.
    place(c.noAnswer, 720, 2340, 7935, 675);
    markAsFailure(c.noAnswer);

    // The keypad sits under the display lines and their label, centred on them.
    const int keypadLeft = 720 + (3255 - (3 * 720 + 615)) / 2;
    const int keypadTop = 480 + 1815 + 780;
    for (int i = 0; i < 16; ++i) {
        const QString caption = QString::fromLatin1(kKeypadCaptions[i]);
        auto* key = named<QPushButton>(indexed("Command1", i), page, caption);
        place(key, keypadLeft + 720 * (i % 4), keypadTop + 600 * (i / 4), 615, 375);
        if (caption.size() > 1) {
            // The small face is a narrow bitmap font; its stand-in is a condensed face, as
            // large as lets the word fit the key.
            QFont font = key->font();
            font.setFamily(QStringLiteral("Small Fonts"));
            font.setStretch(QFont::Condensed);
            font.setBold(caption == QLatin1String("2nd"));
            key->setFont(
                largestFittingFont(font, caption, captionRoom(key), 5.0, key->font().pointSizeF()));
        }
        c.Command1.append(key);
    }
    return c;
}

// The PC keyboard works the keypad while the display tab is shown; elsewhere the keys
// belong to the text boxes. Each key's tooltip says which PC keys press it.
void addKeyboardShortcuts(DisplayTabControls& c, QWidget* page) {
    for (int button = 0; button < c.Command1.size(); ++button) {
        QPushButton* pressed = c.Command1[button];
        QStringList names;
        for (int key : pcKeysForButton(button)) {
            auto* shortcut = new QShortcut(QKeySequence(key), page);
            shortcut->setContext(Qt::WindowShortcut);
            shortcut->setAutoRepeat(false);
            shortcut->setEnabled(false);
            QObject::connect(shortcut, &QShortcut::activated, pressed,
                             [pressed] { pressed->animateClick(); });
            c.keypadShortcuts.append(shortcut);
            names.append(QKeySequence(key).toString(QKeySequence::NativeText));
        }
        pressed->setToolTip(QStringLiteral("Keyboard: ") + names.join(QStringLiteral(" or ")));
    }
}

} // namespace

int px(int twips) {
    return qRound(twips / 15.0);
}

WindowTabs buildWindowTabs(QTabWidget* SSTab1, GridModel& grid) {
    const QString captions[] = {QStringLiteral("Download"), QStringLiteral("View"),
                                QStringLiteral("Settings"), QStringLiteral("Display Meter ")};
    QWidget* pages[4];
    for (int i = 0; i < 4; ++i) {
        pages[i] = new QWidget;
        pages[i]->setObjectName(QStringLiteral("SSTab1_page%1").arg(i));
        SSTab1->addTab(pages[i], captions[i]);
    }
    WindowTabs tabs;
    tabs.download = buildDownloadTab(pages[0]);
    tabs.view = buildViewTab(pages[1], grid);
    tabs.settings = buildSettingsTab(pages[2]);
    tabs.display = buildDisplayTab(pages[3]);

    // Positions on a tab are measured from the tab control's corner; the pages start below
    // the tab row, so everything on a page moves up by that row's height.
    const int tabRow = SSTab1->tabBar()->sizeHint().height();
    for (QWidget* page : pages) {
        for (QWidget* child : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            child->move(child->x(), child->y() - tabRow);
        }
    }
    // After the four tabs, so the display tab keeps its index and its polling rule.
    tabs.chart = new ChartTab;
    SSTab1->addTab(tabs.chart, QStringLiteral("Chart"));
    addKeyboardShortcuts(tabs.display, pages[3]);
    return tabs;
}

} // namespace meterlink
