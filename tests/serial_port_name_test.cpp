#include "platform/serial_port_search.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace meterlink;

namespace {

struct CommRow {
    const char* name;
    PortNaming naming;
    QList<FoundPort> found;
    CommLinks links;
    // What Comm1…Comm4 reach; "?" before a device: not found, "" nothing left.
    QStringList expected;
};

FoundPort onBoard(const char* device) {
    return FoundPort{QString::fromLatin1(device), QStringLiteral("on-board"), QString(), false};
}

FoundPort adapter(const char* device, const char* stableName = "") {
    return FoundPort{QString::fromLatin1(device), QStringLiteral("USB UART"),
                     QString::fromLatin1(stableName), true};
}

void PrintTo(const CommRow& row, std::ostream* os) {
    *os << row.name;
}

class CommPorts : public ::testing::TestWithParam<CommRow> {};

TEST_P(CommPorts, ReachTheLinkThePortOfTheirNumberOrTheNextPortLeft) {
    const CommRow& row = GetParam();
    const CommTargets targets = resolveCommPorts(row.found, row.links, row.naming);
    QStringList reached;
    for (const CommTarget& target : targets)
        reached << (target.found || target.device.isEmpty() ? target.device
                                                            : QStringLiteral("?") + target.device);
    EXPECT_EQ(reached, row.expected);
}

const QString by = QStringLiteral("/dev/serial/by-id/");

INSTANTIATE_TEST_SUITE_P(
    LinuxAndWindows, CommPorts,
    ::testing::Values(CommRow{"AdapterAloneBecomesComm1",
                              PortNaming::Unix,
                              {adapter("/dev/ttyUSB0")},
                              {},
                              {"/dev/ttyUSB0", "?/dev/ttyS1", "?/dev/ttyS2", "?/dev/ttyS3"}},
                      CommRow{"RealUartsKeepTheirNumbersAdaptersFillByStableName",
                              PortNaming::Unix,
                              {adapter("/dev/ttyUSB0", "/dev/serial/by-id/usb-Prolific_2303-if00"),
                               adapter("/dev/ttyACM0", "/dev/serial/by-id/usb-Arduino_Uno-if00"),
                               onBoard("/dev/ttyS1"), onBoard("/dev/ttyAMA0")},
                              {},
                              {"/dev/ttyAMA0", "/dev/ttyS1", "/dev/ttyACM0", "/dev/ttyUSB0"}},
                      CommRow{
                          "LinkWinsAndItsDeviceIsNotOfferedTwice",
                          PortNaming::Unix,
                          {onBoard("/dev/ttyS0"), adapter("/dev/ttyUSB0"), adapter("/dev/ttyUSB1")},
                          {"", "/dev/ttyUSB1", "/dev/ttyS0", ""},
                          {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS0", "?/dev/ttyS3"}},
                      CommRow{"LinkToADeviceTheSystemDoesNotList",
                              PortNaming::Unix,
                              {},
                              {"/dev/pts/7", "/dev/ttyS1", "", ""},
                              {"/dev/pts/7", "/dev/ttyS1", "?/dev/ttyS2", "?/dev/ttyS3"}},
                      CommRow{"NumbersCompareAsNumbers",
                              PortNaming::Unix,
                              {onBoard("/dev/ttyS10"), onBoard("/dev/ttyS4"),
                               adapter("/dev/ttyUSB10"), adapter("/dev/ttyUSB9")},
                              {},
                              {"/dev/ttyS4", "/dev/ttyS10", "/dev/ttyUSB9", "/dev/ttyUSB10"}},
                      CommRow{"WindowsComPortsOneToFourKeepTheirMeaning",
                              PortNaming::Windows,
                              {adapter("COM7"), onBoard("COM1"), onBoard("COM2"), adapter("COM3"),
                               adapter("COM4")},
                              {},
                              {"COM1", "COM2", "COM3", "COM4"}},
                      CommRow{"WindowsAdaptersAboveCom4FillTheGaps",
                              PortNaming::Windows,
                              {adapter("COM12"), onBoard("com3"), adapter("COM5")},
                              {},
                              {"COM5", "COM12", "com3", "?COM4"}},
                      CommRow{"NothingFoundLeavesTheClassicNames",
                              PortNaming::Windows,
                              {},
                              {},
                              {"?COM1", "?COM2", "?COM3", "?COM4"}}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef Q_OS_WIN
TEST(CommLinkTargets, ALinkWhoseDeviceIsGoneIsMarkedNotThere) {
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), dir.filePath(QStringLiteral("com1"))));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("pts-gone")),
                            dir.filePath(QStringLiteral("com2"))));
    const CommTargets targets = currentCommTargets(dir.path());
    EXPECT_TRUE(targets[0].found);
    EXPECT_EQ(describeTarget(targets[1]),
              dir.filePath(QStringLiteral("pts-gone")) +
                  QStringLiteral(" — not there (named by a link in this folder)"));
}
#endif

} // namespace
