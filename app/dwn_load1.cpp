#include "app/dwn_load1.h"

#include "app/chart_tab.h"
#include "app/display_lines.h"
#include "app/download_controls.h"
#include "app/record_grid.h"
#include "app/text_fit.h"
#include "display/display_panel.h"
#include "display/keypad.h"
#include "logger/download_command.h"
#include "logger/download_log.h"
#include "logger/grid_model.h"
#include "modbus/link_failure.h"
#include "modbus/meter_registers.h"
#include "modbus/modbus_link.h"
#include "platform/serial_port_search.h"
#include "settings/numeric_value.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

namespace meterlink {

namespace {

// A pasted spreadsheet cell brings its line end along; kept, it would reach the settings
// file. True when the box was given its text without them.
bool dropLineBreaks(QLineEdit* box) {
    const QString text = box->text();
    const QString clean = singleLineValue(text);
    if (clean == text)
        return false;
    const int cursor = int(singleLineValue(text.left(box->cursorPosition())).size());
    box->setText(clean);
    box->setCursorPosition(cursor);
    return true;
}

// The layout is given in twips; at 96 DPI fifteen make a pixel.
int px(int twips) {
    return qRound(twips / 15.0);
}

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

constexpr int kTimerIntervalMs = 750;

// Keypad captions, index rising left to right, then top to bottom.
constexpr const char* kKeypadCaptions[16] = {"1",    "2",       "3",     "Help / .", "4", "5",
                                             "6",    "Up/Next", "7",     "8",        "9", "Down",
                                             "Menu", "0",       "Enter", "2nd"};
// Initial heading widths of the grid's columns 0 to 8, in blanks of the grid's font.
constexpr int kHeadingBlanks[9] = {19, 21, 21, 18, 22, 21, 20, 17, 15};

} // namespace

DwnLoad1::DwnLoad1(Settings& settings, SettingsFile settingsFile, ModbusLink& link, EventPump& pump,
                   GridModel& grid, SaveFileChooser chooseSaveFile, QWidget* parent)
    : QMainWindow(parent), settings_(settings), settingsFile_(std::move(settingsFile)), link_(link),
      pump_(pump), grid_(grid), chooseSaveFile_(std::move(chooseSaveFile)) {
    setObjectName(QStringLiteral("DwnLoad1"));
    setWindowTitle(QStringLiteral("Morvel Download Revision 1.05"));
    // The layout was measured for this face and size; where it is missing the nearest
    // sans face at 8 points keeps the captions inside their boxes.
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    File_mnu = menuBar()->addAction(QStringLiteral("E&xit"));
    File_mnu->setObjectName(QStringLiteral("File_mnu"));
    connect(File_mnu, &QAction::triggered, this, &DwnLoad1::File_mnu_Click);

    SSTab1 = named<QTabWidget>(QStringLiteral("SSTab1"), this);
    setCentralWidget(SSTab1);
    const QString captions[] = {QStringLiteral("Download"), QStringLiteral("View"),
                                QStringLiteral("Settings"), QStringLiteral("Display Meter ")};
    QWidget* pages[4];
    for (int i = 0; i < 4; ++i) {
        pages[i] = new QWidget;
        pages[i]->setObjectName(QStringLiteral("SSTab1_page%1").arg(i));
        SSTab1->addTab(pages[i], captions[i]);
    }
    buildDownloadTab(pages[0]);
    buildViewTab(pages[1]);
    buildSettingsTab(pages[2]);
    buildDisplayTab(pages[3]);

    // Positions on a tab are measured from the tab control's corner; the pages start below
    // the tab row, so everything on a page moves up by that row's height.
    const int tabRow = SSTab1->tabBar()->sizeHint().height();
    for (QWidget* page : pages) {
        for (QWidget* child : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            child->move(child->x(), child->y() - tabRow);
        }
    }
    // After the four tabs, so the display tab keeps its index and its polling rule.
    chartTab_ = new ChartTab;
    SSTab1->addTab(chartTab_, QStringLiteral("Chart"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &DwnLoad1::Timer1_Timer);

    displayLines_ = std::make_unique<DisplayLines>(Text4, Timer1, displayNoAnswer_);
    display_ = std::make_unique<DisplayPanel>(link_, settings_, *displayLines_);
    buildKeyboardShortcuts(pages[3]);

    downloadControls_ =
        std::make_unique<DownloadControls>(Label4, downloadReason_, Command2, ProgressBar1, Text3);
    downloadLog_ =
        std::make_unique<DownloadLog>(link_, pump_, settings_, grid_, *downloadControls_);
    downloadCommand_ = std::make_unique<DownloadCommand>(link_, settings_, grid_, *downloadLog_,
                                                         *downloadControls_);
    connect(&grid_, &GridModel::columnWidthChanged, this,
            [this](int column, int twips) { setGridColumnWidth(column, px(twips)); });

    SSTab1->setCurrentIndex(0);
    connect(SSTab1, &QTabWidget::currentChanged, this, [this](int now) {
        const int previous = shownTab_;
        shownTab_ = now;
        SSTab1_Click(previous);
    });

    // The given size is where the window starts and the least it can be; the View tab's
    // grid takes what it grows by, the other tabs keep their layout at the top left.
    resize(px(9375), px(6495) + menuBar()->sizeHint().height());
    setMinimumSize(size());
    Form_Load();
}

DwnLoad1::~DwnLoad1() {
    disconnect(&grid_, nullptr, this, nullptr);
}

void DwnLoad1::buildDownloadTab(QWidget* page) {
    Frame5 = named<QGroupBox>(QStringLiteral("Frame5"), page, QStringLiteral("Status"));
    place(Frame5, 360, 780, 3975, 1095);
    Frame4 = named<QGroupBox>(QStringLiteral("Frame4"), page, QStringLiteral("Channels"));
    place(Frame4, 360, 2100, 3975, 3375);

    Text3.resize(10);
    Label3.resize(10);
    for (int i = 0; i < 8; ++i) {
        const int left = i < 4 ? 120 : 2040;
        const int row = i % 4;
        Label3[i] =
            named<QLabel>(indexed("Label3", i), Frame4, QStringLiteral("Channel #%1").arg(i + 1));
        place(Label3[i], left, 360 + 720 * row, 1695, 255);
        Text3[i] = named<QLineEdit>(indexed("Text3", i), Frame4);
        place(Text3[i], left, 600 + 720 * row, 1695, 285);
        showStartOfText(Text3[i]);
    }
    const char* counterCaptions[] = {"Records available", "Records used"};
    for (int i = 8; i < 10; ++i) {
        const int left = i == 8 ? 120 : 2040;
        Text3[i] = named<QLineEdit>(indexed("Text3", i), Frame5);
        place(Text3[i], left, 360, 1695, 285);
        showStartOfText(Text3[i]);
        Label3[i] = named<QLabel>(indexed("Label3", i), Frame5,
                                  QString::fromLatin1(counterCaptions[i - 8]));
        place(Label3[i], left, 720, 1695, 255);
    }

    Frame6 = named<QGroupBox>(QStringLiteral("Frame6"), page, QStringLiteral("DownLoad Filename"));
    place(Frame6, 4680, 780, 3855, 2295);
    Text2 = named<QLineEdit>(QStringLiteral("Text2"), Frame6, QStringLiteral("Logdata.csv"));
    place(Text2, 240, 600, 3375, 375);
    showStartOfText(Text2);
    connect(Text2, &QLineEdit::textChanged, this, &DwnLoad1::Text2_Change);
    Label2 =
        named<QLabel>(QStringLiteral("Label2"), Frame6, QStringLiteral("Store Records into File"));
    place(Label2, 240, 1080, 3375, 255);
    Command3 =
        named<QPushButton>(QStringLiteral("Command3"), Frame6, QStringLiteral("Change Filename"));
    place(Command3, 600, 1560, 2655, 495);
    connect(Command3, &QPushButton::clicked, this, &DwnLoad1::Command3_Click);

    Frame7 = named<QGroupBox>(QStringLiteral("Frame7"), page, QStringLiteral("Start Download"));
    place(Frame7, 4680, 3300, 3855, 2175);
    ProgressBar1 = named<QProgressBar>(QStringLiteral("ProgressBar1"), Frame7);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    place(ProgressBar1, 240, 360, 3375, 255);
    Label4 = named<QLabel>(QStringLiteral("Label4"), Frame7);
    place(Label4, 240, 840, 3375, 255);
    Command2 =
        named<QPushButton>(QStringLiteral("Command2"), Frame7, QStringLiteral("Download Data"));
    place(Command2, 600, 1200, 2655, 615);
    connect(Command2, &QPushButton::clicked, this, &DwnLoad1::Command2_Click);
    // Esc stops a download from any tab, as the button does; otherwise it does nothing.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, [this] {
        if (downloadRunning())
            Command2_Click();
    });

