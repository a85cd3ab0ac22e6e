// Every rate the window and the command line offer reaches the device: read back from the
// far end of a pseudo-terminal with the kernel's own call.
#include "cli/cli_options.h"
#include "platform/posix_serial_port.h"
#include "settings/settings_controls.h"
#include "tests/pty_pair.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <asm/termbits.h>
#include <sys/ioctl.h>

using namespace meterlink;

namespace {

QList<qint32> offeredRates() {
    QList<qint32> rates = supportedBaudRates();
    for (const char* caption : kBaudCaptions) {
        const qint32 rate = QByteArray(caption).toInt();
        if (!rates.contains(rate))
            rates.append(rate);
    }
    return rates;
}

class LineSpeed : public ::testing::TestWithParam<qint32> {
protected:
    int argc_ = 1;
    char name_[16] = "line_speed";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
};

TEST_P(LineSpeed, OfferedRateOpensAndIsSetOnTheDevice) {
    const qint32 baud = GetParam();
    OwnPty pty;
    ASSERT_TRUE(pty.isValid());
    PosixSerialPort port;
    port.configure(pty.terminal(), baud);
    ASSERT_TRUE(port.open()) << port.errorText().toStdString();

    termios2 seen{};
    ASSERT_EQ(::ioctl(pty.master(), TCGETS2, &seen), 0);
    EXPECT_EQ(seen.c_ospeed, speed_t(baud));
    // No separate input rate: it follows the output one.
    EXPECT_EQ(seen.c_cflag & (CBAUD << IBSHIFT), 0u);
    EXPECT_EQ(seen.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
}

INSTANTIATE_TEST_SUITE_P(WindowAndCommandLine, LineSpeed, ::testing::ValuesIn(offeredRates()),
                         [](const auto& info) { return std::to_string(info.param); });

} // namespace
