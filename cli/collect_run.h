#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace meterlink {

struct CliOptions;
struct Console;
class EventPump;
class ModbusLink;
struct Settings;

// `download` with what unattended collection needs: several meters in turn, names with
// {slave}, {date} and {time}, appending only what is new, ISO timestamps, a byte-order
// mark. Returns the run's exit status: the first of 3, 2, 5, 4, 1, 6 that any meter had,
// else 0.
// `stopped` says a stop signal came: the meters not yet asked are left alone. Each
// meter's outcome says how old its newest record is against `now`.
int runCollect(ModbusLink& link, EventPump& pump, const std::function<bool()>& stopped,
               const Settings& settings, const CliOptions& options, Console& console,
               const QDateTime& started,
               const std::function<QDateTime()>& now = &QDateTime::currentDateTime);

// --out with its fields filled in: {slave}, {date} (YYYY-MM-DD) and {time} (HHMMSS).
QString expandOutName(const QString& pattern, int slave, const QDateTime& started);

} // namespace meterlink
