#include "app/dwn_load1.h"

#include "app/chart_tab.h"
#include "app/display_lines.h"
#include "app/download_controls.h"
#include "app/record_grid.h"
#include "app/window_jobs.h"
#include "display/display_panel.h"
#include "logger/download_command.h"
#include "logger/download_log.h"
#include "logger/grid_model.h"
#include "modbus/link_failure.h"
#include "modbus/modbus_link.h"
#include "platform/serial_port_search.h"
#include "settings/numeric_value.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTabWidget>
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

constexpr int kTimerIntervalMs = 750;

} // namespace

DwnLoad1::DwnLoad1(WindowJobs& jobs, SettingsFile settingsFile, SaveFileChooser chooseSaveFile,
                   QWidget* parent)
    : QMainWindow(parent), jobs_(jobs), settings_(jobs.settings),
      settingsFile_(std::move(settingsFile)), link_(jobs.link), grid_(jobs.grid),
      chooseSaveFile_(std::move(chooseSaveFile)) {
    setObjectName(QStringLiteral("DwnLoad1"));
    setWindowTitle(QStringLiteral("Morvel Download Revision 1.05"));
    // The layout was measured for this face and size; where it is missing the nearest
    // sans face at 8 points keeps the captions inside their boxes.
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    File_mnu = menuBar()->addAction(QStringLiteral("E&xit"));
    File_mnu->setObjectName(QStringLiteral("File_mnu"));
    connect(File_mnu, &QAction::triggered, this, &DwnLoad1::File_mnu_Click);

    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    setCentralWidget(SSTab1);
    tabs_ = buildWindowTabs(SSTab1, grid_);
    connectControls();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTimerIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &DwnLoad1::Timer1_Timer);

    jobs_.displayLines.showOn(tabs_.display.Text4, Timer1, tabs_.display.noAnswer);
    const DownloadTabControls& download = tabs_.download;
    jobs_.downloadControls.showOn(download.Label4, download.reason, download.Command2,
                                  download.ProgressBar1, download.Text3);
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

void DwnLoad1::connectControls() {
    const DownloadTabControls& download = tabs_.download;
    connect(download.Text2, &QLineEdit::textChanged, this, &DwnLoad1::Text2_Change);
    connect(download.Command3, &QPushButton::clicked, this, &DwnLoad1::Command3_Click);
    connect(download.Command2, &QPushButton::clicked, this, &DwnLoad1::Command2_Click);
    // Esc stops a download from any tab, as the button does; otherwise it does nothing.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, this, [this] {
        if (downloadRunning())
            Command2_Click();
    });

    const SettingsTabControls& settings = tabs_.settings;
    connect(settings.baudGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            Option1_Click(id);
        }
    });
    for (QRadioButton* option : settings.Option2)
        option->installEventFilter(this);
    connect(settings.portGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            Option2_Click(id);
        }
    });
    connect(settings.Text1, &QLineEdit::textChanged, this, &DwnLoad1::Text1_Change);

    for (int i = 0; i < tabs_.display.Command1.size(); ++i) {
        connect(tabs_.display.Command1[i], &QPushButton::clicked, this,
                [this, i] { Command1_Click(i); });
    }
}

void DwnLoad1::setGridColumnWidth(int column, int pixels) {
    tabs_.view.MSHFlexGrid1->setGridColumnWidth(column, pixels);
}

int DwnLoad1::gridColumnWidth(int column) const {
    return tabs_.view.MSHFlexGrid1->gridColumnWidth(column);
}

SettingsControls DwnLoad1::controls() const {
    SettingsControls shown;
    shown.portOption = tabs_.settings.portGroup->checkedId();
    shown.baudOption = tabs_.settings.baudGroup->checkedId();
    shown.flowOption = tabs_.settings.flowGroup->checkedId();
    shown.slaveIdText = tabs_.settings.Text1->text();
    shown.saveFileText = tabs_.download.Text2->text();
    return shown;
}

