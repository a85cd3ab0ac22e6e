#include "cli/cli_options.h"

#include "display/keypad.h"
#include "modbus/slave_id_list.h"
#include "platform/tcp_device.h"

#include <limits>

namespace meterlink {

namespace {

struct OptionSpec {
    const char* name;
    bool takesValue;
};

const OptionSpec kLinkOptions[] = {
    {"--device", true}, {"--port", true}, {"--baud", true}, {"--slave", true}, {"--trace", true}};

std::optional<CliCommand> commandNamed(const QString& word) {
    if (word == QLatin1String("download"))
        return CliCommand::Download;
    if (word == QLatin1String("display"))
        return CliCommand::Display;
    if (word == QLatin1String("key"))
        return CliCommand::Key;
    if (word == QLatin1String("read"))
        return CliCommand::Read;
    if (word == QLatin1String("ports"))
        return CliCommand::Ports;
    if (word == QLatin1String("scan"))
        return CliCommand::Scan;
    if (word == QLatin1String("decode"))
        return CliCommand::Decode;
    return std::nullopt;
}

bool commandTakes(CliCommand command, const QString& option) {
    if (command == CliCommand::Ports)
        return false;                  // it opens nothing
    if (command == CliCommand::Decode) // the meter's answers come from the image
        return option == QLatin1String("--out") || option == QLatin1String("--timestamps") ||
               option == QLatin1String("--bom") || option == QLatin1String("--dialect");
    // The scan's tries are not transactions of the link: there is nothing to trace.
    if (command == CliCommand::Scan && option == QLatin1String("--trace"))
        return false;
    for (const OptionSpec& spec : kLinkOptions)
        if (option == QLatin1String(spec.name))
            return true;
    switch (command) {
    case CliCommand::Download:
        return option == QLatin1String("--out") || option == QLatin1String("--append") ||
               option == QLatin1String("--on-restart") || option == QLatin1String("--timestamps") ||
               option == QLatin1String("--bom") || option == QLatin1String("--on-mismatch") ||
               option == QLatin1String("--dialect") || option == QLatin1String("--image");
    case CliCommand::Display:
        return option == QLatin1String("--watch");
    case CliCommand::Read:
        return option == QLatin1String("--repeat");
    case CliCommand::Scan:
        return option == QLatin1String("--first");
    default:
        return false;
    }
}

bool takesValue(const QString& option) {
    return option != QLatin1String("--watch") && option != QLatin1String("--append") &&
           option != QLatin1String("--bom") && option != QLatin1String("--first");
}

void applyFlag(CliOptions& options, const QString& option) {
    if (option == QLatin1String("--watch"))
        options.watch = true;
    else if (option == QLatin1String("--append"))
        options.append = true;
    else if (option == QLatin1String("--bom"))
        options.byteOrderMark = true;
    else if (option == QLatin1String("--first"))
        options.first = true;
}

// A whole decimal number (or hexadecimal with 0x when `hex` allows) within bounds.
std::optional<qint64> wholeNumber(const QString& text, qint64 min, qint64 max, bool hex = false) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    qint64 value = 0;
    if (hex && (trimmed.startsWith(QLatin1String("0x")) || trimmed.startsWith(QLatin1String("0X"))))
        value = trimmed.mid(2).toLongLong(&ok, 16);
    else if (!trimmed.isEmpty() && trimmed.at(0).isDigit())
        value = trimmed.toLongLong(&ok, 10);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

QString rangeError(const QString& what, const QString& value, qint64 min, qint64 max) {
    return QStringLiteral("%1 must be a whole number from %2 to %3, not \"%4\"")
        .arg(what)
        .arg(min)
        .arg(max)
        .arg(value);
}

QString applyOption(CliOptions& options, const QString& option, const QString& value) {
    if (option == QLatin1String("--device")) {
        if (value.isEmpty())
            return QStringLiteral("--device needs a device path");
        QString why;
        if (isTcpDeviceName(value) && !parseTcpDevice(value, &why))
            return why;
        options.link.device = value;
    } else if (option == QLatin1String("--port")) {
        const auto port = wholeNumber(value, 1, 4);
        if (!port)
            return rangeError(QStringLiteral("--port"), value, 1, 4);
        options.link.port = int(*port);
    } else if (option == QLatin1String("--baud") && options.command == CliCommand::Scan) {
        options.scanBauds.clear();
        for (const QString& word : value.split(QLatin1Char(','))) {
            const auto baud = wholeNumber(word, 1, std::numeric_limits<qint32>::max());
            if (!baud || !supportedBaudRates().contains(qint32(*baud)))
                return QStringLiteral("--baud takes a list of the rates the meter may use, e.g. "
                                      "1200,9600,38400, not \"%1\"")
                    .arg(value);
            options.scanBauds.append(qint32(*baud));
        }
    } else if (option == QLatin1String("--baud")) {
        const auto baud = wholeNumber(value, 1, std::numeric_limits<qint32>::max());
        if (!baud || !supportedBaudRates().contains(qint32(*baud))) {
            QStringList rates;
            for (qint32 rate : supportedBaudRates())
                rates << QString::number(rate);
            return QStringLiteral("--baud must be one of %1, not \"%2\"")
                .arg(rates.join(QLatin1String(", ")), value);
        }
        options.link.baud = qint32(*baud);
    } else if (option == QLatin1String("--slave") &&
               (options.command == CliCommand::Download || options.command == CliCommand::Scan)) {
        // Lists: several meters on one line, or the IDs a scan tries.
        // 0 is the broadcast address: no meter answers it.
        const auto slaves = parseIdList(value, 1, 255);
        if (!slaves)
            return QStringLiteral("--slave takes slave IDs from 1 to 255, one or a list such as "
                                  "1,2,7 or 3-5, not \"%1\"")
                .arg(value);
        options.slaves = *slaves;
        options.link.slave = slaves->first();
    } else if (option == QLatin1String("--slave")) {
        const auto slave = wholeNumber(value, 1, 255);
        if (!slave)
            return rangeError(QStringLiteral("--slave"), value, 1, 255);
        options.link.slave = int(*slave);
    } else if (option == QLatin1String("--trace")) {
        if (value.isEmpty())
            return QStringLiteral("--trace needs a file name");
        options.link.tracePath = value;
    } else if (option == QLatin1String("--out")) {
        if (value.isEmpty())
            return QStringLiteral("--out needs a file name");
        options.outPath = value;
    } else if (option == QLatin1String("--image")) {
        if (value.isEmpty())
            return QStringLiteral("--image needs a file name");
        options.imagePath = value;
    } else if (option == QLatin1String("--on-restart")) {
        if (value != QLatin1String("new") && value != QLatin1String("fail"))
            return QStringLiteral("--on-restart must be new or fail, not \"%1\"").arg(value);
        options.failOnRestart = value == QLatin1String("fail");
    } else if (option == QLatin1String("--on-mismatch")) {
        if (value != QLatin1String("new") && value != QLatin1String("fail"))
            return QStringLiteral("--on-mismatch must be new or fail, not \"%1\"").arg(value);
        options.failOnMismatch = value == QLatin1String("fail");
    } else if (option == QLatin1String("--timestamps")) {
        if (value != QLatin1String("locale") && value != QLatin1String("iso"))
            return QStringLiteral("--timestamps must be locale or iso, not \"%1\"").arg(value);
        options.isoTimestamps = value == QLatin1String("iso");
    } else if (option == QLatin1String("--dialect")) {
        if (value != QLatin1String("comma") && value != QLatin1String("semicolon"))
            return QStringLiteral("--dialect must be comma or semicolon, not \"%1\"").arg(value);
        options.semicolons = value == QLatin1String("semicolon");
    } else if (option == QLatin1String("--repeat")) {
        const auto repeat = wholeNumber(value, 1, 100000000);
        if (!repeat)
            return rangeError(QStringLiteral("--repeat"), value, 1, 100000000);
        options.repeat = int(*repeat);
    }
    return QString();
}

// Combinations that would lose files: several meters into one name, or an append that
// starts a new file every run.
QString collectRule(const CliOptions& options) {
    const QString out = options.outPath.value_or(QString());
    if (options.slaves.size() > 1 && !out.contains(QLatin1String("{slave}")))
        return QStringLiteral("with several slaves, --out must contain {slave} (e.g. "
                              "--out site-{slave}.csv); otherwise each meter would overwrite the "
                              "last");
    if (options.append &&
        (out.contains(QLatin1String("{date}")) || out.contains(QLatin1String("{time}"))))
        return QStringLiteral("--append cannot go with {date} or {time} in --out: every run "
                              "would start a new file");
    if (options.imagePath) {
        if (options.slaves.size() > 1 && !options.imagePath->contains(QLatin1String("{slave}")))
            return QStringLiteral("with several slaves, --image must contain {slave}; otherwise "
                                  "each meter's image would overwrite the last");
        if (options.append && (options.imagePath->contains(QLatin1String("{date}")) ||
                               options.imagePath->contains(QLatin1String("{time}"))))
            return QStringLiteral("--append cannot go with {date} or {time} in --image: every "
                                  "run would start a new image");
    }
    return QString();
}

QString applyPositionals(CliOptions& options, const QStringList& positionals) {
    const auto tooMany = [&](int expected) {
        return QStringLiteral("unexpected argument \"%1\"").arg(positionals.at(expected));
    };
    switch (options.command) {
    case CliCommand::Download:
        if (!positionals.isEmpty())
            return tooMany(0);
        return collectRule(options);
    case CliCommand::Display:
    case CliCommand::Ports:
    case CliCommand::Scan:
        if (!positionals.isEmpty())
            return tooMany(0);
        return QString();
    case CliCommand::Decode:
        if (positionals.isEmpty())
            return QStringLiteral("decode needs the IMAGE to decode");
        if (positionals.size() > 1)
            return tooMany(1);
        if (!options.outPath)
            return QStringLiteral("decode needs --out FILE, the CSV file to write");
        options.imageIn = positionals.at(0);
        return QString();
    case CliCommand::Key: {
        if (positionals.isEmpty())
            return QStringLiteral("key needs the keys to press, e.g. \"12E\"");
        if (positionals.size() > 1)
            return tooMany(1);
        const QString& keys = positionals.at(0);
        if (keys.isEmpty())
            return QStringLiteral("key needs the keys to press, e.g. \"12E\"");
        // The meter's letters are capitals; a technician types them either way.
        const QString keypad = keypadCharacters();
        for (const QChar c : keys) {
            if (!keypad.contains(c.toUpper()))
                return QStringLiteral("\"%1\" is not a key of the meter; the keys are %2")
                    .arg(QString(c), keypad);
        }
        options.keys = keys.toUpper();
        return QString();
    }
    case CliCommand::Read: {
        if (positionals.size() < 2)
            return QStringLiteral("read needs an ADDRESS and a COUNT");
        if (positionals.size() > 2)
            return tooMany(2);
        const auto address = wholeNumber(positionals.at(0), 0, 65535, true);
        if (!address)
            return rangeError(QStringLiteral("ADDRESS"), positionals.at(0), 0, 65535);
        // The answer carries its byte count in one byte.
        const auto count = wholeNumber(positionals.at(1), 1, 125);
        if (!count)
            return rangeError(QStringLiteral("COUNT"), positionals.at(1), 1, 125);
        if (*address + *count > 65536)
            return QStringLiteral("registers %1 to %2 run past the last address 65535")
                .arg(*address)
                .arg(*address + *count - 1);
        options.address = int(*address);
        options.count = int(*count);
        return QString();
    }
    case CliCommand::None:
        break;
    }
    return QString();
}

} // namespace

const QList<qint32>& supportedBaudRates() {
    // The window's seven rates, and the other common ones a meter or adapter may be set to.
    static const QList<qint32> rates = {300,   600,   1200,  2400,  4800,  9600,
                                        14400, 19200, 38400, 57600, 115200};
    return rates;
}

QString keypadCharacters() {
    QString keys;
    for (int button = 0; button < kKeypadButtons; ++button)
        keys += QLatin1Char(keypadKey(button).value_or(' '));
    return keys;
}

CliParse parseCliArguments(const QStringList& arguments) {
    CliParse result;
    CliOptions& options = result.options;
    QStringList positionals;
    const auto fail = [&](const QString& why) {
        result.error = why;
        return result;
    };
    // Whatever else the line holds, as other programs do: scripts ask it to log what runs.
    if (arguments.contains(QLatin1String("--version"))) {
        options.version = true;
        return result;
    }

    for (int i = 0; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h") ||
            (argument == QLatin1String("help") && options.command == CliCommand::None)) {
            options.help = true;
            continue;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            if (options.command == CliCommand::None) {
                const auto command = commandNamed(argument);
                if (!command)
                    return fail(QStringLiteral("unknown command \"%1\"").arg(argument));
                options.command = *command;
            } else {
                positionals << argument;
            }
            continue;
        }
        // --name=value and --name value are the same.
        QString value;
        bool inlineValue = false;
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 2) {
            value = argument.mid(equals + 1);
            argument.truncate(equals);
            inlineValue = true;
        }
        if (options.command == CliCommand::None)
            return fail(QStringLiteral("%1 given before the command").arg(argument));
        if (!commandTakes(options.command, argument))
            return fail(QStringLiteral("unknown option %1").arg(argument));
        if (!takesValue(argument)) {
            if (inlineValue)
                return fail(QStringLiteral("%1 takes no value").arg(argument));
            applyFlag(options, argument);
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value").arg(argument));
            value = arguments.at(++i);
        }
        const QString why = applyOption(options, argument, value);
        if (!why.isEmpty())
            return fail(why);
    }

    if (options.help)
        return result;
    if (options.command == CliCommand::None)
        return fail(QStringLiteral("no command given"));
    const QString why = applyPositionals(options, positionals);
    if (!why.isEmpty())
        return fail(why);
    return result;
}

