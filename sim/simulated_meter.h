#pragma once

#include "sim/meter_display.h"
#include "sim/meter_faults.h"
#include "sim/meter_log.h"
#include "sim/meter_reply.h"

#include <random>
#include <vector>

namespace meterlink {

// The meter at the other end of the line: a Modbus RTU slave answering functions 3, 16
// and 96 from its display, its logger and a small register table. Deterministic for a
// given seed and sequence of receive() calls.
class SimulatedMeter {
public:
    static constexpr int RegisterCount = 300;
    static constexpr int DisplayFirstRegister = 24;
    static constexpr int StateFirstRegister = 76;
    static constexpr int StateRegisterCount = 8;
    static constexpr int KeyRegister = 209;
    static constexpr int MaxLogLength = 8192; // function 96 length argument

    explicit SimulatedMeter(MeterLog log = MeterLog(), int slaveId = 1, quint32 seed = 1);

    int slaveId() const { return slaveId_; }
    void setSlaveId(int id) { slaveId_ = id; }
    // 0: no line timing; framing then allows the gaps of the slowest line (1200 baud).
    void setBaud(int baud) { baud_ = baud; }
    int baud() const { return baud_; }
    // More than 3.5 character times of silence end a partial frame.
    double frameGapSeconds() const;

    const MeterLog& log() const { return log_; }
    void setLog(MeterLog log);
    MeterDisplay& display() { return display_; }
    const MeterDisplay& display() const { return display_; }
    void setFaults(const MeterFaults& faults) { faults_ = faults; }
    // After `reads` answered log reads the log falls silent, so that a test can stop a
    // download at a known point; negative: never.
    void setLogSilentAfter(int reads) {
        silentAfter_ = reads;
        logReads_ = 0;
        silenced_ = false;
    }
    // A log read has gone unanswered since setLogSilentAfter().
    bool logSilenced() const { return silenced_; }
    const MeterFaults& faults() const { return faults_; }

    // Key characters written to the key register, in the order received.
    const QByteArray& keysReceived() const { return keys_; }
    // Requests with a good CRC for this slave (or broadcast), answered or not.
    int requestsSeen() const { return requests_; }
    quint16 holdingRegister(int address, double now) const;

    // Bytes arriving from the master at `now` (seconds on a monotonic scale). Returns the
    // replies to the requests these bytes complete, in order.
    std::vector<MeterReply> receive(const QByteArray& bytes, double now);

private:
    void takeFrames(double now, std::vector<MeterReply>& replies);
    // The answer to one whole frame with a good CRC, before faults; empty for none.
    QByteArray answer(const QByteArray& frame, double now);
    QByteArray readHolding(const QByteArray& frame, double now);
    QByteArray writeMultiple(const QByteArray& frame, double now);
    QByteArray readMemory(const QByteArray& frame);
    QByteArray exception(int function, int code) const;
    MeterReply withFaults(QByteArray answer);

    MeterLog log_;
    MeterDisplay display_;
    MeterFaults faults_;
    int slaveId_;
    int baud_ = 0;
    std::mt19937 rng_;
    std::vector<quint16> registers_;
    QByteArray buffer_;
    double lastByteAt_ = 0.0;
    QByteArray keys_;
    int requests_ = 0;
    int answers_ = 0;
    int silentAfter_ = -1;
    int logReads_ = 0;
    bool silenced_ = false;
};

} // namespace meterlink
