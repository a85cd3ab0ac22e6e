#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "tests/pty_pair.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSerialPort>

using namespace meterlink;

namespace {

class RealPort : public ::testing::Test {
protected:
    int argc_ = 1;
    char name_[16] = "serial_test";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
    SystemClock clock_;
    QtEventPump pump_;
    QtSerialPort port_;
    QString device_; // what the link opens, at 19200 baud
    ModbusLink link_{port_, clock_, pump_, [this] { return LinkEndpoint{device_, 19200, {}}; }};
};

TEST_F(RealPort, ReadsRegistersFromASlaveOnTheOtherEndOfAPty) {
    if (!PtyPair::available()) {
        GTEST_SKIP() << "socat is not installed";
    }
    PtyPair pty;
    ASSERT_TRUE(pty.start());

    // The slave: answers the first complete 8-byte request with a fixed frame.
    QSerialPort slave;
    slave.setPortName(pty.second());
    ASSERT_TRUE(slave.open(QIODevice::ReadWrite)) << slave.errorString().toStdString();
    QByteArray request;
    const QByteArray answer = withCrc(QByteArray::fromHex("010304414243ff"));
    QObject::connect(&slave, &QSerialPort::readyRead, [&] {
        request += slave.readAll();
        if (request.size() == 8) {
            slave.write(answer);
            slave.flush();
        }
    });

    device_ = pty.first();
    const LinkAnswer read = LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 2);
    EXPECT_TRUE(read) << describe(read.failure).toStdString();
    EXPECT_EQ(request, QByteArray::fromHex("010300180002440c"));
    EXPECT_EQ(read.data, QByteArray::fromHex("414243ff"));
}

TEST_F(RealPort, MissingDeviceIsNotOpenedAndTheSystemSaysWhy) {
    device_ = QStringLiteral("/nonexistent/ttyMissing");
    EXPECT_FALSE(LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 10));
    EXPECT_EQ(link_.lastFailure().fault, LinkFault::PortNotOpened);
    EXPECT_FALSE(link_.lastFailure().osReason.isEmpty());
    EXPECT_FALSE(port_.isOpen());
}

} // namespace
