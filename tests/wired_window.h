#pragma once

#include "app/dwn_load1.h"
#include "app/window_jobs.h"

namespace meterlink {

// Holds the jobs so that they are built before the window and outlive it.
struct WindowJobsHolder {
    WindowJobs jobs;
};

// The window wired as the program wires it, over the test's own link and grid: the jobs
// first, then the window that borrows them.
class WiredWindow : private WindowJobsHolder, public DwnLoad1 {
public:
    WiredWindow(Settings& settings, SettingsFile settingsFile, ModbusLink& link, EventPump& pump,
                GridModel& grid, SaveFileChooser chooseSaveFile = askSaveFileName)
        : WindowJobsHolder{WindowJobs(link, pump, settings, grid)},
          DwnLoad1(jobs, std::move(settingsFile), std::move(chooseSaveFile)) {}
};

} // namespace meterlink
