#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "platform/posix_serial_port.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "tests/pty_pair.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace meterlink;

namespace {

// The port the programs of this build use: these cases hold for both.
#ifdef METERLINK_QT_SERIAL_PORT
using PortUnderTest = QtSerialPort;
#else
using PortUnderTest = PosixSerialPort;
#endif

const QByteArray kRequest = QByteArray::fromHex("010300180002440c");

// The other end of the line: answers each complete 8-byte request with a fixed frame.
class TestSlave {
public:
    bool open(const QString& device) {
        port_.setPortName(device);
        if (!port_.open(QIODevice::ReadWrite)) {
            return false;
        }
        QObject::connect(&port_, &QSerialPort::readyRead, [this] {
            pending_ += port_.readAll();
            while (pending_.size() >= 8) {
                requests_.append(pending_.left(8));
                pending_.remove(0, 8);
                port_.write(answer_);
                port_.flush();
            }
        });
        return true;
    }
    void setAnswer(const QByteArray& answer) { answer_ = answer; }
    const QList<QByteArray>& requests() const { return requests_; }

private:
    QSerialPort port_;
    QByteArray pending_;
    QByteArray answer_ = withCrc(QByteArray::fromHex("010304414243ff"));
    QList<QByteArray> requests_;
};

class PosixPort : public ::testing::Test {
protected:
    void SetUp() override {
        pump_.setWaitCondition([this] { return port_.polling(); });
    }

    int argc_ = 1;
    char name_[16] = "posix_port";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
    SystemClock clock_;
    QtEventPump pump_;
    PortUnderTest port_;
    QString device_; // what the link opens, at 19200 baud
    ModbusLink link_{port_, clock_, pump_, [this] { return LinkEndpoint{device_, 19200, {}}; }};
};

TEST_F(PosixPort, ExchangesFramesBothWaysWithASlaveOnAPty) {
    if (!PtyPair::available()) {
        GTEST_SKIP() << "socat is not installed";
    }
    PtyPair pty;
    ASSERT_TRUE(pty.start());
    TestSlave slave;
    ASSERT_TRUE(slave.open(pty.second()));

    device_ = pty.first();
    for (int round = 0; round < 3; ++round) {
        const LinkAnswer answer = LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 2);
        ASSERT_TRUE(answer) << describe(answer.failure).toStdString();
        EXPECT_EQ(answer.data, QByteArray::fromHex("414243ff"));
    }
    EXPECT_EQ(slave.requests(), QList<QByteArray>(3, kRequest));
    EXPECT_EQ(link_.lastFailure().sends, 1);
}

TEST_F(PosixPort, AnswerLongerThanOneReadArrivesWhole) {
    if (!PtyPair::available()) {
        GTEST_SKIP() << "socat is not installed";
    }
    PtyPair pty;
    ASSERT_TRUE(pty.start());
    TestSlave slave;
    ASSERT_TRUE(slave.open(pty.second()));
    QByteArray data;
    for (int i = 0; i < 250; ++i) {
        data.append(char(i));
    }
    slave.setAnswer(withCrc(QByteArray::fromHex("0103fa") + data));

    device_ = pty.first();
    const LinkAnswer answer = LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 125);
    ASSERT_TRUE(answer) << describe(answer.failure).toStdString();
    EXPECT_EQ(answer.data, data);
}

TEST_F(PosixPort, RelativePathIsOpenedFromTheCurrentDirectory) {
    if (!PtyPair::available()) {
        GTEST_SKIP() << "socat is not installed";
    }
    PtyPair pty;
    ASSERT_TRUE(pty.start());
    TestSlave slave;
    ASSERT_TRUE(slave.open(pty.second()));

    const QString relative = QDir::current().relativeFilePath(pty.first());
    ASSERT_TRUE(QDir::isRelativePath(relative));
    device_ = relative;
    EXPECT_TRUE(LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 2))
        << describe(link_.lastFailure()).toStdString();
}

