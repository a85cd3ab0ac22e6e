#include "sim/sim_options.h"

#include "modbus/slave_id_list.h"
#include "sim/meter_log.h"
#include "sim/meter_scenario.h"

namespace meterlink {

std::optional<QString> SimOptions::parse(const QStringList& arguments) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments.at(i);
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            help = true;
            continue;
        }
        if (!option.startsWith(QLatin1String("--")))
            return QStringLiteral("unexpected argument \"%1\"").arg(option);
        if (i + 1 >= arguments.size())
            return QStringLiteral("%1 needs a value").arg(option);
        const QString value = arguments.at(++i);
        const auto integer = [&](qint64 min, qint64 max) -> std::optional<qint64> {
            bool ok = false;
            const qint64 v = value.toLongLong(&ok, 10);
            if (!ok || v < min || v > max)
                return std::nullopt;
            return v;
        };
        const auto outOfRange = [&](qint64 min, qint64 max) {
            return QStringLiteral("%1 takes a whole number from %2 to %3, not \"%4\"")
                .arg(option)
                .arg(min)
                .arg(max)
                .arg(value);
        };
        if (option == QLatin1String("--link")) {
            if (value.isEmpty())
                return QStringLiteral("--link needs a path");
            linkPath = value;
        } else if (option == QLatin1String("--scenario")) {
            scenarioPath = value;
        } else if (option == QLatin1String("--image")) {
            imagePath = value;
        } else if (option == QLatin1String("--export-records")) {
            exportPath = value;
        } else if (option == QLatin1String("--records")) {
            const auto v = integer(0, MeterLog::CapacityRecords);
            if (!v)
                return outOfRange(0, MeterLog::CapacityRecords);
            records = static_cast<int>(*v);
        } else if (option == QLatin1String("--baud")) {
            const auto v = integer(50, 4000000);
            if (!v)
                return outOfRange(50, 4000000);
            baud = static_cast<int>(*v);
        } else if (option == QLatin1String("--slave")) {
            const auto ids = parseIdList(value, 1, 247);
            if (!ids)
                return QStringLiteral("--slave takes slave IDs from 1 to 247 (e.g. 1,2,7 or "
                                      "3-5), not \"%1\"")
                    .arg(value);
            slaveIds = *ids;
            slaveId = slaveIds.first();
        } else if (option == QLatin1String("--control")) {
            controlPath = value;
        } else if (option == QLatin1String("--seed")) {
            const auto v = integer(0, 4294967295LL);
            if (!v)
                return outOfRange(0, 4294967295LL);
            seed = static_cast<quint32>(*v);
        } else if (option == QLatin1String("--fault")) {
            if (const auto why = faults.add(value))
                return *why;
        } else {
            return QStringLiteral("unknown option %1").arg(option);
        }
    }
    if (!help && linkPath.isEmpty())
        return QStringLiteral("--link PATH is required");
    if (!imagePath.isEmpty() && (!scenarioPath.isEmpty() || records || !controlPath.isEmpty()))
        return QStringLiteral("--image gives the log and names: it cannot go with --scenario, "
                              "--records or --control");
    return std::nullopt;
}

QString simUsage() {
    return QStringLiteral(
               "Usage: meterlink-sim --link PATH [--scenario FILE] [--records N] [--baud B]\n"
               "                     [--slave IDS] [--fault KIND[:ARG]]... [--seed S]\n"
               "                     [--export-records FILE] [--control FILE] [--image FILE]\n"
               "                     [--help]\n"
               "\n"
               "Serves a simulated meter (Modbus RTU slave, functions 3, 16 and 96) on a\n"
               "pseudo-terminal and links PATH to it. Prints one ready line, then answers\n"
               "until SIGINT or SIGTERM, and removes the link when it ends.\n"
               "\n"
               "  --link PATH            symlink to create (a stale link is replaced)\n"
               "  --scenario FILE        channel names, records and display from FILE\n"
               "  --image FILE           serve the log and channel names a download kept in\n"
               "                         FILE (meterlink-cli download --image), as they came\n"
               "  --records N            generate N records (default 200; a scenario's own\n"
               "                         records win)\n"
               "  --baud B               send answers at B baud (10 bits a byte), and hear\n"
               "                         only requests sent while the line is set to B\n"
               "  --slave IDS            slave ID, 1 to 247 (default 1); a list (1,2,7 or\n"
               "                         3-5) puts one meter per ID on the line, each with\n"
               "                         a log of its own (seed S, S+1, ...)\n"
               "  --seed S               seed of the generated log and of noise bytes\n"
               "  --export-records FILE  write the log served, one record a line:\n"
               "                         channel,YYYY-MM-DD HH:MM,value\n"
               "  --control FILE         re-read before each request when it changed:\n"
               "                         \"records N\" grows (or shrinks) the generated logs,\n"
               "                         \"seed S\" restarts them with other readings\n"
               "  --fault KIND[:ARG]     silent | ignore:K | badcrc[:K] | exception:C[:FUNCTION]\n"
               "                         | truncate:K | noise | delay:SECONDS (repeatable)\n"
               "\n") +
           meterScenarioHelp();
}

} // namespace meterlink