    // Why the latest download or export failed, across the tab under its frames.
    downloadReason_ = named<QLabel>(QStringLiteral("DownloadReason"), page);
    place(downloadReason_, 360, 5550, 8175, 600);
    markAsFailure(downloadReason_);
}

void DwnLoad1::buildViewTab(QWidget* page) {
    MSHFlexGrid1 = new RecordGrid(&grid_, QLocale::system(), page);
    MSHFlexGrid1->setObjectName(QStringLiteral("MSHFlexGrid1"));
    place(MSHFlexGrid1, 360, 840, 8655, 5175);
    MSHFlexGrid1->growWithWindow();
    viewNotSaved_ = named<QLabel>(QStringLiteral("ViewNotSaved"), page);
    place(viewNotSaved_, 360, 360, 8655, 465); // two lines between the tabs and the grid
    markAsFailure(viewNotSaved_);
    viewNotSaved_->hide();
    const int blank = MSHFlexGrid1->fontMetrics().horizontalAdvance(QLatin1Char(' '));
    for (int column = 0; column < 9; ++column) {
        setGridColumnWidth(column, kHeadingBlanks[column] * blank);
    }
}

void DwnLoad1::buildSettingsTab(QWidget* page) {
    auto* frame1 = named<QGroupBox>(QStringLiteral("Frame1"), page, QStringLiteral("Baud Rate"));
    place(frame1, 480, 780, 2175, 3015);
    baudGroup_ = new QButtonGroup(this);
    for (int i = 0; i < int(kBaudCaptions.size()); ++i) {
        auto* option =
            named<QRadioButton>(indexed("Option1", i), frame1, QLatin1String(kBaudCaptions[i]));
        place(option, 240, 360 + 360 * i, 1695, 255);
        widenToFit(option);
        baudGroup_->addButton(option, i);
        Option1.append(option);
    }
    Option1[6]->setChecked(true);
    connect(baudGroup_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            Option1_Click(id);
        }
    });

    auto* frame2 =
        named<QGroupBox>(QStringLiteral("Frame2"), page, QStringLiteral("Communication Port"));
    place(frame2, 3000, 780, 2535, 3015);
    portGroup_ = new QButtonGroup(this);
    for (int i = 0; i < kPortOptionCount; ++i) {
        auto* option =
            named<QRadioButton>(indexed("Option2", i), frame2, QStringLiteral("Comm%1").arg(i + 1));
        place(option, 360, 480 + 360 * i, 1335, 255);
        widenToFit(option);
        portGroup_->addButton(option, i);
        option->installEventFilter(this);
        Option2.append(option);
    }
    Option2[0]->setChecked(true);
    connect(portGroup_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            Option2_Click(id);
        }
    });

    auto* frame3 = named<QGroupBox>(QStringLiteral("Frame3"), page, QStringLiteral("Flow Control"));
    place(frame3, 6120, 900, 2175, 1215);
    flowGroup_ = new QButtonGroup(this);
    Option3.append(named<QRadioButton>(indexed("Option3", 0), frame3, QStringLiteral("None")));
    place(Option3[0], 240, 360, 1215, 255);
    Option3.append(
        named<QRadioButton>(indexed("Option3", 1), frame3, QStringLiteral("Hardware (Cts/Rts)")));
    place(Option3[1], 240, 720, 1815, 255);
    widenToFit(Option3[0]);
    widenToFit(Option3[1]);
    flowGroup_->addButton(Option3[0], kFlowNone);
    flowGroup_->addButton(Option3[1], kFlowHardware);
    Option3[1]->setChecked(true);

    Label1 = named<QLabel>(QStringLiteral("Label1"), page, QStringLiteral("Slave ID"));
    place(Label1, 6600, 2220, 1335, 255);
    Text1 = named<QLineEdit>(QStringLiteral("Text1"), page, QStringLiteral("001"));
    place(Text1, 6480, 2700, 1575, 375);
    showStartOfText(Text1);
    connect(Text1, &QLineEdit::textChanged, this, &DwnLoad1::Text1_Change);
}