TEST_F(PosixPort, UnopenableDevicesGiveTheSystemsReason) {
    port_.configure(QStringLiteral("/nonexistent/ttyMissing"), 9600);
    EXPECT_FALSE(port_.open());
    EXPECT_EQ(port_.errorText(),
              QStringLiteral("/nonexistent/ttyMissing: No such file or directory"));

    // A file that is no terminal is refused too.
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain"));
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    port_.configure(plain, 9600);
    EXPECT_FALSE(port_.open());
    EXPECT_FALSE(port_.isOpen());
    EXPECT_TRUE(port_.errorText().startsWith(plain + QStringLiteral(": ")))
        << port_.errorText().toStdString();

    device_ = QStringLiteral("/nonexistent/ttyMissing");
    EXPECT_FALSE(LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 10));
    EXPECT_EQ(link_.lastFailure().fault, LinkFault::PortNotOpened);
    EXPECT_EQ(link_.lastFailure().osReason,
              QStringLiteral("/nonexistent/ttyMissing: No such file or directory"));
}

QString refuseEveryRate(int, qint32) {
    return QStringLiteral("Invalid argument");
}

TEST_F(PosixPort, RefusedLineSpeedFailsTheOpenWithTheReasonBeforeAnythingIsSent) {
    OwnPty pty;
    ASSERT_TRUE(pty.isValid());
    PosixSerialPort refusing(&refuseEveryRate);
    ModbusLink link(refusing, clock_, pump_, [&pty] {
        return LinkEndpoint{pty.terminal(), 19200, {}};
    });

    EXPECT_FALSE(LinkSession(link).ReadHoldingRegisters(1, 0, 24, 2));
    EXPECT_EQ(link.lastFailure().fault, LinkFault::PortNotOpened);
    EXPECT_EQ(link.lastFailure().osReason, pty.terminal() + QStringLiteral(": Invalid argument"));
    EXPECT_FALSE(refusing.isOpen());
    // Nothing reached the line (the far end reads no byte, only that no one holds it).
    char byte = 0;
    EXPECT_EQ(::read(pty.master(), &byte, 1), -1);
}

TEST_F(PosixPort, HeldInputStaysWithTheSystemUntilTheHoldEndsThenComesInOneLook) {
#ifdef METERLINK_QT_SERIAL_PORT
    GTEST_SKIP() << "the QSerialPort adapter reads input as it comes";
#else
    OwnPty pty;
    ASSERT_TRUE(pty.isValid());
    pump_.setSleepAllowance([this] { return port_.holdMilliseconds(); });
    port_.configure(pty.terminal(), 19200);
    ASSERT_TRUE(port_.open());
    ASSERT_EQ(::write(pty.master(), "0123456789", 10), 10);

    QElapsedTimer held;
    held.start();
    ASSERT_TRUE(port_.awaitInput(0.03));
    ASSERT_TRUE(port_.awaitInput(10.0)); // a hold asked during one ends no later
    int looks = 0;
    qint64 waiting = 0;
    while (waiting < 10 && held.elapsed() < 5000) {
        pump_.yield();
        waiting = port_.bytesWaiting();
        ++looks;
    }
    EXPECT_EQ(waiting, 10);
    EXPECT_GE(held.elapsed(), 29); // the bytes were there all along
    EXPECT_LT(held.elapsed(), 1000);
    EXPECT_LE(looks, 3); // the pump slept through the hold
    EXPECT_EQ(port_.take(10), QByteArray("0123456789"));
#endif
}

// Root may open a terminal held for exclusive use; an ordinary user may not. Acts as
// "nobody" until it goes out of scope.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() {
        if (::geteuid() != 0) {
            ok_ = true; // already ordinary
            return;
        }
        ok_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
        dropped_ = ok_;
    }
    ~AsOrdinaryUser() {
        if (dropped_) {
            EXPECT_EQ(::seteuid(0), 0);
            EXPECT_EQ(::setegid(0), 0);
        }
    }
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool dropped_ = false;
};

