#pragma once

#include <QLocale>

namespace meterlink {

class ConsoleDownloadView;
class EventPump;
class LogAnswerSink;
class ModbusLink;
struct Settings;

// The window's "Download Data" without the window: downloads into a grid of its own and
// exports it to settings.SaveFileName. Returns the exit status (0 exported, 1 empty log,
// 2 download failed, 3 file not written); the reason for a failure is the view's.
// `sink`, when given, sees every answer the download used.
int runDownloadJob(ModbusLink& link, EventPump& pump, const Settings& settings,
                   ConsoleDownloadView& view, const QLocale& locale = QLocale::system(),
                   LogAnswerSink* sink = nullptr);

} // namespace meterlink