QString usageLine(CliCommand command) {
    const QString link =
        QStringLiteral("[--device PATH] [--port N] [--baud B] [--slave ID] [--trace FILE]");
    switch (command) {
    case CliCommand::Download:
        return QStringLiteral("usage: meterlink-cli download %1 [--out FILE] [--append]\n"
                              "       [--on-restart new|fail] [--on-mismatch new|fail] "
                              "[--timestamps locale|iso]\n"
                              "       [--dialect comma|semicolon] [--bom] [--image FILE]")
            .arg(link);
    case CliCommand::Decode:
        return QStringLiteral("usage: meterlink-cli decode IMAGE --out FILE [--timestamps "
                              "locale|iso] [--dialect comma|semicolon] [--bom]");
    case CliCommand::Display:
        return QStringLiteral("usage: meterlink-cli display %1 [--watch]").arg(link);
    case CliCommand::Key:
        return QStringLiteral("usage: meterlink-cli key KEYS %1").arg(link);
    case CliCommand::Read:
        return QStringLiteral("usage: meterlink-cli read ADDRESS COUNT %1 [--repeat N]").arg(link);
    case CliCommand::Ports:
        return QStringLiteral("usage: meterlink-cli ports");
    case CliCommand::Scan:
        return QStringLiteral("usage: meterlink-cli scan [--device PATH] [--port N] [--slave IDS] "
                              "[--baud RATES] [--first]");
    case CliCommand::None:
        break;
    }
    return QStringLiteral(
        "usage: meterlink-cli download|decode|display|key|read|ports|scan [options]  (--help "
        "for more)");
}