void DwnLoad1::applyControls(const SettingsControls& shown) {
    if (shown.portOption >= 0 && shown.portOption < tabs_.settings.Option2.size()) {
        tabs_.settings.Option2[shown.portOption]->setChecked(true);
    }
    if (shown.baudOption >= 0 && shown.baudOption < tabs_.settings.Option1.size()) {
        tabs_.settings.Option1[shown.baudOption]->setChecked(true);
    }
    if (shown.flowOption >= 0 && shown.flowOption < tabs_.settings.Option3.size()) {
        tabs_.settings.Option3[shown.flowOption]->setChecked(true);
    }
    tabs_.settings.Text1->setText(shown.slaveIdText);
    tabs_.download.Text2->setText(shown.saveFileText);
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

const DisplayPanel& DwnLoad1::displayPanel() const {
    return jobs_.display;
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
        tabs_.download.Command2->setEnabled(true);
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
    tabs_.download.Text2->setText(name);
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
    if (dropLineBreaks(tabs_.settings.Text1))
        return; // the cleaned text has been through here already
    settings_.SlaveId = roundToInt16Saturating(numericValue(tabs_.settings.Text1->text()));
}

void DwnLoad1::Text2_Change() {
    if (dropLineBreaks(tabs_.download.Text2))
        return;
    settings_.SaveFileName = tabs_.download.Text2->text();
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
    if (!tabs_.download.Command2->isEnabled() || state_ != WindowState::Idle) {
        return;
    }
    if (transactionInProgress()) {
        // A display tick waits below us; the download starts when it has ended.
        state_ = WindowState::DownloadQueued;
        tabs_.download.Command2->setEnabled(false);
        return;
    }
    state_ = WindowState::Downloading;
    const DownloadOutcome outcome = jobs_.download.run();
    if (downloadRunning()) {
        withdrawStopQuestion();
        state_ = WindowState::Idle;
    }
    // The grid keeps what was read; a part read before a stop or failure is never passed
    // off as the whole log, nor as what the file holds.
    const qint32 rows = std::max<qint32>(0, jobs_.downloadLog.LastGridRow() - 1);
    const QString notSaved = partialDownloadText(outcome, rows);
    tabs_.view.notSaved->setText(notSaved);
    tabs_.view.notSaved->setVisible(!notSaved.isEmpty());
    tabs_.chart->showDownload(grid_, jobs_.downloadLog.LastGridRow(),
                              jobs_.downloadLog.channelFlags(),
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
    jobs_.display.queueKey(index);
}

void DwnLoad1::Timer1_Timer() {
    const int linesBefore = jobs_.displayLines.linesShown();
    if (jobs_.display.refresh()) {
        // A tick that brought no line back heard nothing from the meter; one stopped on
        // purpose says nothing about it.
        if (jobs_.displayLines.linesShown() != linesBefore) {
            jobs_.displayLines.setNoAnswerReason(QString());
        } else if (link_.lastFailure().fault != LinkFault::Stopped) {
            jobs_.displayLines.setNoAnswerReason(describe(link_.lastFailure()));
        }
        afterTransaction();
    }
}

void DwnLoad1::SSTab1_Click(int previousTab) {
    const bool displayShown = SSTab1->currentIndex() == DisplayPanel::DisplayTab;
    for (QShortcut* shortcut : tabs_.display.keypadShortcuts) {
        shortcut->setEnabled(displayShown);
    }
    jobs_.display.tabChanged(previousTab, SSTab1->currentIndex());
}

void DwnLoad1::showEvent(QShowEvent* event) {
    refreshPortToolTips();
    QMainWindow::showEvent(event);
}

bool DwnLoad1::eventFilter(QObject* watched, QEvent* event) {
    // Asked again at each hover: an adapter or a comN link may have come or gone, and either
    // moves the others.
    if (event->type() == QEvent::ToolTip &&
        tabs_.settings.Option2.contains(qobject_cast<QRadioButton*>(watched))) {
        refreshPortToolTips();
    }
    return QMainWindow::eventFilter(watched, event);
}

void DwnLoad1::refreshPortToolTips() {
    const CommTargets targets = currentCommTargets(settingsFile_.directory());
    for (int i = 0; i < tabs_.settings.Option2.size() && i < int(targets.size()); ++i) {
        tabs_.settings.Option2[i]->setToolTip(describeTarget(targets[size_t(i)]));
    }
}

} // namespace meterlink
