#include "app/window_jobs.h"

namespace meterlink {

WindowJobs::WindowJobs(ModbusLink& link, EventPump& pump, Settings& settings, GridModel& grid)
    : link(link), settings(settings), grid(grid), display(link, settings, displayLines),
      downloadLog(link, pump, settings, grid, downloadControls),
      download(link, settings, grid, downloadLog, downloadControls) {}

} // namespace meterlink