namespace {

QString commandHelp(CliCommand command) {
    const QString linkOptions = QStringLiteral(
        "Link options (defaults from 6040dwn.ini in the current directory when it is there,\n"
        "else Comm1, 38400 baud, slave 1; the file is only read, never written):\n"
        "  --port N       use port CommN (1 to 4): the device the link ./comN points to,\n"
        "                 else port N when the system has it, else the next port found\n"
        "                 (\"meterlink-cli ports\" shows which)\n"
        "  --device PATH  use this serial device, whatever the port says; tcp://HOST:PORT\n"
        "                 is a meter's line behind a network gateway (raw TCP mode), --baud\n"
        "                 then the gateway's serial speed\n"
        "  --baud B       line speed: 1200, 2400, 4800, 9600, 14400, 19200, 38400,\n"
        "                 or 300, 600, 57600, 115200\n"
        "  --slave ID     the meter's Modbus slave ID, 1 to 255\n"
        "  --trace FILE   append every frame sent and received, with its time of day,\n"
        "                 and every resend, time-out, CRC failure and exception answer,\n"
        "                 one line each, written as it happens\n"
        "  --help         this help\n");
    const QString exits = QStringLiteral(
        "Exit status: 0 done; 2 the meter did not answer (or the port did not open), the\n"
        "reason on stderr; 4 the port is in use by another meterlink program (named on\n"
        "stderr); 64 bad usage; 130 / 143 stopped by SIGINT / SIGTERM.\n");

    switch (command) {
    case CliCommand::Download:
        return usageLine(command) +
               QStringLiteral("\n\n"
                              "Downloads the meter's log and writes it to a CSV "
                              "file, as the window's \"Download Data\"\n"
                              "does. Prints each status text on stdout as it "
                              "changes; shows a progress bar on\n"
                              "stderr when stderr is a terminal.\n\n"
                              "  --out FILE     the CSV file (default: the "
                              "settings file's, else Logdata.csv);\n"
                              "                 {slave}, {date} (YYYY-MM-DD) and {time} "
                              "(HHMMSS, the PC's\n"
                              "                 local time at the start) are filled in\n"
                              "  --slave IDS    one meter, or several on the line (1,2,7 "
                              "or 3-5), each in\n"
                              "                 turn; --out must then contain {slave}\n"
                              "  --append       add only the records logged since the "
                              "last run to the file\n"
                              "                 (a state file FILE.state beside it "
                              "remembers that run)\n"
                              "  --on-restart new|fail  when the meter's log was "
                              "cleared: write it whole to\n"
                              "                 a new file beside the old one (new, "
                              "the default), or exit 5\n"
                              "  --on-mismatch new|fail  when the file or its state is "
                              "not as the last\n"
                              "                 run left it: write the whole log to a new "
                              "file beside it,\n"
                              "                 exit 6 (new, the default), or exit 3 "
                              "writing nothing\n"
                              "  --timestamps locale|iso  the window's date form "
                              "(default), or 2026-05-17\n"
                              "                 09:30:00 with each record's real year, "
                              "which spreadsheets\n"
                              "                 read as a date in every locale\n"
                              "  --dialect comma|semicolon  \",\" between fields and \".\" "
                              "in readings (the\n"
                              "                 default, the window's), or \";\" between "
                              "fields and \",\" in\n"
                              "                 readings, which spreadsheets in "
                              "decimal-comma locales open\n"
                              "                 as numbers (an append keeps its file's own)\n"
                              "  --bom          start the file with a UTF-8 byte-order "
                              "mark, for spreadsheets\n"
                              "                 that read UTF-8 only behind one (a degree "
                              "sign in a name)\n"
                              "  --image FILE   also keep the meter's answers in a log image "
                              "(replaced whole,\n"
                              "                 {slave}, {date} and {time} as for --out); "
                              "\"meterlink-cli decode\"\n"
                              "                 makes the CSV again from it, in any form\n\n") +
               linkOptions +
               QStringLiteral(
                   "\nExit status (with several meters, the first of these that any meter "
                   "had, in the\norder listed): 3 the file was not written (an earlier file "
                   "of that name is left\nas it was, or an append was refused); 2 the "
                   "download failed, the reason on stderr;\n5 the log was restarted "
                   "(--on-restart=fail); 4 the port is in use by another\nmeterlink program; "
                   "1 the log is empty (no file written); 6 the file was not as left,\nthe "
                   "whole log went to a new file (named on stdout); 0 exported (or no new\n"
                   "records); 64 "
                   "bad usage; 130 / 143 stopped by SIGINT / SIGTERM (no file written,\nthe "
                   "trace complete).\n");
    case CliCommand::Display:
        return usageLine(command) +
               QStringLiteral("\n\n"
                              "Prints the meter's four display lines. Characters the window "
                              "cannot show print as\n"
                              "U+2592 (a shaded box), so every line keeps its 20 places.\n\n"
                              "  --watch        refresh every 750 ms until SIGINT or SIGTERM "
                              "(then exit 0)\n") +
               linkOptions + QLatin1Char('\n') + exits;
    case CliCommand::Key:
        return usageLine(command) +
               QStringLiteral("\n\n"
                              "Presses the meter's keys in order, one register write each; "
                              "stops at the first\n"
                              "key the meter does not take. Keys: 1-9 and 0, \".\" (Help), N "
                              "(Up/Next), L (Down),\n"
                              "M (Menu), E (Enter), F (2nd); letters in either case.\n\n") +
               linkOptions + QLatin1Char('\n') + exits;
    case CliCommand::Read:
        return usageLine(command) +
               QStringLiteral("\n\n"
                              "Reads COUNT (1 to 125) holding registers from ADDRESS (0 to "
                              "65535, or 0x hex)\n"
                              "with function 3 and prints each in hex and as text.\n\n"
                              "  --repeat N     read N times, then report transactions per "
                              "second and CPU\n"
                              "                 seconds per 1000 transactions\n") +
               linkOptions + QLatin1Char('\n') + exits;
    case CliCommand::Decode:
        return usageLine(command) +
               QStringLiteral("\n\n"
                              "Writes the CSV file a download with these options would have "
                              "written, byte for\n"
                              "byte, from a log image that download --image kept; dates in "
                              "this PC's locale.\n\n"
                              "  --out FILE     the CSV file (replaced whole)\n"
                              "  --timestamps locale|iso  as for download\n"
                              "  --bom          as for download\n\n"
                              "Exit status: 0 written; 3 the file was not written; 65 the "
                              "image is cut short,\n"
                              "damaged or of a newer format (the reason on stderr); 64 bad "
                              "usage.\n");
    case CliCommand::Ports:
        return usageLine(command) +
               QStringLiteral("\n\n"
                              "Lists every serial port the system has, with its description, "
                              "and the device each\n"
                              "of Comm1 to Comm4 reaches now (the window's port choices and "
                              "--port). Opens\n"
                              "nothing. Adapters can move between Comm choices when another "
                              "is plugged in: a\n"
                              "scheduled job should name its device with --device "
                              "/dev/serial/by-id/...\n\n"
                              "Exit status: 0.\n");
    case CliCommand::Scan:
        return usageLine(command) +
               QStringLiteral(
                   "\n\n"
                   "Finds the meter: reads the logger state at each speed and slave ID and "
                   "lists\n"
                   "what answered (speed, slave ID, records used, or \"answers, exception "
                   "N\"), then\n"
                   "which speeds and IDs were tried and how long the scan took. The likeliest "
                   "places\n"
                   "come first: every speed at slave IDs 1, 247 and the settings' own, each "
                   "try\n"
                   "waiting 0.5 s for a slow meter or gateway plus the wire time; then the "
                   "other IDs\n"
                   "with 0.1 s, and a second, long look wherever something was heard. All "
                   "255 IDs\n"
                   "at the seven speeds take about 5 minutes. Ctrl-C stops it with what it "
                   "found.\n\n"
                   "  --slave IDS    the IDs to try (default 1-255)\n"
                   "  --baud RATES   the speeds to try (default "
                   "1200,2400,4800,9600,14400,19200,38400)\n"
                   "  --first        stop at the first meter found\n") +
               QStringLiteral(
                   "  --port N       use port CommN (1 to 4), as for the other commands\n"
                   "  --device PATH  use this serial device, whatever the port "
                   "says\n") +
               QStringLiteral("\nExit status: 0 a meter answered; 2 none did (or the port did "
                              "not open);\n4 the port is in use by another meterlink program; 64 "
                              "bad usage; 130 / 143 stopped.\n");
    case CliCommand::None:
        break;
    }
    return QStringLiteral(
               "usage: meterlink-cli COMMAND [options]\n\n"
               "Talks to the flow meter over its serial line without the window.\n\n"
               "Commands:\n"
               "  download              download the log into a CSV file\n"
               "  decode IMAGE --out F  make the CSV file again from a log image\n"
               "  display [--watch]     print the meter's four display lines\n"
               "  key KEYS              press the meter's keys, e.g. key M2E\n"
               "  read ADDRESS COUNT    read holding registers\n"
               "  ports                 list the serial ports and what Comm1 to Comm4 reach\n"
               "  scan                  find the meter's speed and slave ID\n\n"
               "\"meterlink-cli COMMAND --help\" explains a command and its exit status;\n"
               "\"meterlink-cli --version\" prints the version.\n\n") +
           linkOptions + QLatin1Char('\n') + exits +
           QStringLiteral(
               "download also returns 1 (empty log), 3 (file not written), 4 (port in "
               "use by another\n"
               "program), 5 (log restarted) and 6 (appended file not as left, a new one written);\n"
               "see download --help.\n");
}

} // namespace

QString versionText() {
    return QStringLiteral("meterlink-cli " METERLINK_VERSION "\n");
}

QString helpText(CliCommand command) {
    return commandHelp(command) + QStringLiteral("\nThe manual: man meterlink-cli\n");
}

} // namespace meterlink