TEST_F(PosixPort, ExclusiveUseEndsWithThePortOnEveryPath) {
    OwnPty pty;
    ASSERT_TRUE(pty.isValid());
    const QByteArray terminal = QFile::encodeName(pty.terminal());
    ASSERT_EQ(::chmod(terminal.constData(), 0666), 0);
    AsOrdinaryUser user;
    if (!user.ok())
        GTEST_SKIP() << "cannot act as an ordinary user here (" << std::strerror(errno)
                     << "); root passes the exclusive flag, so this proves nothing as root";
    // Another program's open of the terminal, while the far end stays held.
    const auto othersMayOpen = [&] {
        const int fd = ::open(terminal.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return fd >= 0 ? std::string("yes") : std::strerror(error);
    };

    PosixSerialPort port;
    port.configure(pty.terminal(), 9600);
    ASSERT_TRUE(port.open()) << port.errorText().toStdString();
    EXPECT_NE(othersMayOpen(), "yes"); // held while open
    port.close();
    EXPECT_EQ(othersMayOpen(), "yes") << "after close()";

    PosixSerialPort refusing(&refuseEveryRate);
    refusing.configure(pty.terminal(), 9600);
    ASSERT_FALSE(refusing.open());
    EXPECT_EQ(othersMayOpen(), "yes") << "after a failed open";

    {
        PosixSerialPort dropped;
        dropped.configure(pty.terminal(), 9600);
        ASSERT_TRUE(dropped.open()) << dropped.errorText().toStdString();
    }
    EXPECT_EQ(othersMayOpen(), "yes") << "after the port was destroyed";
}

TEST_F(PosixPort, VanishedDeviceFailsTheNextTransactionAtOnceAndIsReopenedWhenBack) {
    if (!PtyPair::available()) {
        GTEST_SKIP() << "socat is not installed";
    }
    // The link names a symbolic link of ours, as a udev rule would name an adapter.
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyMeter"));
    device_ = device;

    auto first = std::make_unique<PtyPair>();
    ASSERT_TRUE(first->start());
    auto firstSlave = std::make_unique<TestSlave>();
    ASSERT_TRUE(firstSlave->open(first->second()));
    ASSERT_TRUE(QFile::link(first->first(), device));
    ASSERT_TRUE(LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 2))
        << describe(link_.lastFailure()).toStdString();

    // Pulled out: the far end of the line closes.
    firstSlave.reset();
    first.reset();
    ASSERT_TRUE(QFile::remove(device));
    const double before = clock_.secondsSinceMidnight();
    EXPECT_FALSE(LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 2));
    // Before the first resend, let alone the three seconds of a silent slave.
    EXPECT_LT(clock_.secondsSinceMidnight() - before, 1.0);
    EXPECT_TRUE(link_.lastFailure().osReason.startsWith(QStringLiteral("device disappeared: ")))
        << describe(link_.lastFailure()).toStdString();
    EXPECT_FALSE(port_.isOpen());

    // Still gone: the next transaction waits for it on the real clock and pump, then says so.
    EXPECT_FALSE(LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 2));
    EXPECT_EQ(link_.lastFailure().fault, LinkFault::DeviceGone);
    EXPECT_EQ(link_.lastFailure().osReason, device + QStringLiteral(": No such file or directory"));

    // Plugged in again.
    PtyPair second;
    ASSERT_TRUE(second.start());
    TestSlave secondSlave;
    ASSERT_TRUE(secondSlave.open(second.second()));
    ASSERT_TRUE(QFile::link(second.first(), device));
    EXPECT_TRUE(LinkSession(link_).ReadHoldingRegisters(1, 0, 24, 2))
        << describe(link_.lastFailure()).toStdString();
    EXPECT_EQ(secondSlave.requests(), QList<QByteArray>{kRequest});
}

} // namespace