void DwnLoad1::buildDisplayTab(QWidget* page) {
    Frame8_0 = named<QGroupBox>(indexed("Frame8", 0), page);
    place(Frame8_0, 720, 480, 3255, 1815);
    for (int n = 0; n < 4; ++n) {
        auto* line = named<QLineEdit>(indexed("Text4", n), Frame8_0);
        line->setReadOnly(true);
        place(line, 120, 240 + 375 * n, 3015, 345);
        // A monospaced face as large as lets the widest line of 20 characters fit whole.
        line->setFont(largestFittingFont(
            displayLineFont(), QString(meter::RegistersPerDisplayLine * 2, QLatin1Char('W')),
            textRoom(line)));
        Text4.append(line);
    }
    displayNoAnswer_ = named<QLabel>(QStringLiteral("DisplayNoAnswer"), page);
    // Three lines: a reason can name a long device path and what the system said.
    place(displayNoAnswer_, 720, 2340, 7935, 675);
    markAsFailure(displayNoAnswer_);

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
        connect(key, &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
        Command1.append(key);
    }
}

void DwnLoad1::buildKeyboardShortcuts(QWidget* displayPage) {
    // The PC keyboard works the keypad while the display tab is shown; elsewhere the keys
    // belong to the text boxes. Each key's tooltip says which PC keys press it.
    for (int button = 0; button < Command1.size(); ++button) {
        QPushButton* pressed = Command1[button];
        QStringList names;
        for (int key : pcKeysForButton(button)) {
            auto* shortcut = new QShortcut(QKeySequence(key), displayPage);
            shortcut->setContext(Qt::WindowShortcut);
            shortcut->setAutoRepeat(false);
            shortcut->setEnabled(false);
            connect(shortcut, &QShortcut::activated, pressed,
                    [pressed] { pressed->animateClick(); });
            keypadShortcuts_.append(shortcut);
            names.append(QKeySequence(key).toString(QKeySequence::NativeText));
        }
        pressed->setToolTip(QStringLiteral("Keyboard: ") + names.join(QStringLiteral(" or ")));
    }
}

