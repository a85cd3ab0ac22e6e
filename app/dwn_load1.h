#pragma once

#include "app/close_anyway_question.h"
#include "app/save_file_dialog.h"
#include "app/stop_download_question.h"
#include "app/window_tabs.h"
#include "logger/download_command.h"
#include "settings/settings.h"
#include "settings/settings_controls.h"
#include "settings/settings_file.h"

#include <QMainWindow>

#include <optional>

class QAction;
class QTabWidget;
class QTimer;

namespace meterlink {

class DisplayPanel;
class GridModel;
class ModbusLink;
struct WindowJobs;

// What the window does with the link, one value at a time. A display tick runs in Idle or
// DownloadQueued (the link's session says whether one is running); everything a click or a
// close asks for while a call waits below is done once that call has returned.
enum class WindowState {
    Idle,
    DownloadQueued, // Download Data pressed during a tick: started when the tick has returned
    Downloading,    // a download is on the call stack; Command2 and Esc stop it
    AskingToStop,   // a close or Exit during the download: the stop question is shown
    Closing,        // the waiting call was stopped: the window closes once it has returned
    Exiting,        // the same for Exit
    ShutDown,       // settings saved for the shut-down: nothing starts any more
};
enum class Shutdown { Close, Exit };

// The program's only window. It keeps the settings variables in step with its controls
// and starts and stops its jobs (the download, the meter's display) as the user asks; it
// owns neither the variables, nor the serial link, nor the grid's cells.
class DwnLoad1 : public QMainWindow {
    Q_OBJECT
public:
    // Runs Form_Load: reads the settings file in `settingsFile`'s directory or creates it.
    // The window shows `jobs` and hands on what the user does; it builds none of them.
    DwnLoad1(WindowJobs& jobs, SettingsFile settingsFile,
             SaveFileChooser chooseSaveFile = askSaveFileName, QWidget* parent = nullptr);
    ~DwnLoad1() override;

    // Column 0 is the fixed heading column, shown as the grid's row headings.
    void setGridColumnWidth(int column, int pixels);
    int gridColumnWidth(int column) const;

    // What the settings controls show, and the reverse (raising the controls' handlers).
    SettingsControls controls() const;
    // Asked when the settings file cannot be written at close or Exit.
    void setCloseAnywayQuestion(CloseAnywayQuestion ask) { closeAnyway_ = std::move(ask); }
    // Asked when the window is closed or left by Exit while a download runs.
    void setStopDownloadQuestion(StopDownloadQuestion ask) { askStop_ = std::move(ask); }
    void applyControls(const SettingsControls& controls);

    Settings& settings() { return settings_; }
    const SettingsFile& settingsFile() const { return settingsFile_; }
    const DisplayPanel& displayPanel() const;
    // A tick or a download is on the call stack, holding the link's session.
    bool transactionInProgress() const;
    WindowState windowState() const { return state_; }

signals:
    // Every SaveSettings run at shut-down, with whether the file was written.
    void settingsSaved(bool written);

public slots:
    void Form_Load();
    bool SaveSettings();
    void File_mnu_Click();
    void Command3_Click();
    void Option1_Click(int index);
    void Option2_Click(int index);
    void Text1_Change();
    void Text2_Change();

    void Command2_Click();
    void Command1_Click(int index);
    void Timer1_Timer();
    void SSTab1_Click(int previousTab);

protected:
    void closeEvent(QCloseEvent* event) override; // Form_Unload
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the View and Chart tabs say of rows a download read but did not save; empty
    // after a whole download.
    static QString partialDownloadText(DownloadOutcome outcome, qint32 rows);
    static QString partialDownloadMark(DownloadOutcome outcome);
    void connectControls();
    void refreshPortToolTips();
    // Shut-down saves once, whichever way the program ends. False when the file was not
    // written and the user keeps the window open.
    bool saveOnceAtShutdown();
    bool downloadRunning() const;
    // What was asked for while a tick or download waited, once it has returned.
    void afterTransaction();
    // A close or Exit while a session waits: a tick is stopped at once, a download only
    // when the user says so.
    void shutDownDuringTransaction(Shutdown how);
    void stopThenShutDown(Shutdown how);
    void answerStopQuestion(int question, bool stop);
    void withdrawStopQuestion();

    WindowJobs& jobs_;
    Settings& settings_;
    SettingsFile settingsFile_;
    ModbusLink& link_;
    GridModel& grid_;
    SaveFileChooser chooseSaveFile_;
    CloseAnywayQuestion closeAnyway_ = askCloseAnyway;
    StopDownloadQuestion askStop_ = askStopDownload;
    int shownTab_ = 0;

    WindowState state_ = WindowState::Idle;
    // The stop question while state_ is AskingToStop: the shut-down it asks about, which
    // question it is (an answer to a withdrawn one is ignored), and how to take it away.
    Shutdown stopAskedFor_ = Shutdown::Close;
    int stopQuestion_ = 0;
    WithdrawQuestion withdrawStopQuestion_;

    QAction* File_mnu = nullptr;
    QTabWidget* SSTab1 = nullptr;
    QTimer* Timer1 = nullptr;
    WindowTabs tabs_;
};

} // namespace meterlink
