#pragma once

#include "logger/append_state.h"

#include <QDateTime>
#include <QString>

namespace meterlink {

class DownloadPanel;
class DownloadView;
class EventPump;
class LogAnswerSink;
class LogReader;
class ModbusLink;

// What an append does when it finds its file not as it left it.
struct AppendRules {
    CsvForm newFileForm;         // the form a new file is written in
    bool failOnMismatch = false; // write nothing when the file or its state is not as left
    bool failOnRestart = false;  // write nothing when the meter's log restarted since
};

// How an append ended, in the words the status line and the command line show.
struct AppendOutcome {
    enum Kind {
        Appended,     // the new rows are in the file (or a first file holds the whole log)
        NoNewRecords, // the log has not grown: nothing written
        // The log restarted: its whole content went to a new file beside the old one.
        NewFileAfterRestart,
        // The file or its state was not as left: the whole log went to a new file.
        NewFileNotAsLeft,
        NotAsLeft,  // ... and the rules said to write nothing
        Restarted,  // the log restarted and the rules said to write nothing
        EmptyLog,   // "0 Records Available"
        ReadFailed, // the meter was not read (or the session was stopped): nothing written
        NotWritten, // a file could not be written
    };
    Kind kind = Appended;
    QString summary;       // the last status text, with the file and the blocks read
    QString reason;        // why it failed, or what made a new file; empty otherwise
    QString warning;       // a logger nearly full
    bool wholeLog = false; // the file written holds the whole log read now
};

// Adds to a CSV file only the rows of the meter's log that are new since the last run,
// which the state file beside it (NAME.state) remembers; a file not as left, or a log that
// restarted, gets the whole log in a new file instead (see AppendRules). The rows are made
// by the code that makes a whole download's file, in the form the file was first written
// in, and the file is written whole once.
class LogAppend {
public:
    LogAppend(ModbusLink& link, EventPump& pump, DownloadView& view, DownloadPanel& panel);

    // Handed every answer used, as it came (for a log image); none by default.
    void setAnswerSink(LogAnswerSink* sink) { sink_ = sink; }

    // One meter's append in a session of its own. `now` is the PC's clock: the year of the
    // newest record of an ISO file's first run.
    AppendOutcome run(int slave, const QString& fileName, const AppendRules& rules,
                      const QDateTime& now);

private:
    AppendOutcome fail(AppendOutcome::Kind kind, const QString& status, const QString& reason);
    static QString readFailedText(const LogReader& reader);

    ModbusLink& link_;
    EventPump& pump_;
    DownloadView& view_;
    DownloadPanel& panel_;
    LogAnswerSink* sink_ = nullptr;
};

// The first of NAME-2.EXT, NAME-3.EXT, ... that is free, beside `path`, state file included.
QString freeCounterName(const QString& path);

} // namespace meterlink