void DwnLoad1::setGridColumnWidth(int column, int pixels) {
    MSHFlexGrid1->setGridColumnWidth(column, pixels);
}

int DwnLoad1::gridColumnWidth(int column) const {
    return MSHFlexGrid1->gridColumnWidth(column);
}

SettingsControls DwnLoad1::controls() const {
    SettingsControls shown;
    shown.portOption = portGroup_->checkedId();
    shown.baudOption = baudGroup_->checkedId();
    shown.flowOption = flowGroup_->checkedId();
    shown.slaveIdText = Text1->text();
    shown.saveFileText = Text2->text();
    return shown;
}

void DwnLoad1::applyControls(const SettingsControls& shown) {
    if (shown.portOption >= 0 && shown.portOption < Option2.size()) {
        Option2[shown.portOption]->setChecked(true);
    }
    if (shown.baudOption >= 0 && shown.baudOption < Option1.size()) {
        Option1[shown.baudOption]->setChecked(true);
    }
    if (shown.flowOption >= 0 && shown.flowOption < Option3.size()) {
        Option3[shown.flowOption]->setChecked(true);
    }
    Text1->setText(shown.slaveIdText);
    Text2->setText(shown.saveFileText);
}

void DwnLoad1::Form_Load() {
    // The variables start out agreeing with the design-time controls, so a line the file
    // lacks leaves both showing the same thing.
    putInForce(controls(), settings_);
    if (settingsFile_.exists()) {
        SettingsControls loaded = controls();
        settingsFile_.LoadSettings(loaded, settings_);
        applyControls(loaded);
    } else {
        settingsFile_.WriteDefaultSettings();
    }
}

bool DwnLoad1::SaveSettings() {
    const bool written = settingsFile_.SaveSettings(controls());
    emit settingsSaved(written);
    return written;
}

bool DwnLoad1::saveOnceAtShutdown() {
    if (state_ == WindowState::ShutDown) {
        return true;
    }
    if (SaveSettings() || closeAnyway_(this, closeAnywayQuestion(settingsFile_.path()))) {
        state_ = WindowState::ShutDown;
        return true;
    }
    return false; // the next close tries again
}

bool DwnLoad1::downloadRunning() const {
    return state_ == WindowState::Downloading || state_ == WindowState::AskingToStop;
}

bool DwnLoad1::transactionInProgress() const {
    return link_.inSession();
}

void DwnLoad1::closeEvent(QCloseEvent* event) {
    if (transactionInProgress()) {
        // The waiting call is below us on the stack: nothing closes before it has returned.
        event->ignore();
        shutDownDuringTransaction(Shutdown::Close);
        return;
    }
    if (!saveOnceAtShutdown()) {
        event->ignore();
        return;
    }
    Timer1->stop();
    event->accept();
}

