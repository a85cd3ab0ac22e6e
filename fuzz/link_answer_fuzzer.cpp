// Arbitrary bytes as the meter's answer to one transaction (function 3, 16 or 96).

#include "fuzz/fuzz_check.h"
#include "modbus/crc16.h"
#include "modbus/modbus_link.h"
#include "sim/fake_event_pump.h"
#include "sim/in_memory_port.h"

#include <cmath>

using namespace meterlink;

namespace {

enum Function { Read = 0, Write = 1, LogBlock = 2 };

struct Shape {
    Function function;
    bool sealed;    // the answer ends with its own correct CRC, so the checks after it run
    bool firstOnly; // resends go unanswered
    bool slowLine;  // 1200 baud: the waits stretch with the line time
    bool midnight;  // the wait runs across midnight
    double delay;   // before the answer's first byte
    int parameter;  // register count or log length
};

// The length in bytes of what precedes a response's data: address, function, count.
int headerBytes(Function function) {
    return function == LogBlock ? 7 : 3;
}

LinkAnswer runTransaction(ModbusLink& link, Function function, int parameter) {
    LinkSession session(link);
    switch (function) {
    case Read:
        return session.ReadHoldingRegisters(1, 0, 76, parameter);
    case Write:
        return session.WriteMultipleRegisters(1, 209, {0x45FF});
    case LogBlock:
        return session.ReadLogBlock(1, 8, 0x80, 0, parameter);
    }
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // Byte 0 shapes the exchange, byte 1 is the request's count, the rest is the answer.
    const uint8_t mode = data[0];
    Shape shape{};
    shape.function = Function(mode % 3);
    shape.sealed = mode & 0x04;
    shape.firstOnly = mode & 0x08;
    shape.slowLine = mode & 0x10;
    shape.midnight = mode & 0x20;
    shape.delay = (mode >> 6) * 0.7;
    shape.parameter = data[1];
    QByteArray answer(reinterpret_cast<const char*>(data) + 2, qsizetype(size) - 2);
    if (shape.sealed)
        answer = withCrc(answer);

    FakeClock clock(shape.midnight ? 86399.5 : 36000.0);
    FakeEventPump pump(clock, 0.005);
    int answered = 0;
    bool fuzzed = true;
    const QByteArray good = withCrc(QByteArray::fromHex("01030212 34"));
    InMemoryPort port(clock, [&](const QByteArray&, double) -> std::vector<MeterReply> {
        if (!fuzzed)
            return {{good, 0.0}};
        if (shape.firstOnly && answered > 0)
            return {};
        ++answered;
        return {{answer, shape.delay}};
    });
    const LinkEndpoint line{QStringLiteral("line"), shape.slowLine ? 1200 : 38400, QString()};
    ModbusLink link(port, clock, pump, [line] { return line; });

    const LinkAnswer result = runTransaction(link, shape.function, shape.parameter);
    fuzzCheck(!link.busy() && !link.inSession(), "the link is free after a transaction");

    // Every wait is bounded: a few seconds plus the time the bytes need on the line. Passing
    // midnight restarts the references once, and the wait counts again from there.
    const double lineTime = double(answer.size() + 2 * shape.parameter + 32) * port.byteTime();
    const double limits = shape.midnight ? 14.0 : 8.0;
    fuzzCheck(clock.elapsed() <= limits + shape.delay + 4 * lineTime,
              "a transaction ends within its time limits");

    // What went on the wire: the answer once per answered send.
    const QByteArray wire = answer.repeated(answered);
    if (result) {
        fuzzCheck(link.lastFailure().fault == LinkFault::None, "success leaves no failure");
        const QByteArray& response = result.data;
        const int header = headerBytes(shape.function);
        if (shape.function == Write) {
            fuzzCheck(crc16(wire.left(8)) == 0, "a write succeeds only on a correct CRC");
            fuzzCheck(response.isEmpty(), "a write's answer has no data");
        } else {
            const int taken = header + int(response.size()) + 2;
            fuzzCheck(wire.size() >= taken, "the response came from the wire");
            fuzzCheck(crc16(wire.left(taken)) == 0, "a read succeeds only on a correct CRC");
            fuzzCheck(response == wire.mid(header, response.size()),
                      "the response's data are the bytes after its header");
        }
    } else {
        fuzzCheck(result.data.isEmpty(), "a failure has no data");
        fuzzCheck(result.failure.fault == link.lastFailure().fault, "the answer says why");
        fuzzCheck(!describe(result.failure).isEmpty(), "the reason has words");
    }

    // Whatever came before, once the line is quiet the next transaction works.
    fuzzed = false;
    clock.advance(10.0 + shape.delay + answered * answer.size() * port.byteTime());
    const LinkAnswer next = LinkSession(link).ReadHoldingRegisters(1, 0, 24, 1);
    fuzzCheck(next.ok(), "the link recovers");
    fuzzCheck(next.data == QByteArray::fromHex("1234"), "the next answer is read");
    return 0;
}
