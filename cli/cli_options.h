#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace meterlink {

enum class CliCommand { None, Download, Display, Key, Read, Ports, Scan, Decode };

// Where and how to reach the meter; what is not given comes from the settings file.
struct LinkOptions {
    std::optional<QString> device;
    std::optional<int> port;
    std::optional<qint32> baud;
    std::optional<int> slave;
    QString tracePath;
};

struct CliOptions {
    CliCommand command = CliCommand::None;
    bool help = false;
    bool version = false; // --version, anywhere on the line
    LinkOptions link;
    // download
    std::optional<QString> outPath;
    QList<int> slaves; // --slave 1,2,7: each in turn; empty: the one slave of the link
    bool append = false;
    bool failOnRestart = false;  // --on-restart=fail
    bool failOnMismatch = false; // --on-mismatch=fail
    bool isoTimestamps = false;
    bool byteOrderMark = false;
    bool semicolons = false; // --dialect semicolon: ";" between fields, "," in readings
    // --image: the answers the download used, kept whole ({slave}, {date}, {time} filled in)
    std::optional<QString> imagePath;
    // decode
    QString imageIn;
    // scan
    QList<qint32> scanBauds;
    bool first = false; // --first: stop at the first meter found
    // display
    bool watch = false;
    // key
    QString keys;
    // read
    int address = 0;
    int count = 0;
    int repeat = 1;
};

struct CliParse {
    CliOptions options;
    // Why the arguments cannot be used; empty when they can.
    QString error;
};

// The arguments after the program name.
CliParse parseCliArguments(const QStringList& arguments);

// The baud rates --baud accepts.
const QList<qint32>& supportedBaudRates();
// The characters of the meter's keypad, in keypad order.
QString keypadCharacters();

// One line saying how to call the command (or the program), for bad usage.
QString usageLine(CliCommand command);
// The full help of the command, or of the program for CliCommand::None.
QString helpText(CliCommand command);
// "meterlink-cli VERSION", for --version.
QString versionText();

} // namespace meterlink