void DwnLoad1::File_mnu_Click() {
    if (transactionInProgress()) {
        shutDownDuringTransaction(Shutdown::Exit);
        return;
    }
    if (!saveOnceAtShutdown()) {
        return;
    }
    Timer1->stop();
    // Ends the event loop without closing the window, so no second save follows. Files are
    // opened and closed inside the routines that use them; none is open here.
    QCoreApplication::exit(0);
}

void DwnLoad1::shutDownDuringTransaction(Shutdown how) {
    switch (state_) {
    case WindowState::AskingToStop:
    case WindowState::Closing:
    case WindowState::Exiting:
        return; // asked once; or already stopping
    case WindowState::Downloading:
        break;
    default:
        stopThenShutDown(how); // a display tick: nothing worth asking about is lost
        return;
    }
    state_ = WindowState::AskingToStop;
    stopAskedFor_ = how;
    const int question = ++stopQuestion_;
    WithdrawQuestion withdraw = askStop_(this, stopDownloadQuestion(), [this, question](bool stop) {
        answerStopQuestion(question, stop);
    });
    if (state_ == WindowState::AskingToStop && question == stopQuestion_) {
        withdrawStopQuestion_ = std::move(withdraw); // not answered yet
    }
}

void DwnLoad1::answerStopQuestion(int question, bool stop) {
    if (state_ != WindowState::AskingToStop || question != stopQuestion_) {
        return; // withdrawn
    }
    state_ = WindowState::Downloading;
    withdrawStopQuestion_ = nullptr;
    if (stop) {
        stopThenShutDown(stopAskedFor_);
    }
}

void DwnLoad1::stopThenShutDown(Shutdown how) {
    if (!transactionInProgress()) {
        if (how == Shutdown::Exit) {
            File_mnu_Click();
        } else {
            close();
        }
        return;
    }
    // Stop the waiting call; the shut-down follows once it has returned.
    state_ = how == Shutdown::Exit ? WindowState::Exiting : WindowState::Closing;
    link_.abort();
}

void DwnLoad1::withdrawStopQuestion() {
    if (state_ != WindowState::AskingToStop) {
        return;
    }
    state_ = WindowState::Downloading;
    ++stopQuestion_;
    const WithdrawQuestion withdraw = std::move(withdrawStopQuestion_);
    withdrawStopQuestion_ = nullptr;
    if (withdraw) {
        withdraw();
    }
}

void DwnLoad1::afterTransaction() {
    // A question still shown asks about a download that has ended: nothing is left to stop,
    // and the window now shows how it ended, so it stays open until it is closed again.
    withdrawStopQuestion();
    const WindowState asked = state_;
    if (asked != WindowState::ShutDown) {
        state_ = WindowState::Idle;
    }
    switch (asked) {
    case WindowState::Exiting:
        File_mnu_Click();
        break;
    case WindowState::Closing:
        close();
        break;
    case WindowState::DownloadQueued:
        Command2->setEnabled(true);
        Command2_Click();
        break;
    default:
        break;
    }
}

void DwnLoad1::Command3_Click() {
    // The dialog opens where the current file is.
    const QString folder = QFileInfo(settings_.SaveFileName).absolutePath();
    const std::optional<QString> chosen =
        chooseSaveFile_(this, {QStringLiteral("Download FileName"), QStringLiteral("LogData.csv"),
                               QStringLiteral("*.csv"), folder});
    if (!chosen || chosen->isEmpty()) {
        return;
    }
    const QString name = withCsvExtension(*chosen);
    Text2->setText(name);
    settings_.SaveFileName = name;
}

void DwnLoad1::Option1_Click(int index) {
    if (index >= 0 && index < int(kBaudCaptions.size())) {
        settings_.BaudText = QString::fromLatin1(kBaudCaptions[index]);
    }
}

void DwnLoad1::Option2_Click(int index) {
    if (index >= 0 && index < kPortOptionCount) {
        settings_.PortNumber = qint16(index + 1);
    }
}

void DwnLoad1::Text1_Change() {
    if (dropLineBreaks(Text1))
        return; // the cleaned text has been through here already
    settings_.SlaveId = roundToInt16Saturating(numericValue(Text1->text()));
}

void DwnLoad1::Text2_Change() {
    if (dropLineBreaks(Text2))
        return;
    settings_.SaveFileName = Text2->text();
}

