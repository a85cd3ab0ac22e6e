#pragma once

#include "app/display_lines.h"
#include "app/download_controls.h"
#include "display/display_panel.h"
#include "logger/download_command.h"
#include "logger/download_log.h"

namespace meterlink {

class EventPump;
class GridModel;
class ModbusLink;
struct Settings;

// The window's jobs over one link, built before the window as meterlink-cli builds its own;
// the window shows them and hands on what the user does. Their views start without
// controls: the window gives them its own as it builds its tabs.
struct WindowJobs {
    WindowJobs(ModbusLink& link, EventPump& pump, Settings& settings, GridModel& grid);
    WindowJobs(const WindowJobs&) = delete;
    WindowJobs& operator=(const WindowJobs&) = delete;

    ModbusLink& link;
    Settings& settings;
    GridModel& grid;

    DisplayLines displayLines;
    DisplayPanel display;
    DownloadControls downloadControls;
    DownloadLog downloadLog;
    DownloadCommand download;
};

} // namespace meterlink
