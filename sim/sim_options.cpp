#include "sim/sim_options.h"

#include "modbus/slave_id_list.h"
#include "sim/meter_log.h"
#include "sim/meter_scenario.h"

namespace meterlink {

namespace {

// Only the loopback: the simulator never listens where the network could reach it.
bool isLoopback(const QString& host) {
    if (host == QLatin1String("localhost"))
        return true;
    const QStringList octets = host.split(QLatin1Char('.'));
    if (octets.size() != 4 || octets.first() != QLatin1String("127"))
        return false;
    for (const QString& octet : octets) {
        bool ok = false;
        const int v = octet.toInt(&ok, 10);
        if (!ok || v < 0 || v > 255 || octet.size() > 3)
            return false;
    }
    return true;
}

} // namespace

std::optional<QString> SimOptions::parse(const QStringList& arguments) {
    if (arguments.contains(QLatin1String("--version"))) {
        version = true;
        return std::nullopt;
    }
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
        } else if (option == QLatin1String("--tcp")) {
            const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
            bool ok = false;
            const int port = colon > 0 ? value.mid(colon + 1).toInt(&ok, 10) : -1;
            if (!ok || port < 0 || port > 65535 || !isLoopback(value.left(colon)))
                return QStringLiteral("--tcp takes a loopback address and a port (0: any free "
                                      "one), e.g. 127.0.0.1:5020, not \"%1\"")
                    .arg(value);
            tcpHost = value.left(colon);
            tcpPort = port;
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
        } else if (option == QLatin1String("--pace")) {
            if (value != QLatin1String("byte") && value != QLatin1String("chunk"))
                return QStringLiteral("--pace takes byte or chunk, not \"%1\"").arg(value);
            paced = value == QLatin1String("byte");
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
        } else if (option == QLatin1String("--unplug")) {
            const QStringList parts = value.split(QLatin1Char(':'));
            bool countOk = false;
            bool secondsOk = false;
            const int at = parts.value(0).toInt(&countOk);
            const double seconds = parts.value(1).toDouble(&secondsOk);
            if (parts.size() != 2 || !countOk || !secondsOk || at < 1 || seconds < 0 ||
                seconds > 3600)
                return QStringLiteral("--unplug takes N:SECONDS (the N-th request, from 1; 0 to "
                                      "3600 s), not \"%1\"")
                    .arg(value);
            unplugAt = at;
            unpluggedFor = seconds;
        } else if (option == QLatin1String("--fault")) {
            if (const auto why = faults.add(value))
                return *why;
        } else {
            return QStringLiteral("unknown option %1").arg(option);
        }
    }
    if (help)
        return std::nullopt;
    if (linkPath.isEmpty() == tcpHost.isEmpty())
        return QStringLiteral("either --link PATH or --tcp HOST:PORT is required");
    if (tcpHost.isEmpty() && (faults.latencyMs > 0 || faults.dropAt > 0))
        return QStringLiteral("the latency and drop faults are the network's: they need --tcp");
    if (!imagePath.isEmpty() && (!scenarioPath.isEmpty() || records || !controlPath.isEmpty()))
        return QStringLiteral("--image gives the log and names: it cannot go with --scenario, "
                              "--records or --control");
    if (paced && (baud == 0 || !tcpHost.isEmpty()))
        return QStringLiteral("--pace byte needs --link and --baud");
    return std::nullopt;
}

QString simUsage() {
    return QStringLiteral(
               "Usage: meterlink-sim (--link PATH | --tcp HOST:PORT) [--scenario FILE]\n"
               "                     [--records N] [--baud B] [--pace byte|chunk]\n"
               "                     [--slave IDS] [--fault KIND[:ARG]]... [--seed S]\n"
               "                     [--export-records FILE] [--control FILE] [--image FILE]\n"
               "                     [--unplug N:SECONDS] [--help] [--version]\n"
               "\n"
               "Serves a simulated meter (Modbus RTU slave, functions 3, 16 and 96) on a\n"
               "pseudo-terminal and links PATH to it. Prints one ready line, then answers\n"
               "until SIGINT or SIGTERM, and removes the link when it ends.\n"
               "\n"
               "  --link PATH            symlink to create (a stale link is replaced)\n"
               "  --tcp HOST:PORT        instead, behind a simulated gateway: listen on this\n"
               "                         loopback address (port 0: a free one, named in the\n"
               "                         ready line) for one client at a time; a second\n"
               "                         connection is closed at once, and --baud only paces\n"
               "                         the answers\n"
               "  --scenario FILE        channel names, records and display from FILE\n"
               "  --image FILE           serve the log and channel names a download kept in\n"
               "                         FILE (meterlink-cli download --image), as they came\n"
               "  --records N            generate N records (default 200; a scenario's own\n"
               "                         records win)\n"
               "  --baud B               send answers at B baud (10 bits a byte), and hear\n"
               "                         only requests sent while the line is set to B\n"
               "  --pace byte|chunk      with --baud: each byte when the line carries it\n"
               "                         (byte), or about 5 ms of bytes a write (chunk,\n"
               "                         the default)\n"
               "  --slave IDS            slave ID, 1 to 247 (default 1); a list (1,2,7 or\n"
               "                         3-5) puts one meter per ID on the line, each with\n"
               "                         a log of its own (seed S, S+1, ...)\n"
               "  --seed S               seed of the generated log and of noise bytes\n"
               "  --export-records FILE  write the log served, one record a line:\n"
               "                         channel,YYYY-MM-DD HH:MM,value\n"
               "  --control FILE         re-read before each request when it changed:\n"
               "                         \"records N\" grows (or shrinks) the generated logs,\n"
               "                         \"seed S\" restarts them with other readings,\n"
               "                         \"stall-after N\" leaves log reads after the\n"
               "                         first N unanswered and says so on stdout\n"
               "  --fault KIND[:ARG]     silent | ignore:K | badcrc[:K] | exception:C[:FUNCTION]\n"
               "                         | truncate:K | noise | delay:SECONDS (repeatable);\n"
               "                         behind --tcp also latency:MS (each way) and drop:K\n"
               "                         (the K-th request closes the connection, and the\n"
               "                         gateway is back half a second later)\n"
               "  --unplug N:SECONDS     the line vanishes as the N-th request arrives (it is\n"
               "                         not answered) and comes back SECONDS later on a new\n"
               "                         pseudo-terminal under the same link\n"
               "\n") +
           meterScenarioHelp() + QStringLiteral("\nThe manual: man meterlink-sim\n");
}

} // namespace meterlink