void DwnLoad1::Command2_Click() {
    if (downloadRunning()) {
        // The button reads "Stop": the wait in progress ends at its next look, and the
        // download with it.
        link_.abort();
        return;
    }
    // A click already waiting counts once; nothing starts while the window stops or after
    // its shut-down.
    if (!Command2->isEnabled() || state_ != WindowState::Idle) {
        return;
    }
    if (transactionInProgress()) {
        // A display tick waits below us; the download starts when it has ended.
        state_ = WindowState::DownloadQueued;
        Command2->setEnabled(false);
        return;
    }
    state_ = WindowState::Downloading;
    const DownloadOutcome outcome = downloadCommand_->run();
    if (downloadRunning()) {
        withdrawStopQuestion();
        state_ = WindowState::Idle;
    }
    // The grid keeps what was read; a part read before a stop or failure is never passed
    // off as the whole log, nor as what the file holds.
    const qint32 rows = std::max<qint32>(0, downloadLog_->LastGridRow() - 1);
    const QString notSaved = partialDownloadText(outcome, rows);
    viewNotSaved_->setText(notSaved);
    viewNotSaved_->setVisible(!notSaved.isEmpty());
    chartTab_->showDownload(grid_, downloadLog_->LastGridRow(), downloadLog_->channelFlags(),
                            notSaved.isEmpty() ? QString() : partialDownloadMark(outcome));
    afterTransaction();
}

QString DwnLoad1::partialDownloadText(DownloadOutcome outcome, qint32 rows) {
    if (rows <= 0)
        return QString();
    switch (outcome) {
    case DownloadOutcome::Stopped:
        return QStringLiteral("Not saved: these %1 rows were read before the download was "
                              "stopped, and are not the whole log. The CSV file is as it was.")
            .arg(rows);
    case DownloadOutcome::DownloadFailed:
        return QStringLiteral("Not saved: these %1 rows were read before the download failed, "
                              "and are not the whole log. The CSV file is as it was.")
            .arg(rows);
    case DownloadOutcome::ExportFailed:
        return QStringLiteral("Not saved: these %1 rows are the whole log, but the file could "
                              "not be written. The CSV file is as it was.")
            .arg(rows);
    default:
        return QString();
    }
}

QString DwnLoad1::partialDownloadMark(DownloadOutcome outcome) {
    switch (outcome) {
    case DownloadOutcome::Stopped:
        return QStringLiteral("stopped part way, rows read before the stop, not saved");
    case DownloadOutcome::DownloadFailed:
        return QStringLiteral("failed part way, rows read before the failure, not saved");
    default:
        return QStringLiteral("not saved");
    }
}

void DwnLoad1::Command1_Click(int index) {
    display_->queueKey(index);
}

void DwnLoad1::Timer1_Timer() {
    const int linesBefore = displayLines_->linesShown();
    if (display_->refresh()) {
        // A tick that brought no line back heard nothing from the meter; one stopped on
        // purpose says nothing about it.
        if (displayLines_->linesShown() != linesBefore) {
            displayLines_->setNoAnswerReason(QString());
        } else if (link_.lastFailure().fault != LinkFault::Stopped) {
            displayLines_->setNoAnswerReason(describe(link_.lastFailure()));
        }
        afterTransaction();
    }
}

void DwnLoad1::SSTab1_Click(int previousTab) {
    const bool displayShown = SSTab1->currentIndex() == DisplayPanel::DisplayTab;
    for (QShortcut* shortcut : keypadShortcuts_) {
        shortcut->setEnabled(displayShown);
    }
    display_->tabChanged(previousTab, SSTab1->currentIndex());
}

void DwnLoad1::showEvent(QShowEvent* event) {
    refreshPortToolTips();
    QMainWindow::showEvent(event);
}

bool DwnLoad1::eventFilter(QObject* watched, QEvent* event) {
    // Asked again at each hover: an adapter or a comN link may have come or gone, and either
    // moves the others.
    if (event->type() == QEvent::ToolTip &&
        Option2.contains(qobject_cast<QRadioButton*>(watched))) {
        refreshPortToolTips();
    }
    return QMainWindow::eventFilter(watched, event);
}

void DwnLoad1::refreshPortToolTips() {
    const CommTargets targets = currentCommTargets(settingsFile_.directory());
    for (int i = 0; i < Option2.size() && i < int(targets.size()); ++i) {
        Option2[i]->setToolTip(describeTarget(targets[size_t(i)]));
    }
}

} // namespace meterlink
